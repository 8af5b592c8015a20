// Surface evaluation runs once per hair root and must not touch the heap.
// This program counts every allocation made through the global operator
// new while a test asks it to.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "geometry/nurbs_surface.h"
#include "geometry/polygon_mesh.h"

namespace {
bool g_counting = false;
int g_allocations = 0;
}  // namespace

namespace {
void* counted_allocation(std::size_t size) noexcept {
    if (g_counting) ++g_allocations;
    return std::malloc(size ? size : 1);
}
}  // namespace

// Every replaceable form, so that each allocation and release pairs up.
void* operator new(std::size_t size) {
    if (void* p = counted_allocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = counted_allocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

TEST(NurbsEvaluation, SurfaceFrameAllocatesNothing) {
    kivNurbSurface s(6, 5, 4, 3);
    const float uk[10] = {0, 0, 0, 0, 0.4f, 0.7f, 1, 1, 1, 1};
    const float vk[8] = {0, 0, 0, 0.5f, 0.8f, 1, 1, 1};
    ASSERT_EQ(s.set_uknots(10, uk), 1);
    ASSERT_EQ(s.set_vknots(8, vk), 1);
    for (int i = 0; i < 30; ++i) s.set_vert(i, kivPoint4(i % 6, i / 6, (i * 7) % 3, 1 + i % 2));
    // The counter must see the library's own allocations, or the check
    // below proves nothing.
    kivPolygons mesh;
    g_counting = true;
    mesh.set_nb_verts(3);
    g_counting = false;
    ASSERT_GE(g_allocations, 1);
    g_allocations = 0;

    kivVector frame[4];
    g_counting = true;
    for (int k = 0; k <= 100; ++k) s.calc_posnrmdir(k / 100.0f, 1.0f - k / 100.0f, frame);
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
    EXPECT_NEAR(frame[1].length(), 1.0f, 1e-5f);
}
