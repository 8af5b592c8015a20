#include "descriptions/texture_cache.h"

#include <deque>
#include <random>

#include "descriptions/descriptions_support.h"
#include "host/korvo_global.h"
#include "imagefile/png_file.h"

namespace {

constexpr float k = 0.003921569f;  // one step of a channel

// Pixel (col, row) of a test image: red = col, green = row, blue = 10 * col + row, alpha 200.
std::uint32_t gradient(int col, int row) {
    return (std::uint32_t(col) << 24) | (std::uint32_t(row) << 16) |
           (std::uint32_t(10 * col + row) << 8) | 200u;
}

// The text of the exception a lookup of channel code of name raises.
std::string failedLookup(const std::string& name, int code = 1, std::string* printed = nullptr) {
    return thrown<FurEFailed>([&] { tmap_lookup_chan(name.c_str(), code, 0.5, 0.5); }, printed);
}

}  // namespace

// Random (u, v) against the pixel rule: column floor(width u) and row
// floor(height v), each limited to the last one, row 0 at v = 0. The images
// are not square and every pixel differs, so a swapped or flipped
// coordinate reads another pixel.
TEST(TextureCache, LookupsReadThePixelAtUAndV) {
    testimg::Scope scope(4);
    std::mt19937 rng(7);
    for (const auto& [w, h] : {std::pair{4, 3}, {7, 2}, {1, 5}}) {
        const std::string name = "grad" + std::to_string(w) + ".tex";
        testimg::add(name, w, h, gradient);
        for (int i = 0; i < 60; ++i) {
            const double u = i == 0 ? 1.0 : (rng() % 1001) / 1000.0;
            const double v = i == 1 ? 1.0 : (rng() % 1001) / 1000.0;
            const std::uint32_t px =
                gradient(std::min(int(w * u), w - 1), std::min(int(h * v), h - 1));
            const auto chan = [&](int c) { return float(px >> (24 - 8 * c) & 255); };
            SCOPED_TRACE(name + " " + std::to_string(u) + " " + std::to_string(v));
            expect_color(tmap_lookup_chans(name.c_str(), 15, u, v), chan(0) * k, chan(1) * k,
                         chan(2) * k, chan(3) * k);
            EXPECT_FLOAT_EQ(tmap_lookup_chan(name.c_str(), 1 << (i % 4), u, v), chan(i % 4) / 255);
            // The colour form packs the masked channels into the first components.
            expect_color(tmap_lookup_chans(name.c_str(), 2 | 8, u, v), chan(1) * k, chan(3) * k, 0,
                         0);
        }
        EXPECT_EQ(1, testimg::reads(name));
    }
    // Outside the unit square nothing is read.
    for (const auto& [u, v] : {std::pair{-0.01, 0.5}, {1.01, 0.5}, {0.5, -1e-9}, {0.5, 1.5}}) {
        EXPECT_EQ(0.0f, tmap_lookup_chan("absent.tex", 1, u, v)) << u << " " << v;
        expect_color(tmap_lookup_chans("absent.tex", 15, u, v), 0, 0, 0, 0);
    }
    EXPECT_EQ(3u, testimg::requests.size());
}

TEST(TextureCache, NameExpansionAndPerFrameNames) {
    SettingsGuard guard;
    testimg::Scope scope(8);
    defs.frame = 7;
    defs.model_name = "group|body:skin";
    const std::vector<std::string> files = {"tex.0007.iff", "tex.$F.iff",
                                            "a7_group_body_skin_group_body_skin.$x$", "0007",
                                            "m[].-003.-3"};
    for (const std::string& file : files) testimg::add_flat(file, 0);
    for (const char* name : {"$tex.$F.iff", "tex.$F.iff", "$a$f_$M_$m.$x$", "$$F"})
        tmap_lookup_chan(name, 1, 0.5, 0.5);
    // Without a model, and with a negative frame.
    defs.frame = -3;
    defs.model_name = nullptr;
    tmap_lookup_chan("$m[$M].$F.$f", 1, 0.5, 0.5);
    EXPECT_EQ(files, testimg::requests);
}

// Random lookups over more files than the cache holds read exactly the
// files that a reference least-recently-used list says are missing. The
// names share two buckets, so evictions take entries from the home slots
// and from the middle and ends of their chains; a cache of 1 evicts and
// reloads on every change of file.
TEST(TextureCache, MatchesReferenceLruOverRandomLookups) {
    for (int size : {1, 2, 3, 5}) {
        testimg::Scope scope(size);
        const int files = 2 * size + 2;
        std::vector<std::string> names;
        for (int i = 0; int(names.size()) < files; ++i) {
            const std::string name = "lru" + std::to_string(i) + ".tex";
            if (hash_it(size, name.c_str()) > 1) continue;
            testimg::add_flat(name, std::uint32_t(names.size()) << 24);
            names.push_back(name);
        }
        std::deque<int> lru;  // front = most recent
        std::vector<int> expectedReads(files, 0);
        std::mt19937 rng(12345u + size);
        for (int step = 0; step < 400; ++step) {
            const int f = int(rng() % files);
            auto it = std::find(lru.begin(), lru.end(), f);
            if (it != lru.end()) {
                lru.erase(it);
            } else {
                ++expectedReads[f];
                if (static_cast<int>(lru.size()) == size) lru.pop_back();
            }
            lru.push_front(f);
            ASSERT_FLOAT_EQ(f / 255.0f, tmap_lookup_chan(names[f].c_str(), 1, 0, 0))
                << "size " << size << " step " << step;
        }
        for (int i = 0; i < files; ++i)
            EXPECT_EQ(expectedReads[i], testimg::reads(names[i])) << size << " " << i;
    }
}

TEST(TextureCache, FailedReadsAndMissingChannels) {
    testimg::Scope scope(2);
    // The host is told, through a command, which file could not be opened.
    std::string commands;
    auto previous = KorvoGlobal::setCommandSink([&](const char* c) { (commands += c) += '\n'; });
    EXPECT_EQ("Reading of tmap missing.tex failed", failedLookup("missing.tex"));
    KorvoGlobal::setCommandSink(previous);
    EXPECT_EQ(commands.size() - 1, commands.find('\n')) << "one command";
    EXPECT_NE(std::string::npos, commands.find("Error, couldn't open missing.tex"));
    // The failed name takes no slot: a later image is read and kept.
    testimg::add("missing.tex", 4, 3, gradient);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(3 / 255.0f, tmap_lookup_chan("missing.tex", 1, 1, 0));
    EXPECT_EQ(2, testimg::reads("missing.tex"));
    // A name too long to expand is never read.
    const std::string name(1100, 'x');
    std::string out;
    EXPECT_EQ("Reading of tmap " + name + " failed", failedLookup(name, 1, &out));
    EXPECT_EQ("ERROR: file name " + name + " is too long\n", out);
    EXPECT_EQ(2u, testimg::requests.size());
    // Channel codes beyond the four channels.
    for (int code : {0, 16, 128}) {
        EXPECT_EQ("File missing.tex doesn't have enough channels",
                  failedLookup("missing.tex", code, &out));
        EXPECT_EQ("ERROR: file missing.tex doesn't have enough channels\n", out) << code;
    }
    // A reader whose buffer is smaller than the size it announces.
    testimg::add("short.tex", 4, 4, gradient);
    tmap_set_reader([](const char* path, tmap_image& image) {
        return testimg::reader(path, image) && ++image.height;  // one row more than it holds
    });
    EXPECT_EQ("Reading of tmap short.tex failed", failedLookup("short.tex"));
}

// The default reader: picture files through the host's image reader.
TEST(TextureCache, DefaultReaderReadsPictureFiles) {
    const std::string path = temp_path(".png");
    // Three columns, two rows, the bottom row (v = 0) first.
    const unsigned char rgba[] = {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 128,
                                  11, 21, 31, 0,   41, 51, 61, 1,   71, 81, 91, 2};
    ASSERT_TRUE(png_write_rgba(path.c_str(), 3, 2, rgba));
    ASSERT_EQ(tmap_default_reader, tmap_set_reader(nullptr));
    ASSERT_EQ(1, tmap_init(2));
    EXPECT_FLOAT_EQ(128 * k, tmap_lookup_chan(path.c_str(), 8, 1.0, 0.0));
    expect_color(tmap_lookup_chans(path.c_str(), 15, 0.5, 1.0), 41 * k, 51 * k, 61 * k, 1 * k);
    tmap_done();
    std::remove(path.c_str());
}
