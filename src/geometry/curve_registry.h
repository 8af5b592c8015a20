// The host's curves, as curve attractors see them.
//
// Inside a host application curve attractors find their curves in its scene
// graph. Here a host registers them by name instead, before the hair
// description file is read: each with its NURBS curve in world space, the
// direction hairs start from at its root (given, or the normal of the
// surface the curve lies on at given surface parameters) and the surface
// itself, which answers closest-point queries. The registry copies what it
// is given; a looked-up curve stays alive for as long as a KorvoDagPath
// refers to it, even when it is unregistered or replaced.
//
// Nothing of the library reads the registry except curve attractors.
#pragma once

#include <memory>
#include <vector>

#include "host/korvo_quaternion.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class kivNurbSurface;
class kivPolygons;

// Highest curve degree the evaluator handles.
constexpr int kKorvoMaxCurveDegree = 15;

// ---------------------------------------------------------------------------
// KorvoNurbsCurve: a NURBS curve of degree p with n control points and
// n + p + 1 knots (non-decreasing). Each control point is a world-space
// position with its weight in w (1 for a plain B-spline). The parameter
// domain runs from knot p to knot n.
struct KorvoNurbsCurve {
    int degree = 3;
    std::vector<double> knots;
    std::vector<KorvoPoint> cvs;

    // True when the sizes agree, the degree is 1 ... kKorvoMaxCurveDegree,
    // the knots do not decrease, the domain is not empty and no weight is
    // 0 or less.
    bool valid() const;
    // Start and end of the parameter domain (zeros for an invalid curve).
    void domain(double& start, double& end) const;
    // The world-space point at parameter t, clamped into the domain.
    // Allocates nothing. The curve must be valid.
    KorvoPoint evaluate(double t) const;
};

// ---------------------------------------------------------------------------
// What a host registers for one curve.
struct KorvoCurveDesc {
    KorvoNurbsCurve curve;
    // The reference direction. When it is the zero vector, the direction
    // is the surface normal at (u, v) below.
    KorvoVector direction;
    // The surface the curve lies on, in world space: at most one of the
    // two (both null: no surface, no offset, and no direction unless given).
    const kivNurbSurface* nurbs = nullptr;
    const kivPolygons* mesh = nullptr;
    // Where the curve's root lies on the surface: for a NURBS surface its
    // parameters scaled to 0 ... 1 over the knot domain; for a mesh its
    // texture coordinates.
    double u = 0.0, v = 0.0;
    // The host's start-position settings: when use_start_position is set
    // and fur_direction is not zero, the reference direction becomes the
    // direction of fur_direction.
    bool use_start_position = false;
    KorvoVector fur_direction;
};

struct KorvoRegisteredCurve;

// ---------------------------------------------------------------------------
// KorvoDagPath: a handle on a registered curve. A default-constructed
// path refers to nothing.
class KorvoDagPath {
  public:
    KorvoDagPath() = default;
    explicit KorvoDagPath(std::shared_ptr<const KorvoRegisteredCurve> curve)
        : curve_(std::move(curve)) {}

    bool isValid() const { return curve_ != nullptr; }
    // The name the curve was registered under ("" for an invalid path).
    const char* partialPathName() const;
    // The curve; the path must be valid.
    const KorvoNurbsCurve& curve() const;
    // The curve's first control vertex in world space (cartesian, w = 1).
    KorvoPoint firstControlVertex() const;
    // The world-space point of the curve at parameter t.
    KorvoPoint pointAtParam(double t) const { return curve().evaluate(t); }
    // End of the curve's parameter domain.
    double domainEnd() const;

    // The reference direction the host gives the curve's root, normalised:
    // the given direction, else the surface normal at the root's surface
    // parameters; then the start-position direction when that is in use.
    // False (and the zero vector) when none can be found.
    bool referenceDirection(KorvoVector& dir) const;
    // The surface point closest to p (tolerance 0.001 on NURBS surfaces).
    // False when the curve has no surface.
    bool closestPoint(const KorvoPoint& p, KorvoPoint& out) const;

  private:
    std::shared_ptr<const KorvoRegisteredCurve> curve_;
};

// --- The registry -----------------------------------------------------------------

// Registers (or replaces) the curve of this name, copying the curve and
// its surface. 0 for a null or empty name or an invalid curve; else 1.
int korvo_curve_register(const char* name, const KorvoCurveDesc& desc);
// Removes the curve of this name; 0 when there is none.
int korvo_curve_unregister(const char* name);
// The curve of this name, or an invalid path.
KorvoDagPath korvo_curve_find(const char* name);
// Removes every curve.
void korvo_curve_registry_clear();

KORVO_EXPORT_END
