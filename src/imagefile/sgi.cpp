#include "imagefile/sgi.h"

#include <cstdio>
#include <cstring>

using namespace kiv_io;

// ---------------------------------------------------------------------------
// Header

void sgi_make_header(SgiHeader& h, const char* path, int lines, int cols, int channels) {
    h = SgiHeader();
    h.magic = kSgiMagic;
    h.storage = 1;
    h.bpc = 1;
    h.dimension = 3;
    h.xsize = uint16_t(cols);
    h.ysize = uint16_t(lines);
    h.zsize = uint16_t(channels);
    h.pixmin = 0;
    h.pixmax = 255;
    h.dummy = 0;
    set_text(h.imagename, sizeof h.imagename, path);
    h.colormap = 0;
}

namespace {

// The header's fields at their offsets.
template <class Header, class Visit>
void header_fields(Header& h, const Visit& field) {
    field(0, h.magic);
    field(2, h.storage);
    field(3, h.bpc);
    field(4, h.dimension);
    field(6, h.xsize);
    field(8, h.ysize);
    field(10, h.zsize);
    field(12, h.pixmin);
    field(16, h.pixmax);
    field(20, h.dummy);
    field(24, h.imagename);
    field(104, h.colormap);
}

}  // namespace

void sgi_pack_header(const SgiHeader& h, uint8_t* out) {
    std::memset(out, 0, kSgiHeaderSize);
    header_fields(h, FieldPacker(out));
}

void sgi_unpack_header(const uint8_t* in, SgiHeader& h) {
    header_fields(h, FieldUnpacker(in));
}

// ---------------------------------------------------------------------------
// Run-length code

bool sgi_encode_row(const unsigned char* data, int n, std::vector<uint8_t>& out) {
    int i = 0;
    int counted = 0;
    while (i < n) {
        int j = i + 1;
        if (j < n && data[j] == data[i]) {
            // A run: equal bytes, at most 127.
            while (j < n && data[j] == data[i] && j - i < 127) ++j;
            out.push_back(uint8_t(j - i));
            out.push_back(data[i]);
        } else {
            // A literal: up to the next pair of equal bytes, at most 127.
            while (j < n && j - i < 127 && !(j + 1 < n && data[j] == data[j + 1])) ++j;
            out.push_back(uint8_t(0x80 | (j - i)));
            out.insert(out.end(), data + i, data + j);
        }
        counted += j - i;
        i = j;
    }
    if (counted != n) std::printf("barfy not %d. It's %d.\n", n, counted);
    if (i != n) {
        std::printf("HEY! data_index != cols. data_index = %d and cols = %d\n", i, n);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Reader

namespace {

// Decodes one row from the cursor's position into row[0 ... cols - 1] and
// returns the number of bytes the code accounts for.
long decode_row(Cursor& in, unsigned char* row, long cols) {
    long p = 0;
    while (p < cols) {
        uint8_t count;
        if (!in.byte(count)) break;
        const long n = count & 0x7F;
        if (n == 0) break;
        if (count & 0x80) {
            const uint8_t* bytes = in.take(std::size_t(n));
            if (!bytes) break;
            for (long j = 0; j < n; ++j)
                if (p + j < cols) row[p + j] = bytes[j];
        } else {
            uint8_t value;
            if (!in.byte(value)) break;
            for (long j = 0; j < n; ++j)
                if (p + j < cols) row[p + j] = value;
        }
        p += n;
    }
    return p;
}

}  // namespace

ReadResult sgi_read(const uint8_t* data, std::size_t size, kivImage* image) {
    const char* path = image->path;
    if (size < std::size_t(kSgiHeaderSize)) {
        report_unreadable("RGB", path, "the header is truncated");
        return kReadFailed;
    }
    SgiHeader* h = new SgiHeader;
    image->header = h;
    sgi_unpack_header(data, *h);
    if (h->magic != kSgiMagic) {
        report_unreadable("RGB", path, "the magic number is wrong");
        return kReadFailed;
    }
    if (h->bpc != 1) {
        std::printf("Sorry. Only 8 bit images are currently supported.\n");
        return kReadFailed;
    }
    if (h->storage > 1) {
        report_unreadable("RGB", path, "the storage type is unknown");
        return kReadFailed;
    }
    const int cols = h->xsize;
    const int lines = h->dimension == 1 ? 1 : h->ysize;
    const int channels = h->dimension < 3 ? 1 : h->zsize;
    if (cols < 1 || lines < 1 || channels < 1 || channels > 4) {
        report_unreadable("RGB", path, "the picture's size or channel count is invalid");
        return kReadFailed;
    }
    image->cols = cols;
    image->lines = lines;
    image->channels = channels;
    if (!plausible_size(lines, row_bytes(cols, channels), size, 128)) {
        report_unreadable("RGB", path, "the picture is too large for the file");
        return kReadFailed;
    }
    const std::size_t planes = std::size_t(lines) * channels;
    Cursor in(data, size);

    if (h->storage == 0) {
        // Verbatim: every row of every channel, cols bytes each.
        if (planes * cols > size - kSgiHeaderSize) {
            report_unreadable("RGB", path, "the pixel data is truncated");
            return kReadFailed;
        }
        if (!allocate_rows(image)) return kReadFailed;
        const uint8_t* pixels = data + kSgiHeaderSize;
        for (int c = 0; c < channels; ++c)
            for (int y = 0; y < lines; ++y)
                std::memcpy(image->rows[y] + std::size_t(c) * cols,
                            pixels + (std::size_t(c) * lines + y) * cols, cols);
        return kReadOk;
    }

    // Run-length: the start table (the length table is not needed).
    if (8 * planes > size - kSgiHeaderSize) {
        report_unreadable("RGB", path, "the offset tables are truncated");
        return kReadFailed;
    }
    if (!allocate_rows(image)) return kReadFailed;
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < lines; ++y) {
            const uint32_t start =
                get_u32(data + kSgiHeaderSize + 4 * (std::size_t(c) * lines + y));
            if (!in.seek(start)) {
                report_unreadable("RGB", path, "a row offset lies beyond the end of the file");
                return kReadFailed;
            }
            const long got = decode_row(in, image->rows[y] + std::size_t(c) * cols, cols);
            if (got != cols) {
                std::printf("***** ERROR: I did't read %d bytes, I read %ld bytes!\n", cols, got);
                return kReadFailed;
            }
        }
    }
    return kReadOk;
}

// ---------------------------------------------------------------------------
// Writer

int sgi_write(const kivImage* image) {
    if (!writable(image)) return 0;
    const int cols = image->cols;
    const int lines = image->lines;
    const int channels = image->channels;
    const std::size_t planes = std::size_t(lines) * channels;

    std::vector<uint8_t> file(kSgiHeaderSize + 8 * planes);
    sgi_pack_header(*static_cast<const SgiHeader*>(image->header), file.data());
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < lines; ++y) {
            const std::size_t index = std::size_t(c) * lines + y;
            const std::size_t start = file.size();
            if (!sgi_encode_row(image->rows[y] + std::size_t(c) * cols, cols, file))
                return encode_failure(image->path, y);
            // The vector may have moved: address the tables afresh.
            uint8_t* starts = file.data() + kSgiHeaderSize;
            set_u32(starts + 4 * index, uint32_t(start));
            set_u32(starts + 4 * (planes + index), uint32_t(file.size() - start));
        }
    }
    return finish_write(image->path, file);
}

// ---------------------------------------------------------------------------
// Header dump

void sgi_dump_header(const SgiHeader& h) {
    std::printf("RGB HEADER:\n\n");
    std::printf("  Name: %.*s\n", int(sizeof h.imagename), h.imagename);
    std::printf("  Width: %d\n", h.xsize);
    std::printf("  Height: %d\n", h.ysize);
    std::printf("  NumChans: %d\n", h.zsize);
    std::printf("  Compressed: %s\n", h.storage == 1 ? "Yes" : "No");
    std::printf("  \n");
}
