// Damaged files: the broken pictures of tests/data/imagefile, each with the
// message it must give (see the README there), and the run-length faults
// that end the process. Cut copies of good files are read in the round trip.
#include "image_support.h"
#include "imagefile/iff_image.h"
#include "imagefile/korvo_image.h"
#include "imagefile/png_file.h"

#include <filesystem>
#include <map>

using namespace image_test;

namespace {

const std::string kBroken = std::string(KORVO_TEST_DATA) + "/imagefile/";

// What a reader says about a file: the front end's printed message (RLA,
// PIC, SGI) or the IFF and PNG readers' reason.
std::string refusal(const std::string& name) {
    const std::string path = kBroken + name;
    const Bytes b = read_bytes(path);
    std::string error = "read";
    const std::string ext = name.substr(name.size() - 4);
    if (ext == ".iff") {
        IffImage image;
        if (!iff_decode(b.data(), b.size(), image, &error)) return error;
    } else if (ext == ".png") {
        int w, h;
        Bytes rgba;
        if (!png_read_rgba(b.data(), b.size(), w, h, rgba, &error)) return error;
    } else {
        kivImage* image = nullptr;
        error = captured([&] { image = kivOpenImageChecked(path.c_str(), 0); });
        if (image) return kivCloseImage(image), "read";
        // "***** ERROR: Unable to read RLA file <path>: why." is kept as "RLA: why."
        error = error.substr(0, error.find('\n'));
        const std::string unreadable = "***** ERROR: Unable to read ";
        if (error.size() > 40 &&
            error.find(unreadable + error.substr(28, 3) + " file " + path + ": ") == 0)
            error = error.substr(28, 3) + error.substr(28 + 9 + path.size());
    }
    return error;
}

}  // namespace

TEST(DamagedImages, EveryBrokenFileGivesItsMessage) {
    const std::map<std::string, std::string> expected = {
        {"iff_16bit.iff", "only 8-bit channels are supported"},
        {"iff_alpha_only.iff", "alpha-only pictures are not supported"},
        {"iff_bad_rle.iff", "a colour tile's run-length code is corrupt"},
        {"iff_chunk_too_large.iff", "a chunk is larger than its group"},
        {"iff_depth_wrong_size.iff", "a depth tile has the wrong size"},
        {"iff_form_truncated.iff", "the file is truncated"},
        {"iff_huge.iff", "the picture is too large for the file"},
        {"iff_no_header.iff", "the TBHD header is missing"},
        {"iff_rle_truncated.iff", "a colour tile's run-length code is corrupt"},
        {"iff_tile_outside.iff", "a colour tile lies outside the picture"},
        {"pic_16bit.pic", "Sorry. Only 8 bit images are currently supported."},
        {"pic_bad_magic.pic", "PIC: the magic number is wrong."},
        {"pic_endless_packets.pic", "PIC: the channel packets are truncated or too many."},
        {"pic_huge.pic", "PIC: the scanlines are truncated."},
        {"pic_matte_overrun.pic", "MATTE: byteindex 3 != cols 2"},
        {"pic_overlong_repeat.pic", "RGB: byteindex 9 != cols 2"},
        {"pic_truncated_scanline.pic", "PIC: the scanlines are truncated."},
        {"pic_zero_width.pic", "PIC: the picture's size is invalid."},
        {"png_bad_crc.png", "IDAT: incorrect data check"},
        {"png_huge.png", "the picture is too large for the file"},
        {"png_truncated.png", "read beyond end of data"},
        {"rla_active_outside.rla", "RLA: the header's windows or channel counts are invalid."},
        {"rla_depth_too_long.rla", "RLA: a depth record does not fit its scanline."},
        {"rla_header_only.rla", "RLA: the scanline offset table is truncated."},
        {"rla_huge_window.rla", "RLA: the picture is too large for the file."},
        {"rla_inverted_window.rla", "RLA: the header's windows or channel counts are invalid."},
        {"rla_offset_past_end.rla", "RLA: a scanline offset lies beyond the end of the file."},
        {"rla_record_truncated.rla", "RLA: a scanline record is truncated."},
        {"rla_run_overflows.rla", "HEY! I don't have 2 bytes in my rle buffer. I have 101 bytes."},
        {"rla_too_many_channels.rla", "RLA: the header's windows or channel counts are invalid."},
        {"sgi_16bit.rgb", "Sorry. Only 8 bit images are currently supported."},
        {"sgi_bad_magic.rgb", "RGB: the magic number is wrong."},
        {"sgi_huge.rgb", "RGB: the picture is too large for the file."},
        {"sgi_row_overflows.rgb", "***** ERROR: I did't read 4 bytes, I read 5 bytes!"},
        {"sgi_short_row.rgb", "***** ERROR: I did't read 4 bytes, I read 3 bytes!"},
        {"sgi_start_past_end.rgb", "RGB: a row offset lies beyond the end of the file."},
        {"sgi_tables_truncated.rgb", "RGB: the offset tables are truncated."},
        {"sgi_verbatim_truncated.rgb", "RGB: the pixel data is truncated."},
        {"unknown.img", ""},
    };
    std::size_t seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kBroken)) {
        const std::string name = entry.path().filename().string();
        if (name == "README.md") continue;
        ++seen;
        EXPECT_EQ(expected.count(name) ? expected.at(name) : "", refusal(name)) << name;
        // The texture reader refuses every one of them too, leaving no picture.
        KorvoImage image;
        unsigned w = 1, h = 1;
        captured([&] { EXPECT_TRUE(image.readFromFile(entry.path().c_str()).error()) << name; });
        image.getSize(w, h);
        EXPECT_TRUE(w == 0 && h == 0 && image.pixels() == nullptr) << name;
    }
    EXPECT_EQ(expected.size(), seen);
}

// Run-length data that overruns its row ends the process with status 0
// after the message (the checked open fails instead).
TEST(DamagedImagesDeathTest, OverrunningRunLengthEndsTheProcess) {
    expect_fatal_open(kBroken + "rla_run_overflows.rla",
                      "HEY! I don't have 2 bytes in my rle buffer. I have 101 bytes.\n"
                      "     Other info:  line=0, chan=0\n");
    expect_fatal_open(kBroken + "pic_overlong_repeat.pic", "RGB: byteindex 9 != cols 2\n");
    expect_fatal_open(kBroken + "pic_matte_overrun.pic", "MATTE: byteindex 3 != cols 2\n");
}
