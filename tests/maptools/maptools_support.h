// Helpers of the map tool tests: a scene written into a temporary directory
// and loaded through the library's readers, and the files the tools write.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

// A directory of its own for each test, with the library's tables made and
// ended around it.
class MapScene : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the three files (scene frame 1) and loads them: the hair
    // description file, the assignment file and the scene, models transformed.
    void Load(const std::string& hair, const std::string& assign, const std::string& scene);

    // A path in the test's directory.
    std::string Path(const std::string& name) const { return dir_ + name; }

    std::string dir_;
};

// Scene text of a rectangle [x0, x1] x [y0, y1] at z = 0 as one polygon whose
// texture coordinates cover u0 ... u1 (all of v); ref, when given, is its
// reference equalizer map.
std::string quad_model(const std::string& name, float x0, float y0, float x1, float y1,
                       float u0 = 0.0f, float u1 = 1.0f, const char* ref = nullptr);
// Scene text of a flat NURBS patch of order 2 in z = 0: four control points
// along u at x = xs[0 ... 3] and four along v at y = 0, 1, 2, 3 (knots
// 0 0 1 2 3 3 both ways). Evenly spaced xs give a uniform parameterisation.
std::string patch_model(const std::string& name, const float xs[4], const char* ref = nullptr);
// The scene file of these models (with a camera).
std::string scene_of(const std::vector<std::string>& models);

// The whole content of a file ("<missing>" when it cannot be read).
std::string slurp(const std::string& path);
void spit(const std::string& path, const std::string& text);
bool exists(const std::string& path);
