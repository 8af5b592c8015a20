// The hair pass's polygon queue: polygons drawn tile by tile leave every
// record of the z-buffer bit for bit as drawing each polygon at once does.
#include <array>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "render/hair_poly_queue.h"
#include "render/shared_rows.h"
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

// Two processes sharing a zone, run one after the other on two z-buffers:
// the one above walks its band and the zone, copying the zone's polygons;
// the one below walks its band only; then they take the zone's units in a
// random order. The rows each drew hold the records of one z-buffer drawn
// at once, the other rows none, and the rows drawn meet. Also when the
// copies outgrow their memory (the process above takes the whole zone in
// mid-pass) and when the process below asks before the copies are
// complete (it takes none).
TEST_F(HairPolyQueue, SharedZonesGiveEachRowTheRecordsOfOneProcess) {
    std::mt19937 rng(21);
    auto r = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    std::vector<std::array<motion_blur_pnt, 4>> polys;
    for (int h = 0; h < 300; ++h) {
        std::array<motion_blur_pnt, 4> v;
        v[0].x = r(-10, 210), v[0].y = r(-10, 160), v[0].z = r(2, 9);
        v[1].x = v[0].x + r(-30, 30), v[1].y = v[0].y + r(-30, 30), v[1].z = r(2, 9);
        v[2] = v[1], v[3] = v[0];
        v[2].x += 2, v[2].y += 1, v[3].x += 2, v[3].y += 1;
        for (motion_blur_pnt& c : v) c.set_color(kivColor(r(0, 1), r(0, 1), r(0, 1), r(0.1f, 1)));
        polys.push_back(v);
    }
    auto draw_all = [&](hair_camera& cam) {
        for (std::size_t i = 0; i < polys.size(); ++i) {
            defs.hair_id = static_cast<int>(i) + 2, defs.hair_random = 0.25f;
            cam.zbuff_hair_poly(4, polys[i].data(), ~0u);
        }
    };
    enum { kTaken, kOverflow, kBelowFirst };
    for (int run : {kTaken, kOverflow, kBelowFirst}) {
        hair_camera cams[3];  // one at once, then the processes above and below the zone
        for (hair_camera& cam : cams) {
            cam.set_aperture(200.0f), cam.set_focal(10.0f);
            cam.set_image_params(150, 200, cam_window(), zcalc());
            ASSERT_EQ(cam.init_zbuffer(), 1);
        }
        defs.region_on = 0;
        draw_all(cams[0]);
        shared_row_claims claims;
        std::vector<hair_raster::queued_poly> copies(1000);
        shared_rows zone;
        zone.row0 = 60, zone.row1 = 101, zone.unit = 8, zone.claims = &claims;
        zone.polys = copies.data(), zone.poly_bytes = copies.size() * sizeof copies[0];
        shared_rows_reset(claims, shared_rows_units(zone));
        const std::size_t room = sizeof(hair_raster::queued_poly) * (run == kOverflow ? 7 : 1000);
        std::unique_ptr<hair_raster::poly_queue> queues[2];
        bool more[2] = {true, true};
        for (int k : {run == kBelowFirst ? 1 : 0, run == kBelowFirst ? 0 : 1}) {
            zone.above = k == 0;
            ASSERT_TRUE(mdldb_share_rows(&zone, 1));
            defs.region_on = 1, defs.region[0] = 0, defs.region[2] = 199;
            defs.region[1] = k == 0 ? 0 : zone.row1, defs.region[3] = k == 0 ? zone.row1 - 1 : 149;
            queues[k].reset(new hair_raster::poly_queue(cams[k + 1].zbuffer(), 4096, room));
            draw_all(cams[k + 1]);
            EXPECT_TRUE(queues[k]->finish());
            int r0 = 0, r1 = 0;
            if (run == kBelowFirst && k == 1) more[1] = queues[1]->draw_unit(&r0, &r1);
        }
        while (more[0] || more[1]) {
            const int k = more[0] && more[1] ? static_cast<int>(rng() % 2) : (more[0] ? 0 : 1);
            int r0 = 0, r1 = 0;
            more[k] = queues[k]->draw_unit(&r0, &r1);
        }
        int drawn[2][2];
        for (int k = 0; k < 2; ++k) {
            queues[k]->owned_rows(drawn[k][0], drawn[k][1]);
            ++drawn[k][1];
        }
        EXPECT_TRUE(drawn[0][0] == 0 && drawn[1][1] == 150);
        EXPECT_EQ(drawn[0][1], drawn[1][0]) << "the processes meet";
        if (run != kTaken) {
            EXPECT_EQ(drawn[0][1], zone.row1) << run << ": the process above takes the zone";
        }
        const hair_zbuffer& one = *cams[0].zbuffer();
        for (int row = 0; row < 150; ++row)
            for (int k = 0; k < 2; ++k) {
                const bool mine = row >= drawn[k][0] && row < drawn[k][1];
                const hair_zbuffer& zb = *cams[k + 1].zbuffer();
                for (int col = 0; col < 200; ++col) {
                    const pixel_slot *ra = one.record(row, col), *rb = zb.record(row, col);
                    ASSERT_TRUE(mine ? ra == rb ||
                                           (ra && rb && !std::memcmp(ra, rb, 16 * one.slots_of(ra)))
                                     : rb == nullptr)
                        << run << ": process " << k << " at " << col << "," << row;
                }
            }
        mdldb_share_rows(nullptr, 0);
    }
}

// Zones shared for one z-buffer's passes: a queue on another z-buffer (the
// final render's estimate between a map's hair and its units) copies
// nothing into them and marks nothing; the queue on their own z-buffer
// copies the polygons that reach them.
TEST_F(HairPolyQueue, SharedZonesBelongToTheirZBuffer) {
    hair_camera cams[2];
    for (hair_camera& cam : cams) {
        cam.set_aperture(200.0f), cam.set_focal(10.0f);
        cam.set_image_params(150, 200, cam_window(), zcalc());
        ASSERT_EQ(cam.init_zbuffer(), 1);
    }
    motion_blur_pnt v[4];
    v[0].x = 20, v[0].y = 40, v[1].x = 180, v[1].y = 120, v[2] = v[1], v[3] = v[0];
    v[2].x += 3, v[3].x += 3;
    for (motion_blur_pnt& c : v) c.z = 5, c.set_color(kivColor(1, 0.5f, 0.25f, 1));
    shared_row_claims claims;
    std::vector<hair_raster::queued_poly> copies(16);
    shared_rows zone;
    zone.row0 = 60, zone.row1 = 101, zone.unit = 8, zone.claims = &claims, zone.above = true;
    zone.polys = copies.data(), zone.poly_bytes = copies.size() * sizeof copies[0];
    shared_rows_reset(claims, shared_rows_units(zone));
    ASSERT_TRUE(mdldb_share_rows(&zone, 1, cams[0].zbuffer()));
    defs.region_on = 1, defs.region[0] = 0, defs.region[1] = 0;
    defs.region[2] = 199, defs.region[3] = zone.row1 - 1;
    for (int k : {1, 0}) {
        hair_raster::poly_queue queue(cams[k].zbuffer());
        cams[k].zbuff_hair_poly(4, v, ~0u);
        EXPECT_EQ(queue.finish(), k == 0) << "queue on z-buffer " << k;
        EXPECT_EQ(claims.state.load(), k == 0 ? kZoneCopied : kZoneWalking);
        EXPECT_EQ(claims.count.load(), k == 0 ? 1u : 0u);
    }
    defs.region_on = 0;
    mdldb_share_rows(nullptr, 0);
}

// The claims on a zone's units from both sides at once: every unit goes
// to one side, the side above takes them from the top, the one below from
// the bottom; malformed zones are refused.
TEST(SharedRows, BothSidesTakeEveryUnitOnce) {
    shared_row_claims claims;
    shared_rows z;
    z.row0 = 10, z.row1 = 10 + 16 * 500 - 3, z.unit = 16, z.claims = &claims;
    const int units = shared_rows_units(z);
    ASSERT_EQ(units, 500);
    for (int round = 0; round < 20; ++round) {
        shared_rows_reset(claims, units);
        std::vector<int> taken[2];
        auto take = [&](int k) {
            shared_rows mine = z;
            mine.above = k == 0;
            for (int u; (u = shared_rows_claim(mine)) >= 0;) taken[k].push_back(u);
        };
        std::thread above(take, 0), below(take, 1);
        above.join(), below.join();
        ASSERT_EQ(taken[0].size() + taken[1].size(), static_cast<std::size_t>(units));
        for (std::size_t i = 0; i < taken[0].size(); ++i)
            ASSERT_EQ(taken[0][i], static_cast<int>(i));
        for (std::size_t i = 0; i < taken[1].size(); ++i)
            ASSERT_EQ(taken[1][i], units - 1 - static_cast<int>(i));
    }
    std::vector<char> memory(256);
    z.polys = memory.data(), z.poly_bytes = memory.size();
    EXPECT_TRUE(mdldb_share_rows(&z, 1));
    z.poly_bytes = 64;
    EXPECT_FALSE(mdldb_share_rows(&z, 1)) << "a zone without room for a copy is refused";
    z.poly_bytes = memory.size(), z.unit = 0;
    EXPECT_EQ(shared_rows_units(z), 0);
    EXPECT_FALSE(mdldb_share_rows(&z, 1)) << "a zone without units is refused";
    mdldb_share_rows(nullptr, 0);
}
