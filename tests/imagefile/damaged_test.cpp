// Damaged files: the broken pictures of tests/data/imagefile, each with the
// message it must give (see the README there), and the run-length faults
// that end the process. Cut copies of good files are read in the round trip.
#include "image_support.h"
#include "imagefile/iff_image.h"
#include "imagefile/korvo_image.h"
#include "imagefile/png_file.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

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
        // The first line, with the file's path written $PATH.
        error = error.substr(0, error.find('\n'));
        if (error.find(path) != std::string::npos)
            error.replace(error.find(path), path.size(), "$PATH");
    }
    return error;
}

}  // namespace

// messages.txt: each broken file's name, a tab, and the exact message or
// reason its reader gives (empty when no reader claims the file).
TEST(DamagedImages, EveryBrokenFileGivesItsMessage) {
    std::map<std::string, std::string> expected;
    std::ifstream table(kBroken + "messages.txt");
    for (std::string name, message;
         std::getline(table, name, '\t') && std::getline(table, message);)
        expected[name] = message;
    ASSERT_EQ(39u, expected.size());
    std::size_t seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kBroken)) {
        const std::string name = entry.path().filename().string();
        if (name == "README.md" || entry.path().extension() == ".txt") continue;
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
// after the message on standard output (the checked open fails instead).
TEST(DamagedImagesDeathTest, OverrunningRunLengthEndsTheProcess) {
    const std::pair<std::string, std::string> cases[] = {
        {"rla_run_overflows.rla",
         "HEY! I don't have 2 bytes in my rle buffer. I have 101 bytes.\n"
         "     Other info:  line=0, chan=0\n"},
        {"pic_overlong_repeat.pic", "RGB: byteindex 9 != cols 2\n"},
        {"pic_matte_overrun.pic", "MATTE: byteindex 3 != cols 2\n"}};
    for (const auto& [name, message] : cases)
        EXPECT_EXIT((dup2(2, 1), kivOpenImage((kBroken + name).c_str(), 0), std::_Exit(3)),
                    testing::ExitedWithCode(0), testing::Eq(message));
}
