// The hair pass's polygon queue: polygons drawn tile by tile leave every
// record of the z-buffer bit for bit as drawing each polygon at once does.
#include <cstring>

#include "render/hair_poly_queue.h"
#include "render_support.h"

namespace {

using hair_raster::poly_queue;

constexpr int kCols = 200, kLines = 150;  // 4 × 3 tiles, the last ones partly outside

// A camera of kCols × kLines samples whose film units are pixels.
void make_camera(hair_camera& cam) {
    cam.set_aperture(static_cast<float>(kCols)), cam.set_focal(10.0f);
    cam.set_image_params(kLines, kCols, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
}

// The camera-space point that projects to pixel (x, y) at depth −z.
kivPoint at(float x, float y, float z) {
    return kivPoint((x - kCols / 2) * -z / 10, (y - kLines / 2) * -z / 10, z);
}

// One hair polygon with the per-hair values it is drawn with.
struct hair_poly {
    int n;
    motion_blur_pnt v[4];
    std::int32_t id;
    float random;
};

// Ribbons of a few segments (one hair id each, so pieces of one hair
// merge), some long across tiles, some past the window, and a few
// triangles; corners at random depths and colours.
std::vector<hair_poly> random_hairs(std::mt19937& rng, int hairs) {
    auto r = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    std::vector<hair_poly> out;
    for (int h = 0; h < hairs; ++h) {
        const float random = r(0, 1), w = r(0.2f, 3);
        float x = r(-10, kCols + 10), y = r(-10, kLines + 10), z = r(2, 9);
        const float step = rng() % 8 == 0 ? 90.0f : 6.0f;
        for (int s = 0, segs = 1 + rng() % 4; s < segs; ++s) {
            const float x2 = x + r(-step, step), y2 = y + r(-step, step), z2 = z + r(-1, 1);
            hair_poly p{rng() % 6 == 0 ? 3 : 4, {}, h + 2, random};
            const float px[4] = {x, x2, x2 + w, x + w}, py[4] = {y, y2, y2 + w, y + w};
            const float pz[4] = {z, z2, z2, z};
            for (int k = 0; k < p.n; ++k) {
                p.v[k].x = px[k], p.v[k].y = py[k], p.v[k].z = pz[k];
                p.v[k].set_color(kivColor(r(0, 1), r(0, 1), r(0, 1), r(0.1f, 1)));
            }
            out.push_back(p);
            x = x2, y = y2, z = z2;
        }
    }
    return out;
}

// Draws the polygons into cam; with a queue of max_bytes when queued.
void draw(hair_camera& cam, std::vector<hair_poly> polys, bool queued, std::size_t max_bytes) {
    poly_queue queue(queued ? cam.zbuffer() : nullptr, max_bytes);
    for (hair_poly& p : polys) {
        defs.hair_id = p.id;
        defs.hair_random = p.random;
        cam.zbuff_hair_poly(p.n, p.v, 0xFFFFFFFFu);
    }
    defs.hair_id = 77;
    queue.flush();
    EXPECT_EQ(defs.hair_id, 77) << "the flush keeps defs' hair values";
}

// Every sample's record of a against b's, byte for byte; returns the
// number of records.
int expect_same_records(const hair_zbuffer& a, const hair_zbuffer& b, const std::string& what) {
    int records = 0;
    const std::size_t bytes = sizeof(pixel_slot) * a.record_slots();
    for (int row = 0; row < kLines; ++row)
        for (int col = 0; col < kCols; ++col) {
            const pixel_slot *ra = a.record(row, col), *rb = b.record(row, col);
            EXPECT_EQ(ra == nullptr, rb == nullptr) << what << " at " << col << "," << row;
            if (ra == nullptr || rb == nullptr) continue;
            ++records;
            EXPECT_EQ(std::memcmp(ra, rb, bytes), 0) << what << " at " << col << "," << row;
            if (std::memcmp(ra, rb, bytes) != 0) return records;
        }
    return records;
}

class HairPolyQueue : public render_test::SettingsTest {};

}  // namespace

// Queued drawing against drawing at once, over the merge modes, short
// lists that overflow, the render region, geometry in front of some hair
// and queues small enough to flush many times during the pass.
TEST_F(HairPolyQueue, TileByTileLeavesEveryRecordAsDrawingAtOnce) {
    std::mt19937 rng(20);
    for (int round = 0; round < 6; ++round) {
        defs.merge_mode = round % 3;
        defs.merge_exponent = 2.5f;
        defs.list_size = 1 + round % 3;
        defs.region_on = round == 4 ? 1 : 0;
        const int region[4] = {13, 30, 150, 129};
        for (int k = 0; k < 4; ++k) defs.region[k] = region[k];
        const std::vector<hair_poly> polys = random_hairs(rng, 400);
        const std::size_t max_bytes = round % 2 ? sizeof(hair_raster::queued_poly) * 97 : 1 << 20;

        hair_camera at_once, tiled;
        make_camera(at_once);
        make_camera(tiled);
        kivPoint wall[4] = {at(40, 20, -5), at(120, 25, -5), at(110, 100, -5), at(45, 90, -5)};
        for (hair_camera* cam : {&at_once, &tiled}) cam->zbuff_poly(4, wall, true, false);
        draw(at_once, polys, false, max_bytes);
        draw(tiled, polys, true, max_bytes);
        const std::string what = "round " + std::to_string(round);
        EXPECT_GT(expect_same_records(*at_once.zbuffer(), *tiled.zbuffer(), what), 5000) << what;
        float depth = 0, coverage = 0;
        at_once.zbuffer()->geometry_depth(60, 80, depth, coverage);
        EXPECT_EQ(coverage, 1.0f) << "the wall covers the middle";
    }
}

// Only the z-buffer a queue is open on queues, one queue at a time, and
// without a queue a polygon is drawn at once.
TEST_F(HairPolyQueue, QueuesOnlyItsOwnZBuffer) {
    hair_camera a, b, empty;
    make_camera(a);
    make_camera(b);
    make_camera(empty);
    std::mt19937 rng(3);
    std::vector<hair_poly> polys = random_hairs(rng, 1);
    hair_poly& p = polys[0];
    {
        poly_queue queue(a.zbuffer());
        poly_queue second(b.zbuffer());
        EXPECT_EQ(poly_queue::open_on(a.zbuffer()), &queue);
        EXPECT_EQ(poly_queue::open_on(b.zbuffer()), nullptr);
        a.zbuff_hair_poly(p.n, p.v, 0xFFFFFFFFu);
        b.zbuff_hair_poly(p.n, p.v, 0xFFFFFFFFu);
        EXPECT_EQ(queue.pending(), 1u);
        EXPECT_EQ(second.pending(), 0u);
        EXPECT_EQ(expect_same_records(*a.zbuffer(), *empty.zbuffer(), "pending"), 0);
        queue.flush();
        EXPECT_EQ(queue.pending(), 0u);
    }
    EXPECT_EQ(poly_queue::open_on(a.zbuffer()), nullptr);
    EXPECT_GT(expect_same_records(*a.zbuffer(), *b.zbuffer(), "flushed"), 0);
}
