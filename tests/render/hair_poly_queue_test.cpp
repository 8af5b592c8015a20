// The hair pass's polygon queue: polygons drawn tile by tile leave every
// record of the z-buffer bit for bit as drawing each polygon at once does.
#include <cstring>

#include "render/hair_poly_queue.h"
#include "render_support.h"

class HairPolyQueue : public render_test::SettingsTest {};

// Ribbon pieces of a few hairs (pieces of one hair merge), some across
// tiles or past the window, with geometry in front of part of them; over
// the merge modes, lists short enough to overflow, the render region and a
// queue small enough to flush many times.
TEST_F(HairPolyQueue, TileByTileLeavesEveryRecordAsDrawingAtOnce) {
    std::mt19937 rng(20);
    auto r = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    for (int round = 0; round < 6; ++round) {
        defs.merge_mode = round % 3, defs.merge_exponent = 2.5f, defs.list_size = 1 + round % 3;
        defs.region_on = round == 4, defs.region[0] = 13, defs.region[1] = 30;
        defs.region[2] = 150, defs.region[3] = 129;
        hair_camera cams[2];  // 200 × 150 samples: 4 × 3 tiles, film units are pixels
        for (hair_camera& cam : cams) {
            cam.set_aperture(200.0f), cam.set_focal(10.0f);
            cam.set_image_params(150, 200, cam_window(), zcalc());
            ASSERT_EQ(cam.init_zbuffer(), 1);
            kivPoint wall[4] = {{-30, -28, -5}, {10, -25, -5}, {5, 12, -5}, {-28, 7, -5}};
            cam.zbuff_poly(4, wall, true, false);
        }
        hair_raster::poly_queue queue(cams[1].zbuffer(), sizeof(hair_raster::queued_poly) * 97);
        for (int h = 0; h < 400; ++h) {
            defs.hair_id = h + 2, defs.hair_random = r(0, 1);
            const float w = r(0.2f, 3), step = rng() % 8 ? 6.0f : 90.0f;
            motion_blur_pnt v[4];
            v[0].x = r(-10, 210), v[0].y = r(-10, 160), v[0].z = r(2, 9);
            for (int s = 0, n = 1 + rng() % 4; s < n; ++s) {
                v[1].x = v[0].x + r(-step, step), v[1].y = v[0].y + r(-step, step);
                v[1].z = v[0].z + r(-1, 1);
                v[2] = v[1], v[3] = v[0];
                v[2].x += w, v[2].y += w, v[3].x += w, v[3].y += w;
                for (motion_blur_pnt& c : v)
                    c.set_color(kivColor(r(0, 1), r(0, 1), r(0, 1), r(0.1f, 1)));
                const int corners = rng() % 6 ? 4 : 3;
                for (hair_camera& cam : cams) cam.zbuff_hair_poly(corners, v, ~0u);
                v[0] = v[1];
            }
        }
        EXPECT_GT(queue.pending(), 0u);
        queue.flush();
        EXPECT_EQ(defs.hair_id, 401) << "the flush keeps defs' hair values";
        int records = 0;
        const hair_zbuffer &a = *cams[0].zbuffer(), &b = *cams[1].zbuffer();
        for (int row = 0; row < 150; ++row)
            for (int col = 0; col < 200; ++col) {
                const pixel_slot *ra = a.record(row, col), *rb = b.record(row, col);
                records += ra != nullptr;
                ASSERT_TRUE(ra == rb || (ra && rb && !std::memcmp(ra, rb, 16 * a.slots_of(ra))))
                    << round << " at " << col << "," << row;
            }
        EXPECT_GT(records, 5000);
        float depth = 0, coverage = 0;
        a.geometry_depth(75, 100, depth, coverage);
        EXPECT_EQ(coverage, 1.0f) << "the wall covers the middle";
    }
}

// A flush gives back the blocks that hold no pending polygon: a full queue
// keeps them all, the pass's last flush only those it draws.
TEST_F(HairPolyQueue, AFlushKeepsOnlyTheBlocksItDraws) {
    const auto zb = render_test::make_zbuffer(150, 200);
    const std::size_t block = hair_raster::kQueueBlock;
    hair_raster::poly_queue queue(zb.get(), sizeof(hair_raster::queued_poly) * 3 * block);
    motion_blur_pnt v[3];
    v[0].z = v[1].z = v[2].z = 5, v[1].x = v[2].x = v[2].y = 3;
    const int box[4] = {0, 0, 3, 3};
    for (std::size_t i = 0; i < 3 * block + block / 2; ++i) ASSERT_TRUE(queue.push(box, 3, v, ~0u));
    EXPECT_TRUE(queue.pending() == block / 2 && queue.blocks() == 3);
    queue.flush();
    EXPECT_TRUE(queue.pending() == 0 && queue.blocks() == 1);
}
