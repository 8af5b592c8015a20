// Guide curves from OBJ files.
//
// Curve attractors (hair_curveAttract) bend hairs along curves that the host
// registers by name. A user gives such curves as polylines in an OBJ file:
//
//   # comment
//   o parting              (or "g parting"): the name of the next curve
//   v 0 0 0                a vertex (x y z, optional w ignored); vertices are
//   v 0 0.5 0.1            numbered from 1 over the whole file
//   l 1 2 3                a polyline through vertices 1, 2, 3 (negative
//                          numbers count back from the last vertex; "i/t"
//                          forms keep the vertex number i)
//
// Each name holds one curve: further "l" lines under the same name continue
// it and must start where it ended. "vn", "vt", "vp", "s", "usemtl" and
// "mtllib" lines are ignored; any other statement is an error. Every curve
// needs two points or more and a length; a name may be used only once.
//
// A curve is registered as a degree-1 curve through its points, parameterised
// by arc length over 0 ... 1, so that a hair at a fraction f of its length is
// compared with the point at the fraction f of the curve's length. Its
// reference direction, the direction a hair starts from at the curve's root,
// is the direction of its first segment: guide curves are drawn outwards from
// the skin.
#pragma once

#include <string>
#include <vector>

#include "host/korvo_quaternion.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Limits of a guide-curve file, checked while it is read.
constexpr long kGuideMaxFileBytes = 64L << 20;  // size of the file
constexpr int kGuideMaxLine = 4096;             // characters on one line
constexpr int kGuideMaxVertices = 1 << 22;      // "v" lines
constexpr int kGuideMaxCurves = 10000;          // named curves
constexpr int kGuideMaxPoints = 100000;         // points of one curve
constexpr int kGuideMaxName = 255;              // characters of a curve name

struct guide_curve {
    std::string name;
    std::vector<KorvoPoint> points;  // world-space points, w = 1
    int line = 0;                    // line of its "o" or "g" statement
};

// Reads every curve of an OBJ file in file order. False, with
// "<path>:<line>: <reason>" (or "<path>: <reason>") in error, when the file
// cannot be read or holds anything wrong; curves is then empty.
bool guide_curves_read(const char* path, std::vector<guide_curve>& curves, std::string& error);

// Registers the curves in the host curve registry under their names,
// replacing curves of the same names. False with the reason in error.
bool guide_curves_register(const std::vector<guide_curve>& curves, std::string& error);

// Reads a file and registers its curves: their number, or -1 with error set.
int guide_curves_load(const char* path, std::string& error);

// Length of a curve's polyline.
double guide_curve_length(const guide_curve& curve);

KORVO_EXPORT_END
