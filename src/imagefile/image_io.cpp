#include "imagefile/image_io.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

namespace kiv_io {

std::size_t row_bytes(int cols, int channels) {
    return std::size_t(cols) * (channels == 5 ? 8 : std::size_t(channels));
}

bool plausible_size(std::size_t lines, std::size_t rowBytes, std::size_t fileSize,
                    std::size_t ratio) {
    if (rowBytes == 0 || lines > kivMaxImageBytes / rowBytes) return false;
    const std::size_t total = lines * rowBytes;
    if (ratio == 0) return true;
    const std::size_t allowance = std::size_t(16) << 20;
    return total <= allowance || total / ratio <= fileSize;
}

bool allocate_rows(kivImage* image) {
    const std::size_t bytes = row_bytes(image->cols, image->channels);
    image->rows = static_cast<unsigned char**>(std::calloc(image->lines, sizeof(unsigned char*)));
    if (!image->rows) return false;
    for (int y = 0; y < image->lines; ++y) {
        image->rows[y] = static_cast<unsigned char*>(std::calloc(bytes, 1));
        if (!image->rows[y]) return false;
    }
    return true;
}

bool read_file(const char* path, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    // Only regular files: a name from a description file may point at a
    // device that never ends (/dev/zero) or a directory.
    struct stat info;
    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(f);
        return false;
    }
    bytes.clear();
    uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool write_file(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

void report_unreadable(const char* format, const char* path, const char* reason) {
    std::printf("***** ERROR: Unable to read %s file %s: %s.\n", format, path, reason);
}

void report_write_failure(const char* path) {
    std::printf("***** IMGLIB FATAL ERROR: Unable to write file successfully: %s\n", path);
}

bool writable(const kivImage* image) {
    if (image->path[0] != '\0' && image->header) return true;
    report_write_failure(image->path);
    return false;
}

int encode_failure(const char* path, int y) {
    std::printf("  Couldn't encode line: %d\n", y);
    report_write_failure(path);
    return 0;
}

int finish_write(const char* path, const std::vector<uint8_t>& bytes) {
    if (write_file(path, bytes)) return 1;
    report_write_failure(path);
    return 0;
}

}  // namespace kiv_io
