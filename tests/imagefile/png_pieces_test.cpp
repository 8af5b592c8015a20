// The PNG writer's pieces: fixed runs of rows that processes holding
// different bands of a picture compress apart, giving the very bytes of
// the whole picture's writer.
#include "image_support.h"
#include "imagefile/png_file.h"

#include <zlib.h>

#include <cstdio>

using namespace image_test;

namespace {

// A random picture whose rows also repeat the row below now and then, so
// that rows pick every filter.
Picture test_picture(int w, int h, std::mt19937& rng) {
    Picture p = random_picture(w, h, 4, rng);
    const std::size_t row = std::size_t(w) * 4;
    for (int y = 1; y < h; ++y)
        if (rng() % 3 == 0) std::copy_n(&p.px[(y - 1) * row], row, &p.px[y * row]);
    return p;
}

// The data of every IDAT chunk of a PNG file, in order.
std::vector<Bytes> idat_chunks(const Bytes& file) {
    std::vector<Bytes> chunks;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::size_t n = be32(file, at);
        if (text_at(file, at + 4, 4) == "IDAT")
            chunks.emplace_back(file.begin() + at + 8, file.begin() + at + 8 + n);
        at += 12 + n;
    }
    return chunks;
}

}  // namespace

TEST(PngPieces, PiecesCoverTheRowsFromTheTopAndWithinFindsExactlyThoseInside) {
    for (int h : {1, 31, 32, 33, 64, 95, 130}) {
        png_pieces png(3, h);
        ASSERT_EQ((h + kPngPieceRows - 1) / kPngPieceRows, png.count());
        int top = h;
        for (int p = 0; p < png.count(); ++p) {
            int r0, r1;
            png.rows(p, r0, r1);
            EXPECT_EQ(top, r1);
            EXPECT_EQ(p == png.count() - 1 ? 0 : r1 - kPngPieceRows, r0);
            top = r0;
        }
        for (int a = 0; a < h; a += 3)
            for (int b = a + 1; b <= h; b += 2) {
                int p0, p1;
                png.within(a, b, p0, p1);
                for (int p = 0; p < png.count(); ++p) {
                    int r0, r1;
                    png.rows(p, r0, r1);
                    EXPECT_EQ(r0 >= a && r1 <= b, p >= p0 && p < p1)
                        << h << " rows " << a << ".." << b << " piece " << p;
                }
            }
    }
    EXPECT_EQ(0, png_pieces(0, 5).count());
    EXPECT_EQ(0, png_pieces(5, 65536).count());
}

TEST(PngPieces, BandsCompressedApartGiveTheWholeWritersBytes) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 8; ++trial) {
        const int w = 1 + int(rng() % 37), h = trial == 0 ? 1 : 2 + int(rng() % 140);
        const Picture pic = test_picture(w, h, rng);
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TempFile whole(".png"), banded(".png");
        ASSERT_TRUE(png_write_rgba(whole.c_str(), w, h, pic.px.data()));
        const Bytes expected = read_bytes(whole.path);

        // Random bands (cuts on and off piece edges); each band's pieces
        // cross a stream, the first process compresses the rest.
        std::vector<int> cuts = {0, h};
        for (int k = int(rng() % 4); k > 0; --k)
            cuts.push_back(rng() % 2 ? int(rng() % h) : h - kPngPieceRows * int(rng() % 5));
        std::sort(cuts.begin(), cuts.end());
        png_pieces first(w, h);
        std::FILE* pipe = std::tmpfile();
        ASSERT_NE(nullptr, pipe);
        for (std::size_t b = 0; b + 1 < cuts.size(); ++b) {
            if (cuts[b] < 0 || cuts[b] >= cuts[b + 1]) continue;
            png_pieces worker(w, h);
            int p0, p1;
            worker.within(cuts[b], cuts[b + 1], p0, p1);
            for (int p = p0; p < p1; ++p) {
                int r0, r1;
                worker.rows(p, r0, r1);
                ASSERT_TRUE(worker.compress(p, &pic.px[std::size_t(r0) * w * 4]));
            }
            ASSERT_TRUE(worker.save(pipe, p0, p1));
            std::rewind(pipe);
            ASSERT_TRUE(first.load(pipe, p0, p1));
            std::rewind(pipe);
        }
        std::fclose(pipe);
        for (int p = 0; p < first.count(); ++p) {
            int r0, r1;
            first.rows(p, r0, r1);
            if (!first.compressed(p)) {
                ASSERT_TRUE(first.compress(p, &pic.px[std::size_t(r0) * w * 4]));
            }
        }
        ASSERT_TRUE(first.write(banded.c_str()));
        EXPECT_TRUE(read_bytes(banded.path) == expected);

        // Each piece inflates on its own into its filtered rows, the first
        // of them with a filter that reads no row above.
        const std::vector<Bytes> chunks = idat_chunks(expected);
        ASSERT_EQ(std::size_t(first.count()), chunks.size());
        for (int p = 0; p < first.count(); ++p) {
            int r0, r1;
            first.rows(p, r0, r1);
            const std::size_t want = std::size_t(r1 - r0) * (4 * w + 1);
            const Bytes& c = chunks[p];
            const std::size_t skip = p == 0 ? 2 : 0, cut = p == first.count() - 1 ? 4 : 0;
            Bytes rows(want + 1);
            z_stream z{};
            ASSERT_EQ(Z_OK, inflateInit2(&z, -15));
            z.next_in = const_cast<Bytes::value_type*>(c.data() + skip);
            z.avail_in = uInt(c.size() - skip - cut);
            z.next_out = rows.data();
            z.avail_out = uInt(rows.size());
            const int status = inflate(&z, Z_SYNC_FLUSH);
            EXPECT_TRUE(status == Z_OK || status == Z_STREAM_END) << p;
            EXPECT_EQ(want, rows.size() - z.avail_out) << p;
            EXPECT_LE(rows[0], 1) << p;
            inflateEnd(&z);
        }
        int rw = 0, rh = 0;
        Bytes back;
        ASSERT_TRUE(png_read_rgba(expected.data(), expected.size(), rw, rh, back));
        EXPECT_TRUE(rw == w && rh == h && back == pic.px);
    }
}

TEST(PngPieces, MissingOrForeignPiecesAreRefused) {
    std::mt19937 rng(5);
    const Picture pic = test_picture(9, 70, rng);
    png_pieces a(9, 70), b(9, 70);
    TempFile out(".png");
    std::FILE* f = std::tmpfile();
    ASSERT_NE(nullptr, f);
    EXPECT_FALSE(a.save(f, 0, 1));  // not compressed yet
    EXPECT_FALSE(a.write(out.c_str()));
    ASSERT_TRUE(a.compress(1, &pic.px[6 * 9 * 4]) && a.compress(2, pic.px.data()));
    EXPECT_FALSE(a.write(out.c_str()));  // piece 0 missing
    ASSERT_TRUE(a.save(f, 1, 3));
    std::rewind(f);
    EXPECT_FALSE(b.load(f, 0, 2));  // the stream holds pieces 1 and 2
    std::rewind(f);
    EXPECT_FALSE(b.load(f, 1, 4));  // one piece more than it holds
    std::rewind(f);
    EXPECT_TRUE(b.load(f, 1, 3) && b.compressed(2) && !b.compressed(0));
    std::fclose(f);
    EXPECT_FALSE(a.compress(3, pic.px.data()) || a.compress(-1, pic.px.data()));
}
