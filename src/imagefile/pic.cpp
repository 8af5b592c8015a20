#include "imagefile/pic.h"

#include <cstdio>
#include <cstring>

using namespace kiv_io;

namespace {

constexpr std::size_t kMaxPackets = 8;

// The header's fields at their offsets (the channel packets follow it).
template <class Header, class Visit>
void header_fields(Header& h, const Visit& field) {
    field(0, h.magic);
    field(4, h.version);
    field(8, h.comment);
    field(88, h.id);
    field(92, h.width);
    field(94, h.height);
    field(96, h.ratio);
    field(100, h.fields);
    field(102, h.pad);
}

}  // namespace

// ---------------------------------------------------------------------------
// Header

void pic_make_header(PicHeader& h, int lines, int cols, int channels) {
    h = PicHeader();
    h.magic = kPicMagic;
    h.version = 0.0f;
    set_text(h.comment, sizeof h.comment, "No comment.");
    std::memcpy(h.id, "PICT", 4);
    h.width = uint16_t(cols);
    h.height = uint16_t(lines);
    h.ratio = 1.0f;
    h.fields = 0;
    h.pad = 0;
    const uint8_t colour = kPicRed | kPicGreen | kPicBlue;
    if (channels == 4) {
        h.packets = {{1, 8, 2, colour}, {0, 8, 2, kPicMatte}};
    } else {
        h.packets = {{0, 8, 2, colour}};
    }
}

void pic_pack_header(const PicHeader& h, uint8_t* out) {
    std::memset(out, 0, kPicHeaderSize);
    header_fields(h, FieldPacker(out));
}

void pic_unpack_header(const uint8_t* in, PicHeader& h) {
    header_fields(h, FieldUnpacker(in));
    h.packets.clear();
}

// ---------------------------------------------------------------------------
// Mixed run-length code

bool pic_encode_packet(const unsigned char* const* planes, int pixelSize, int cols,
                       std::vector<uint8_t>& out) {
    auto same = [&](int a, int b) {
        for (int k = 0; k < pixelSize; ++k)
            if (planes[k][a] != planes[k][b]) return false;
        return true;
    };
    auto pixel = [&](int i) {
        for (int k = 0; k < pixelSize; ++k) out.push_back(planes[k][i]);
    };
    int consumed = 0;
    auto literal = [&](int from, int to) {
        while (from < to) {
            const int count = to - from < 128 ? to - from : 128;
            out.push_back(uint8_t(count - 1));
            for (int i = from; i < from + count; ++i) pixel(i);
            from += count;
            consumed += count;
        }
    };

    int pending = 0;  // first pixel of the literal being collected
    int i = 0;
    while (i < cols) {
        int j = i + 1;
        while (j < cols && j - i < 65535 && same(j, i)) ++j;
        const int count = j - i;
        if (count >= 2) {
            literal(pending, i);
            if (count < 128) {
                out.push_back(uint8_t(count + 127));
            } else {
                out.push_back(128);
                put_u16(out, unsigned(count));
            }
            pixel(i);
            consumed += count;
            i = pending = j;
        } else if (++i - pending == 128) {
            literal(pending, i);
            pending = i;
        }
    }
    literal(pending, cols);
    if (consumed != cols) {
        std::printf("%s HEY! dataindex %d != cols %d\n", pixelSize == 3 ? "RGB" : "MATTE", consumed,
                    cols);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Reader

namespace {

enum DecodeResult { kDecoded, kTruncated, kMismatch };

// Decodes one packet of a scanline into planes[0 ... pixelSize - 1]; reached
// is the number of pixels the data accounts for.
DecodeResult decode_packet(Cursor& in, bool runLength, unsigned char* const* planes, int pixelSize,
                           long cols, long& reached) {
    auto store = [&](long p, const uint8_t* pixel) {
        if (p < cols)
            for (int k = 0; k < pixelSize; ++k) planes[k][p] = pixel[k];
    };
    long p = 0;
    if (!runLength) {
        const uint8_t* bytes = in.take(std::size_t(cols) * pixelSize);
        if (!bytes) return kTruncated;
        for (; p < cols; ++p) store(p, bytes + p * pixelSize);
        reached = p;
        return kDecoded;
    }
    while (p < cols) {
        uint8_t n;
        if (!in.byte(n)) return kTruncated;
        if (n < 128) {
            const uint8_t* pixels = in.take(std::size_t(n + 1) * pixelSize);
            if (!pixels) return kTruncated;
            for (int j = 0; j <= n; ++j, ++p) store(p, pixels + j * pixelSize);
            continue;
        }
        long count = n - 127;
        if (n == 128) {
            uint16_t m;
            if (!in.u16(m)) return kTruncated;
            count = m;
        }
        const uint8_t* pixel = in.take(pixelSize);
        if (!pixel) return kTruncated;
        for (long j = 0; j < count; ++j, ++p) store(p, pixel);
    }
    reached = p;
    return p == cols ? kDecoded : kMismatch;
}

}  // namespace

ReadResult pic_read(const uint8_t* data, std::size_t size, kivImage* image) {
    const char* path = image->path;
    if (size < std::size_t(kPicHeaderSize)) {
        report_unreadable("PIC", path, "the header is truncated");
        return kReadFailed;
    }
    PicHeader* h = new PicHeader;
    image->header = h;
    pic_unpack_header(data, *h);
    if (h->magic != kPicMagic) {
        report_unreadable("PIC", path, "the magic number is wrong");
        return kReadFailed;
    }

    // Channel packets, up to the first that is not chained.
    Cursor in(data, size);
    in.seek(kPicHeaderSize);
    for (;;) {
        const uint8_t* p = in.take(4);
        if (!p || h->packets.size() == kMaxPackets) {
            report_unreadable("PIC", path, "the channel packets are truncated or too many");
            return kReadFailed;
        }
        h->packets.push_back({p[0], p[1], p[2], p[3]});
        if (p[0] == 0) break;
    }
    for (const PicPacket& packet : h->packets) {
        if (packet.size != 8) {
            std::printf("Sorry. Only 8 bit images are currently supported.\n");
            return kReadFailed;
        }
    }

    const int cols = h->width;
    const int lines = h->height;
    const int channels = h->packets.size() == 1 ? 3 : 4;
    const bool runLength = h->packets[0].type != 0;
    if (cols < 1 || lines < 1) {
        report_unreadable("PIC", path, "the picture's size is invalid");
        return kReadFailed;
    }
    // Every scanline takes at least one code per packet (a repeat: count
    // and pixel), or all its pixels when uncompressed.
    const std::size_t matte = channels == 4 ? 1 : 0;
    const std::size_t lineMinimum = runLength ? 4 + 2 * matte : std::size_t(cols) * (3 + matte);
    if (std::size_t(lines) * lineMinimum > in.remaining()) {
        report_unreadable("PIC", path, "the scanlines are truncated");
        return kReadFailed;
    }
    image->cols = cols;
    image->lines = lines;
    image->channels = channels;
    // The same bound as the other readers: at most 128 bytes of picture per
    // byte of file beyond 16 MiB. Long repeats can pack a flat picture
    // tighter than that; such pictures are refused rather than letting a
    // small file claim a gigabyte.
    if (!plausible_size(lines, row_bytes(cols, channels), size, 128) || !allocate_rows(image)) {
        report_unreadable("PIC", path, "the picture is too large");
        return kReadFailed;
    }

    // Scanlines, top row first.
    for (int y = lines - 1; y >= 0; --y) {
        unsigned char* row = image->rows[y];
        unsigned char* colour[3] = {row, row + cols, row + 2 * std::size_t(cols)};
        unsigned char* alpha[1] = {row + 3 * std::size_t(cols)};
        long reached = 0;
        DecodeResult result = decode_packet(in, runLength, colour, 3, cols, reached);
        if (result == kMismatch) {
            std::printf("RGB: byteindex %ld != cols %d\n", reached, cols);
            return kReadCorrupt;
        }
        if (result == kDecoded && channels == 4) {
            result = decode_packet(in, runLength, alpha, 1, cols, reached);
            if (result == kMismatch) {
                std::printf("MATTE: byteindex %ld != cols %d\n", reached, cols);
                return kReadCorrupt;
            }
        }
        if (result == kTruncated) {
            report_unreadable("PIC", path, "the scanlines are truncated");
            return kReadFailed;
        }
    }
    return kReadOk;
}

// ---------------------------------------------------------------------------
// Writer

int pic_write(const kivImage* image) {
    if (!writable(image)) return 0;
    const PicHeader& h = *static_cast<const PicHeader*>(image->header);
    const int cols = image->cols;
    std::vector<uint8_t> file(kPicHeaderSize);
    pic_pack_header(h, file.data());
    for (const PicPacket& packet : h.packets) {
        file.push_back(packet.chained);
        file.push_back(packet.size);
        file.push_back(packet.type);
        file.push_back(packet.channel);
    }
    for (int y = image->lines - 1; y >= 0; --y) {
        const unsigned char* row = image->rows[y];
        const unsigned char* colour[3] = {row, row + cols, row + 2 * std::size_t(cols)};
        const unsigned char* alpha[1] = {row + 3 * std::size_t(cols)};
        if (!pic_encode_packet(colour, 3, cols, file) ||
            (image->channels == 4 && !pic_encode_packet(alpha, 1, cols, file)))
            return encode_failure(image->path, y);
    }
    return finish_write(image->path, file);
}

// ---------------------------------------------------------------------------
// Header dump

void pic_dump_header(const PicHeader& h) {
    std::printf("PIC HEADER:\n\n");
    std::printf("  Version: %f\n", double(h.version));
    std::printf("  Comment: %.*s\n", int(sizeof h.comment), h.comment);
    std::printf("  Width:   %d\n", h.width);
    std::printf("  Height:  %d\n", h.height);
    std::printf("\n  Channels:\n");
    for (std::size_t i = 0; i < h.packets.size(); ++i) {
        const PicPacket& packet = h.packets[i];
        std::printf("    #%d\n", int(i));
        std::printf("    chained: %d\n", packet.chained);
        std::printf("    type: %s\n", packet.type != 0 ? "rle" : "uncompressed");
        std::printf("    channel: ");
        if (packet.channel & kPicRed) std::printf("RED ");
        if (packet.channel & kPicGreen) std::printf("GREEN ");
        if (packet.channel & kPicBlue) std::printf("BLUE");
        if (packet.channel & kPicMatte) std::printf("MATTE ");
        std::printf("\n");
    }
}
