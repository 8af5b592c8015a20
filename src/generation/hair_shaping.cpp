#include "generation/hair_shaping.h"

#include <new>

#include "generation/attractors.h"

namespace {

// --- Work records ------------------------------------------------------------
control_hair g_work[2];
int g_capacity = 0;                      // points per work hair
hair_attract_curve* g_active = nullptr;  // active attractor curves of a hair
int g_active_capacity = 0;

}  // namespace

bool hair_shape_prepare(int max_segments) {
    hair_shape_release();
    const int points = (max_segments > 0 ? max_segments : 0) + 1;
    if (!g_work[0].allocate(points) || !g_work[1].allocate(points)) {
        hair_shape_release();
        return false;
    }
    g_capacity = points;
    const int curves = attractdb_count();
    if (curves > 0) {
        g_active = new (std::nothrow) hair_attract_curve[curves];
        if (g_active == nullptr) {
            hair_shape_release();
            return false;
        }
        g_active_capacity = curves;
    }
    return true;
}

void hair_shape_release() {
    g_work[0].release();
    g_work[1].release();
    g_capacity = 0;
    delete[] g_active;
    g_active = nullptr;
    g_active_capacity = 0;
}

control_hair* hair_shape_work_hair(int sample) {
    if (g_capacity == 0) return nullptr;
    return &g_work[sample ? 1 : 0];
}

int hair_shape_capacity() {
    return g_capacity;
}
