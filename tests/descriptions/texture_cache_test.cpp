#include "descriptions/texture_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "descriptions/cache_support.h"
#include "foundation/fur_exception.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "host/korvo_global.h"
#include "imagefile/png_file.h"

namespace {

// Pixel (col, row) of a 4 x 3 test image: red = col, green = row, blue =
// 10 * col + row, alpha 200.
std::uint32_t Gradient(int col, int row) {
    return (std::uint32_t(col) << 24) | (std::uint32_t(row) << 16) |
           (std::uint32_t(10 * col + row) << 8) | 200u;
}

// Names that fall into the same bucket of a cache of n entries.
std::vector<std::string> CollidingNames(int n, int count) {
    std::vector<std::string> names;
    const int bucket = hash_it(n, "collide0.tex");
    for (int i = 0; static_cast<int>(names.size()) < count; ++i) {
        const std::string name = "collide" + std::to_string(i) + ".tex";
        if (hash_it(n, name.c_str()) == bucket) names.push_back(name);
    }
    return names;
}

std::string CaptureLookupFailure(const char* name, std::string* what) {
    testing::internal::CaptureStdout();
    try {
        tmap_lookup_chan(name, 1, 0.5, 0.5);
        *what = "no exception";
    } catch (const FurEFailed& e) {
        *what = e.message().asChar();
    }
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(TextureCache, ReadsChannelsAtSurfaceCoordinates) {
    testimg::Scope scope(4);
    testimg::add("grad.tex", 4, 3, Gradient);
    // Column = floor(4 u), row = floor(3 v).
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 1, 0.5, 0.0), 2 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 2, 0.0, 0.4), 1 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 4, 0.3, 0.7), 12 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 8, 0.3, 0.7), 200 / 255.0f);
    // u = 1 reads the last column and v = 1 the last row.
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 1, 1.0, 1.0), 3 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan("grad.tex", 2, 1.0, 1.0), 2 / 255.0f);
    EXPECT_EQ(testimg::reads("grad.tex"), 1);
}

TEST(TextureCache, ColourFormPacksTheMaskedChannels) {
    testimg::Scope scope(2);
    testimg::add("grad.tex", 4, 3, Gradient);
    const kivColor all = tmap_lookup_chans("grad.tex", 15, 0.75, 0.5);  // column 3, row 1
    EXPECT_FLOAT_EQ(all.r, 3 * 0.003921569f);
    EXPECT_FLOAT_EQ(all.g, 1 * 0.003921569f);
    EXPECT_FLOAT_EQ(all.b, 31 * 0.003921569f);
    EXPECT_FLOAT_EQ(all.a, 200 * 0.003921569f);
    // Green and matte go to the first two components.
    const kivColor gm = tmap_lookup_chans("grad.tex", 2 | 8, 0.75, 0.5);
    EXPECT_FLOAT_EQ(gm.r, 1 * 0.003921569f);
    EXPECT_FLOAT_EQ(gm.g, 200 * 0.003921569f);
    EXPECT_EQ(gm.b, 0.0f);
    EXPECT_EQ(gm.a, 0.0f);
}

TEST(TextureCache, OutsideTheUnitSquareReadsNothing) {
    testimg::Scope scope(2);
    const double outside[][2] = {{-0.01, 0.5}, {1.01, 0.5}, {0.5, -1e-9}, {0.5, 1.5}};
    for (const auto& uv : outside) {
        EXPECT_EQ(tmap_lookup_chan("absent.tex", 1, uv[0], uv[1]), 0.0f) << uv[0] << " " << uv[1];
        const kivColor c = tmap_lookup_chans("absent.tex", 15, uv[0], uv[1]);
        EXPECT_EQ(c.r + c.g + c.b + c.a, 0.0f);
    }
    EXPECT_TRUE(testimg::requests().empty());
}

TEST(TextureCache, NameExpansion) {
    SettingsGuard guard;
    testimg::Scope scope(8);
    defs.frame = 7;
    defs.model_name = "group|body:skin";
    for (const char* file :
         {"tex.0007.iff", "tex.$F.iff", "a7_group_body_skin_group_body_skin.$x$", "0007"})
        testimg::add_flat(file, 1, 1, 0, 0, 0, 0);
    for (const char* name : {"$tex.$F.iff", "tex.$F.iff", "$a$f_$M_$m.$x$", "$$F"})
        tmap_lookup_chan(name, 1, 0.5, 0.5);
    const std::vector<std::string> expected = {"tex.0007.iff", "tex.$F.iff",
                                               "a7_group_body_skin_group_body_skin.$x$", "0007"};
    EXPECT_EQ(testimg::requests(), expected);
}

TEST(TextureCache, ExpansionWithoutModelAndNegativeFrame) {
    SettingsGuard guard;
    testimg::Scope scope(4);
    defs.frame = -3;
    defs.model_name = nullptr;
    testimg::add_flat("m[].-003.-3", 1, 1, 0, 0, 0, 0);
    tmap_lookup_chan("$m[$M].$F.$f", 1, 0.5, 0.5);
    ASSERT_EQ(testimg::requests().size(), 1u);
    EXPECT_EQ(testimg::requests()[0], "m[].-003.-3");
}

TEST(TextureCache, PerFrameNamesLoadEachFrameOnce) {
    SettingsGuard guard;
    testimg::Scope scope(4);
    testimg::add_flat("f.0001.tex", 1, 1, 10, 0, 0, 0);
    testimg::add_flat("f.0002.tex", 1, 1, 20, 0, 0, 0);
    for (int frame : {1, 2, 1, 2, 2}) {
        defs.frame = frame;
        EXPECT_FLOAT_EQ(tmap_lookup_chan("$f.$F.tex", 1, 0.0, 0.0), frame * 10 / 255.0f);
    }
    EXPECT_EQ(testimg::reads("f.0001.tex"), 1);
    EXPECT_EQ(testimg::reads("f.0002.tex"), 1);
}

TEST(TextureCache, CacheOfOneEvictsAndReloads) {
    testimg::Scope scope(1);
    testimg::add_flat("A.tex", 2, 2, 255, 0, 0, 0);
    testimg::add_flat("B.tex", 2, 2, 0, 255, 0, 0);
    EXPECT_EQ(tmap_lookup_chan("A.tex", 1, 0.5, 0.5), 1.0f);
    EXPECT_EQ(tmap_lookup_chan("A.tex", 1, 0.5, 0.5), 1.0f);
    EXPECT_EQ(tmap_lookup_chan("B.tex", 2, 0.5, 0.5), 1.0f);
    EXPECT_EQ(tmap_lookup_chan("A.tex", 2, 0.5, 0.5), 0.0f);
    EXPECT_EQ(testimg::reads("A.tex"), 2);
    EXPECT_EQ(testimg::reads("B.tex"), 1);
}

TEST(TextureCache, CollisionsUseOverflowSlots) {
    testimg::Scope scope(3);
    const std::vector<std::string> names = CollidingNames(3, 4);
    for (std::size_t i = 0; i < names.size(); ++i)
        testimg::add_flat(names[i], 1, 1, static_cast<std::uint8_t>(i * 50), 0, 0, 0);

    // Three names of one bucket: one home slot, two overflow slots.
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 3; ++i)
            EXPECT_FLOAT_EQ(tmap_lookup_chan(names[i].c_str(), 1, 0, 0), i * 50 / 255.0f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(testimg::reads(names[i]), 1) << i;

    // A fourth evicts the least recently used, names[0] in the home slot:
    // its chain moves up and stays reachable.
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[3].c_str(), 1, 0, 0), 150 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[1].c_str(), 1, 0, 0), 50 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[2].c_str(), 1, 0, 0), 100 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[3].c_str(), 1, 0, 0), 150 / 255.0f);
    EXPECT_EQ(testimg::reads(names[1]), 1);
    EXPECT_EQ(testimg::reads(names[2]), 1);
    EXPECT_EQ(testimg::reads(names[3]), 1);
    // names[0] comes back, evicting names[1] from the middle of the chain.
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[0].c_str(), 1, 0, 0), 0.0f);
    EXPECT_EQ(testimg::reads(names[0]), 2);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[2].c_str(), 1, 0, 0), 100 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(names[3].c_str(), 1, 0, 0), 150 / 255.0f);
    EXPECT_EQ(testimg::reads(names[2]), 1);
    EXPECT_EQ(testimg::reads(names[1]), 1);
}

// Random lookups over more files than the cache holds read exactly the
// files that a reference least-recently-used list says are missing.
TEST(TextureCache, MatchesReferenceLruOverRandomLookups) {
    for (int size : {1, 2, 3, 5}) {
        testimg::Scope scope(size);
        const int files = 2 * size + 2;
        std::vector<std::string> names;
        for (int i = 0; i < files; ++i) {
            names.push_back("lru" + std::to_string(i) + ".tex");
            testimg::add_flat(names.back(), 1, 1, static_cast<std::uint8_t>(i), 0, 0, 0);
        }
        std::deque<int> lru;  // front = most recent
        std::vector<int> expected_reads(files, 0);
        unsigned seed = 12345u + size;
        for (int step = 0; step < 400; ++step) {
            seed = seed * 1103515245u + 12345u;
            const int f = static_cast<int>((seed >> 16) % files);
            auto it = std::find(lru.begin(), lru.end(), f);
            if (it != lru.end()) {
                lru.erase(it);
            } else {
                ++expected_reads[f];
                if (static_cast<int>(lru.size()) == size) lru.pop_back();
            }
            lru.push_front(f);
            ASSERT_FLOAT_EQ(tmap_lookup_chan(names[f].c_str(), 1, 0, 0), f / 255.0f)
                << "size " << size << " step " << step;
        }
        for (int i = 0; i < files; ++i)
            EXPECT_EQ(testimg::reads(names[i]), expected_reads[i]) << size << " " << i;
    }
}

TEST(TextureCache, UnreadableImageFailsAndIsNotKept) {
    testimg::Scope scope(2);
    std::vector<std::string> commands;
    auto previous = KorvoGlobal::setCommandSink([&](const char* c) { commands.push_back(c); });
    std::string what;
    const std::string out = CaptureLookupFailure("missing.tex", &what);
    KorvoGlobal::setCommandSink(previous);
    EXPECT_EQ(what, "Reading of tmap missing.tex failed");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_NE(commands[0].find("Error, couldn't open missing.tex"), std::string::npos);
    EXPECT_EQ(out, "");

    // The failed name takes no slot: a later image is read and kept.
    testimg::add_flat("missing.tex", 1, 1, 255, 0, 0, 0);
    EXPECT_EQ(tmap_lookup_chan("missing.tex", 1, 0, 0), 1.0f);
    EXPECT_EQ(tmap_lookup_chan("missing.tex", 1, 0, 0), 1.0f);
    EXPECT_EQ(testimg::reads("missing.tex"), 2);
}

TEST(TextureCache, ReaderBufferSmallerThanItsSizeIsRejected) {
    testimg::Scope scope(2);
    testimg::add("short.tex", 4, 4, Gradient);
    // Announce a bigger picture than the pixels hold.
    tmap_set_reader([](const char* path, tmap_image& image) {
        if (!testimg::reader(path, image)) return false;
        image.height += 1;
        return true;
    });
    auto previous = KorvoGlobal::setCommandSink([](const char*) {});
    std::string what;
    CaptureLookupFailure("short.tex", &what);
    KorvoGlobal::setCommandSink(previous);
    EXPECT_EQ(what, "Reading of tmap short.tex failed");
}

TEST(TextureCache, MissingChannelIsAnError) {
    testimg::Scope scope(2);
    testimg::add("grad.tex", 4, 3, Gradient);
    for (int code : {0, 16, 128}) {
        testing::internal::CaptureStdout();
        EXPECT_THROW(
            {
                try {
                    tmap_lookup_chan("grad.tex", code, 0.5, 0.5);
                } catch (const FurEFailed& e) {
                    EXPECT_STREQ(e.message().asChar(),
                                 "File grad.tex doesn't have enough channels");
                    throw;
                }
            },
            FurEFailed)
            << code;
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "ERROR: file grad.tex doesn't have enough channels\n");
    }
    testing::internal::CaptureStdout();
    EXPECT_THROW(tmap_lookup_chans("grad.tex", 1 | 32, 0.5, 0.5), FurEFailed);
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
}

TEST(TextureCache, TooLongNameFailsCleanly) {
    testimg::Scope scope(2);
    const std::string name(1100, 'x');
    std::string what;
    const std::string out = CaptureLookupFailure(name.c_str(), &what);
    EXPECT_EQ(what, "Reading of tmap " + name + " failed");
    EXPECT_EQ(out, "ERROR: file name " + name + " is too long\n");
    EXPECT_TRUE(testimg::requests().empty());
}

TEST(TextureCache, InitAndDone) {
    EXPECT_EQ(tmap_init(0), 0);
    testing::internal::CaptureStdout();
    EXPECT_THROW(tmap_lookup_chan("a.tex", 1, 0.5, 0.5), FurEFailed);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FATAL: tmap cache used before tmap_init\n");
    // Out-of-range coordinates need no cache.
    EXPECT_EQ(tmap_lookup_chan("a.tex", 1, 2.0, 0.5), 0.0f);
    testimg::Scope scope(3);
    EXPECT_EQ(tmap_init(3), 1);  // again: the old cache is released
    tmap_done();
    tmap_done();  // twice is harmless
}

// The default reader: picture files through the host's image reader.
TEST(TextureCache, DefaultReaderReadsPictureFiles) {
    const std::string path = testing::TempDir() + "DefaultReaderReadsPictureFiles.png";
    // Three columns, two rows, the bottom row (v = 0) first.
    const unsigned char rgba[] = {10, 20, 30, 255, 40, 50, 60, 255, 70, 80, 90, 128,
                                  11, 21, 31, 0,   41, 51, 61, 1,   71, 81, 91, 2};
    ASSERT_TRUE(png_write_rgba(path.c_str(), 3, 2, rgba));
    ASSERT_EQ(tmap_set_reader(nullptr), tmap_default_reader);
    ASSERT_EQ(tmap_init(2), 1);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(path.c_str(), 1, 0.0, 0.0), 10 / 255.0f);
    EXPECT_FLOAT_EQ(tmap_lookup_chan(path.c_str(), 8, 1.0, 0.0), 128 / 255.0f);
    const kivColor top = tmap_lookup_chans(path.c_str(), 15, 0.5, 1.0);
    EXPECT_FLOAT_EQ(top.r, 41 * 0.003921569f);
    EXPECT_FLOAT_EQ(top.b, 61 * 0.003921569f);
    EXPECT_FLOAT_EQ(top.a, 1 * 0.003921569f);

    // A corrupt picture is a failed read.
    const std::string bad = std::string(KORVO_TEST_DATA) + "/imagefile/iff_bad_rle.iff";
    std::vector<std::string> commands;
    auto previous = KorvoGlobal::setCommandSink([&](const char* c) { commands.push_back(c); });
    std::string what;
    CaptureLookupFailure(bad.c_str(), &what);
    KorvoGlobal::setCommandSink(previous);
    EXPECT_EQ(what, "Reading of tmap " + bad + " failed");
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_NE(commands[0].find("couldn't open " + bad), std::string::npos);
    tmap_done();
    std::remove(path.c_str());
}
