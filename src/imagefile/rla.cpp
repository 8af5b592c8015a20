#include "imagefile/rla.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

using namespace kiv_io;

namespace {

// The header's fields at their offsets.
template <class Header, class Visit>
void header_fields(Header& h, const Visit& field) {
    field(0, h.windowLeft);
    field(2, h.windowRight);
    field(4, h.windowBottom);
    field(6, h.windowTop);
    field(8, h.activeLeft);
    field(10, h.activeRight);
    field(12, h.activeBottom);
    field(14, h.activeTop);
    field(16, h.frame);
    field(18, h.storageType);
    field(20, h.numChan);
    field(22, h.numMatte);
    field(24, h.numAux);
    field(26, h.revision);
    field(28, h.gamma);
    field(44, h.redPri);
    field(68, h.greenPri);
    field(92, h.bluePri);
    field(116, h.whitePt);
    field(140, h.jobNum);
    field(144, h.name);
    field(272, h.desc);
    field(400, h.program);
    field(464, h.machine);
    field(496, h.user);
    field(528, h.date);
    field(548, h.aspect);
    field(572, h.aspectRatio);
    field(580, h.chan);
    field(612, h.field);
    field(614, h.time);
    field(626, h.filter);
    field(658, h.chanBits);
    field(660, h.matteType);
    field(662, h.matteBits);
    field(664, h.auxType);
    field(666, h.auxBits);
    field(668, h.aux);
    field(700, h.space);
    field(736, h.next);
}

// "%b %#d %Y" of today's local date: month, day without a leading zero, year.
void format_date(char* field, std::size_t n) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char month[16] = "";
    std::strftime(month, sizeof month, "%b", &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s %d %d", month, local.tm_mday, local.tm_year + 1900);
    set_text(field, n, text);
}

}  // namespace

// ---------------------------------------------------------------------------
// Header

void rla_make_header(RlaHeader& h, const char* path, int lines, int cols, float gamma, bool depth) {
    h = RlaHeader();
    h.windowLeft = 0;
    h.windowRight = int16_t(cols - 1);
    h.windowBottom = 0;
    h.windowTop = int16_t(lines - 1);
    h.activeLeft = 0;
    h.activeRight = int16_t(cols - 1);
    h.activeBottom = 0;
    h.activeTop = int16_t(lines - 1);
    h.frame = 1;
    h.storageType = 0;
    h.numChan = 3;
    // Always one matte channel: a 3-channel image is written with an opaque
    // matte record (see rla_write).
    h.numMatte = 1;
    h.numAux = depth ? 1 : 0;
    h.revision = kRlaRevision;
    char text[64];
    std::snprintf(text, sizeof text, "%f", gamma);
    set_text(h.gamma, sizeof h.gamma, text);
    set_text(h.redPri, sizeof h.redPri, "0.670 0.330");
    set_text(h.greenPri, sizeof h.greenPri, "0.210 0.710");
    set_text(h.bluePri, sizeof h.bluePri, "0.140 0.080");
    set_text(h.whitePt, sizeof h.whitePt, "0.310 0.316");
    h.jobNum = 0;
    set_text(h.name, sizeof h.name, path);
    set_text(h.desc, sizeof h.desc, "This image created by Velmora, Inc.");
    set_text(h.program, sizeof h.program, "img_lib");
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    host[sizeof host - 1] = '\0';
    set_text(h.machine, sizeof h.machine, host);
    set_text(h.user, sizeof h.user, "Unknown");
    format_date(h.date, sizeof h.date);
    set_text(h.aspect, sizeof h.aspect, "user");
    // The ratio keeps its first 8 characters, without a terminator.
    char ratio[64];
    std::snprintf(ratio, sizeof ratio, "%f", double(cols) / double(lines));
    std::size_t ratioLength = std::strlen(ratio);
    std::memset(h.aspectRatio, 0, sizeof h.aspectRatio);
    std::memcpy(h.aspectRatio, ratio, ratioLength < 8 ? ratioLength : 8);
    set_text(h.chan, sizeof h.chan, "rgb");
    h.field = 0;
    set_text(h.time, sizeof h.time, "0");
    set_text(h.filter, sizeof h.filter, "");
    h.chanBits = 8;
    h.matteType = 0;
    h.matteBits = 8;
    h.auxType = depth ? 4 : 0;
    h.auxBits = depth ? 32 : 8;
    set_text(h.aux, sizeof h.aux, depth ? "depth" : "");
    set_text(h.space, sizeof h.space, "");
    h.next = 0;
}

void rla_pack_header(const RlaHeader& h, uint8_t* out) {
    std::memset(out, 0, kRlaHeaderSize);
    header_fields(h, FieldPacker(out));
}

void rla_unpack_header(const uint8_t* in, RlaHeader& h) {
    h = RlaHeader();
    header_fields(h, FieldUnpacker(in));
}

namespace {

// Checks the windows and channel counts of a header; on success gives the
// picture's size and channel count.
bool header_geometry(const RlaHeader& h, int& cols, int& lines, int& channels) {
    cols = h.windowRight - h.windowLeft + 1;
    lines = h.windowTop - h.windowBottom + 1;
    channels = h.numChan + h.numMatte + h.numAux;
    if (cols < 1 || lines < 1) return false;
    if (h.numChan < 0 || h.numMatte < 0 || h.numAux < 0 || channels < 1 || channels > 5)
        return false;
    if (h.activeLeft < h.windowLeft || h.activeRight > h.windowRight ||
        h.activeLeft > h.activeRight)
        return false;
    if (h.activeBottom < h.windowBottom || h.activeTop > h.windowTop ||
        h.activeBottom > h.activeTop)
        return false;
    return true;
}

}  // namespace

bool rla_looks_like_header(const uint8_t* data, std::size_t size) {
    if (size < std::size_t(kRlaHeaderSize)) return false;
    RlaHeader h;
    rla_unpack_header(data, h);
    int cols, lines, channels;
    return header_geometry(h, cols, lines, channels) && h.numChan <= 3 && h.numMatte <= 1 &&
           h.numAux <= 1;
}

// ---------------------------------------------------------------------------
// Run-length code

bool rla_encode_channel(const unsigned char* data, int cols, int chan, std::vector<uint8_t>& out) {
    const std::size_t countAt = out.size();
    out.push_back(0);
    out.push_back(0);
    int consumed = 0;
    auto literal = [&](int from, int to) {
        if (to <= from) return;
        out.push_back(uint8_t(-(to - from)));
        out.insert(out.end(), data + from, data + to);
        consumed += to - from;
    };
    auto run = [&](int length, uint8_t value) {
        out.push_back(uint8_t(length - 1));
        out.push_back(value);
        consumed += length;
    };

    if (cols > 0) {
        // s: first pending byte; r, v, k: start, value and length of the
        // current run of equal bytes.
        int s = 0, r = 0, k = 1;
        uint8_t v = data[0];
        for (int i = 1; i <= cols; ++i) {
            const bool end = i == cols;
            if (!end && data[i] == v) {
                ++k;
                if (k == 129) {
                    // A full run of 128: flush it, data[i] starts afresh.
                    literal(s, r);
                    run(128, v);
                    s = r = i;
                    k = 1;
                } else if (k < 3 && i - s == 128) {
                    literal(s, i);
                    s = r = i;
                    k = 1;
                }
                continue;
            }
            if (k >= 3) {
                literal(s, r);
                run(k, v);
                s = i;
            } else if (end) {
                literal(s, cols);
            } else if (i - s == 128) {
                literal(s, i);
                s = i;
            }
            r = i;
            k = 1;
            if (!end) v = data[i];
        }
    }
    if (consumed != cols) {
        std::printf(
            "HEY! data_index != cols*(chan+1). data_index = %d and cols = %d and chan+1 = %d\n",
            consumed, cols, chan + 1);
        out.resize(countAt);
        return false;
    }
    set_u16(out.data() + countAt, unsigned(out.size() - countAt - 2));
    return true;
}

// ---------------------------------------------------------------------------
// Reader

namespace {

// Decodes one channel's code into row[begin ... end - 1]. Returns the
// position reached; bytes beyond end are counted but not stored.
long decode_channel(const uint8_t* code, std::size_t count, unsigned char* row, long begin,
                    long end) {
    long p = begin;
    std::size_t q = 0;
    while (q < count) {
        const int n = int8_t(code[q++]);
        if (n >= 0) {
            if (q >= count) break;
            const uint8_t v = code[q++];
            for (int j = 0; j <= n; ++j, ++p)
                if (p < end) row[p] = v;
        } else {
            const std::size_t length = std::size_t(-n);
            if (length > count - q) break;
            for (std::size_t j = 0; j < length; ++j, ++p)
                if (p < end) row[p] = code[q + j];
            q += length;
        }
    }
    return p;
}

}  // namespace

ReadResult rla_read(const uint8_t* data, std::size_t size, kivImage* image) {
    const char* path = image->path;
    if (size < std::size_t(kRlaHeaderSize)) {
        report_unreadable("RLA", path, "the header is truncated");
        return kReadFailed;
    }
    RlaHeader* h = new RlaHeader;
    image->header = h;
    rla_unpack_header(data, *h);
    int cols, lines, channels;
    if (!header_geometry(*h, cols, lines, channels)) {
        report_unreadable("RLA", path, "the header's windows or channel counts are invalid");
        return kReadFailed;
    }

    // Offset table, one entry per active scanline.
    const int activeLines = h->activeTop - h->activeBottom + 1;
    Cursor in(data, size);
    in.seek(kRlaHeaderSize);
    h->offsets.resize(activeLines);
    for (int i = 0; i < activeLines; ++i) {
        uint32_t offset;
        if (!in.u32(offset)) {
            report_unreadable("RLA", path, "the scanline offset table is truncated");
            return kReadFailed;
        }
        h->offsets[i] = int32_t(offset);
    }

    image->cols = cols;
    image->lines = lines;
    image->channels = channels;
    if (!plausible_size(lines, row_bytes(cols, channels), size, 128)) {
        report_unreadable("RLA", path, "the picture is too large for the file");
        return kReadFailed;
    }
    if (!allocate_rows(image)) {
        report_unreadable("RLA", path, "out of memory");
        return kReadFailed;
    }

    // Scanline records; positions within a row are relative to the window.
    const long left = h->activeLeft - h->windowLeft;
    const long right = h->activeRight - h->windowLeft;
    for (int i = 0; i < activeLines; ++i) {
        const int y = h->activeBottom - h->windowBottom + i;
        unsigned char* row = image->rows[y];
        if (!in.seek(uint32_t(h->offsets[i]))) {
            report_unreadable("RLA", path, "a scanline offset lies beyond the end of the file");
            return kReadFailed;
        }
        for (int c = 0; c < channels; ++c) {
            uint16_t count;
            const uint8_t* code = in.u16(count) ? in.take(count) : nullptr;
            if (!code) {
                report_unreadable("RLA", path, "a scanline record is truncated");
                return kReadFailed;
            }
            if (c == 4) {
                // Depth: the record's bytes are copied as they are (the
                // file's big-endian floats), pixel left onwards.
                if (count % 4 != 0 || long(count / 4) > cols - left) {
                    report_unreadable("RLA", path, "a depth record does not fit its scanline");
                    return kReadFailed;
                }
                std::memcpy(row + 4 * std::size_t(cols) + 4 * std::size_t(left), code, count);
                continue;
            }
            const long begin = long(c) * cols + left;
            const long end = long(c) * cols + right + 1;
            const long reached = decode_channel(code, count, row, begin, end);
            if (reached != end) {
                std::printf("HEY! I don't have %ld bytes in my rle buffer. I have %ld bytes.\n",
                            end, reached);
                std::printf("     Other info:  line=%d, chan=%d\n", y, c);
                return kReadCorrupt;
            }
        }
    }
    return kReadOk;
}

// ---------------------------------------------------------------------------
// Writer

int rla_write(const kivImage* image) {
    if (!writable(image)) return 0;
    const int cols = image->cols;
    const int lines = image->lines;
    const int colourChannels = image->channels < 4 ? image->channels : 4;
    // The header always announces a matte channel; rows without one get an
    // opaque matte record so that the file reads back consistently.
    const std::vector<unsigned char> opaque(colourChannels < 4 ? cols : 0, 255);

    std::vector<uint8_t> file(kRlaHeaderSize + 4 * std::size_t(lines));
    rla_pack_header(*static_cast<const RlaHeader*>(image->header), file.data());
    uint32_t offset = uint32_t(file.size());
    for (int y = 0; y < lines; ++y) {
        set_u32(file.data() + kRlaHeaderSize + 4 * y, offset);
        const unsigned char* row = image->rows[y];
        const std::size_t recordStart = file.size();
        for (int c = 0; c < colourChannels; ++c) {
            if (!rla_encode_channel(row + std::size_t(c) * cols, cols, c, file))
                return encode_failure(image->path, y);
        }
        if (colourChannels == 3 && !rla_encode_channel(opaque.data(), cols, 3, file))
            return encode_failure(image->path, y);
        if (image->channels == 5) {
            put_u16(file, 4 * unsigned(cols));
            const unsigned char* depth = row + 4 * std::size_t(cols);
            for (int k = 0; k < cols; ++k) {
                float value;
                std::memcpy(&value, depth + 4 * k, 4);
                put_f32(file, value);
            }
        }
        offset += uint32_t(file.size() - recordStart);
    }
    return finish_write(image->path, file);
}

// ---------------------------------------------------------------------------
// Header dump

void rla_dump_header(const RlaHeader& h) {
    const int width = h.windowRight - h.windowLeft + 1;
    const int height = h.windowTop - h.windowBottom + 1;
    const int activeWidth = h.activeRight - h.activeLeft + 1;
    const int activeHeight = h.activeTop - h.activeBottom + 1;
    std::printf("RLA HEADER:\n\n");
    std::printf("  Name: %.*s\n", int(sizeof h.name), h.name);
    std::printf("  Width: (%d-%d+1) -> %d\n", h.windowRight, h.windowLeft, width);
    std::printf("  Height: (%d-%d+1) -> %d\n", h.windowTop, h.windowBottom, height);
    std::printf("  Active Width: (%d-%d+1) -> %d\n", h.activeRight, h.activeLeft, activeWidth);
    std::printf("  Active Height: (%d-%d+1) -> %d\n", h.activeTop, h.activeBottom, activeHeight);
    std::printf("  ColorChannelType: %d\n", h.storageType);
    std::printf("  NumOfColorChannels: %d\n", h.numChan);
    std::printf("  NumOfMatteChannels: %d\n", h.numMatte);
    std::printf("  NumOfAuxChannels: %d\n", h.numAux);
    std::printf("  NumOfChannelBits: %d\n", h.chanBits);
    std::printf("  \n");
    std::printf("  Scanline Offset Table:\n");
    for (int32_t offset : h.offsets) std::printf("    %ld\n", long(offset));
    std::printf("  \n");
}
