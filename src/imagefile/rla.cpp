#include "imagefile/rla.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

using namespace kiv_io;

namespace {

// Field offsets of the text and trailing integer fields.
constexpr int kOffGamma = 28;
constexpr int kOffJob = 140;
constexpr int kOffField = 612;
constexpr int kOffChanBits = 658;
constexpr int kOffNext = 736;

template <std::size_t N>
void copy_out(uint8_t* out, int offset, const char (&field)[N]) {
    std::memcpy(out + offset, field, N);
}

template <std::size_t N>
void copy_in(const uint8_t* in, int offset, char (&field)[N]) {
    std::memcpy(field, in + offset, N);
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

void rla_make_header(RlaHeader& h, const char* path, int lines, int cols, float gamma, bool matte,
                     bool depth) {
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
    h.numMatte = matte ? 1 : 0;
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
    const int16_t shorts[13] = {h.windowLeft, h.windowRight, h.windowBottom, h.windowTop,
                                h.activeLeft, h.activeRight, h.activeBottom, h.activeTop,
                                h.frame,      h.storageType, h.numChan,      h.numMatte,
                                h.numAux};
    for (int i = 0; i < 13; ++i) set_u16(out + 2 * i, uint16_t(shorts[i]));
    set_u16(out + 26, h.revision);
    copy_out(out, kOffGamma, h.gamma);
    copy_out(out, 44, h.redPri);
    copy_out(out, 68, h.greenPri);
    copy_out(out, 92, h.bluePri);
    copy_out(out, 116, h.whitePt);
    set_u32(out + kOffJob, uint32_t(h.jobNum));
    copy_out(out, 144, h.name);
    copy_out(out, 272, h.desc);
    copy_out(out, 400, h.program);
    copy_out(out, 464, h.machine);
    copy_out(out, 496, h.user);
    copy_out(out, 528, h.date);
    copy_out(out, 548, h.aspect);
    copy_out(out, 572, h.aspectRatio);
    copy_out(out, 580, h.chan);
    set_u16(out + kOffField, uint16_t(h.field));
    copy_out(out, 614, h.time);
    copy_out(out, 626, h.filter);
    const int16_t tail[5] = {h.chanBits, h.matteType, h.matteBits, h.auxType, h.auxBits};
    for (int i = 0; i < 5; ++i) set_u16(out + kOffChanBits + 2 * i, uint16_t(tail[i]));
    copy_out(out, 668, h.aux);
    copy_out(out, 700, h.space);
    set_u32(out + kOffNext, uint32_t(h.next));
}

void rla_unpack_header(const uint8_t* in, RlaHeader& h) {
    h = RlaHeader();
    int16_t* shorts[13] = {&h.windowLeft, &h.windowRight, &h.windowBottom, &h.windowTop,
                           &h.activeLeft, &h.activeRight, &h.activeBottom, &h.activeTop,
                           &h.frame,      &h.storageType, &h.numChan,      &h.numMatte,
                           &h.numAux};
    for (int i = 0; i < 13; ++i) *shorts[i] = get_i16(in + 2 * i);
    h.revision = get_u16(in + 26);
    copy_in(in, kOffGamma, h.gamma);
    copy_in(in, 44, h.redPri);
    copy_in(in, 68, h.greenPri);
    copy_in(in, 92, h.bluePri);
    copy_in(in, 116, h.whitePt);
    h.jobNum = int32_t(get_u32(in + kOffJob));
    copy_in(in, 144, h.name);
    copy_in(in, 272, h.desc);
    copy_in(in, 400, h.program);
    copy_in(in, 464, h.machine);
    copy_in(in, 496, h.user);
    copy_in(in, 528, h.date);
    copy_in(in, 548, h.aspect);
    copy_in(in, 572, h.aspectRatio);
    copy_in(in, 580, h.chan);
    h.field = get_i16(in + kOffField);
    copy_in(in, 614, h.time);
    copy_in(in, 626, h.filter);
    int16_t* tail[5] = {&h.chanBits, &h.matteType, &h.matteBits, &h.auxType, &h.auxBits};
    for (int i = 0; i < 5; ++i) *tail[i] = get_i16(in + kOffChanBits + 2 * i);
    copy_in(in, 668, h.aux);
    copy_in(in, 700, h.space);
    h.next = int32_t(get_u32(in + kOffNext));
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
                // Depth: big-endian floats, stored natively in the row.
                if (count % 4 != 0 || long(count / 4) > cols - left) {
                    report_unreadable("RLA", path, "a depth record does not fit its scanline");
                    return kReadFailed;
                }
                float* depth = reinterpret_cast<float*>(row + 4 * std::size_t(cols)) + left;
                for (int k = 0; k < count / 4; ++k) depth[k] = get_f32(code + 4 * k);
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
    const char* path = image->path;
    if (path[0] == '\0' || !image->header) {
        report_write_failure(path);
        return 0;
    }
    const int cols = image->cols;
    const int lines = image->lines;
    const int colourChannels = image->channels < 4 ? image->channels : 4;

    std::vector<uint8_t> file(kRlaHeaderSize + 4 * std::size_t(lines));
    rla_pack_header(*static_cast<const RlaHeader*>(image->header), file.data());
    uint32_t offset = uint32_t(file.size());
    for (int y = 0; y < lines; ++y) {
        set_u32(file.data() + kRlaHeaderSize + 4 * y, offset);
        const unsigned char* row = image->rows[y];
        const std::size_t recordStart = file.size();
        for (int c = 0; c < colourChannels; ++c) {
            if (!rla_encode_channel(row + std::size_t(c) * cols, cols, c, file)) {
                std::printf("  Couldn't encode line: %d\n", y);
                report_write_failure(path);
                return 0;
            }
        }
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
    if (!write_file(path, file)) {
        report_write_failure(path);
        return 0;
    }
    return 1;
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
