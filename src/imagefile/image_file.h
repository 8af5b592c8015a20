// The raster image front end: RLA, SGI RGB and PIC files held in memory.
//
// An image handle keeps the whole picture as one row buffer per scanline.
// kivOpenImage reads a file completely; kivCreateImage makes an empty image
// in memory that kivCloseImage writes to disk in one go. Rows are exchanged
// through channel arrays: entry c (0 red, 1 green, 2 blue, 3 matte) points
// to cols bytes, entry 4 to cols 4-byte depth values.
//
// A row buffer is channel-planar: channel c < 4 occupies bytes
// c * cols ... (c + 1) * cols - 1. With 5 channels the buffer is 8 * cols
// bytes and the depth values occupy bytes 4 * cols onwards; otherwise it is
// channels * cols bytes. The RLA writer takes depth values as native floats
// and stores them big-endian; the RLA reader copies the stored bytes as they
// are, so depth read from a file is big-endian.
//
// rx_rla wraps an RLA image for the output passes and the shadow-map
// writer; u_char_buf is one scanline of planes that those passes fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Image formats, as given to kivOpenImage and kivCreateImage (0 chooses by
// the file name's extension).
constexpr int kivFormatByExtension = 0;
constexpr int kivFormatRla = 1;
constexpr int kivFormatPic = 2;
constexpr int kivFormatRgb = 3;

// Marks a live image handle.
constexpr int32_t kivImageMagic = 60591;  // 0xECAF

// No image may need more memory than this, whatever its header claims.
constexpr std::size_t kivMaxImageBytes = std::size_t(1) << 30;

// The image handle. Allocated zeroed by the front end and freed by
// kivCloseImage.
struct kivImage {
    char path[1024];       // file name; the writers open this path at close
    int32_t magic;         // kivImageMagic for a valid handle
    int32_t writing;       // 1 when created by kivCreateImage, 0 when read
    int32_t format;        // kivFormatRla, kivFormatPic or kivFormatRgb
    int32_t channels;      // 3 (RGB), 4 (RGBA), 5 (RGBA + depth); RGB files: the file's count
    void* header;          // owned: RlaHeader, PicHeader or SgiHeader by format
    unsigned char** rows;  // owned: lines row buffers, index 0 first
    int32_t cols;          // width in pixels
    int32_t lines;         // height in scanlines
};

// Opens and reads a whole image file. type 0 chooses the format by the
// extension rule (the last four characters exactly ".rla", ".pic" or
// ".rgb"). Returns null on any failure. Corrupt run-length data in RLA and
// PIC files prints its message and ends the process with status 0.
kivImage* kivOpenImage(const char* path, int type);

// Like kivOpenImage, but corrupt run-length data prints its message and
// makes the open fail instead of ending the process. For readers of
// untrusted pictures (textures).
kivImage* kivOpenImageChecked(const char* path, int type);

// Creates an image in memory (zeroed rows); nothing is written until close.
// Only 8 bits per channel; PIC takes 3 or 4 channels. Null on failure.
kivImage* kivCreateImage(const char* path, int type, int lines, int cols, int bits, float gamma,
                         int channels);

// Copies scanline y into / from the channel arrays. 1, or 0 for an invalid
// handle or a scanline outside 0 ... lines - 1.
int kivReadScanline(kivImage* image, int y, void** chans);
int kivWriteScanline(kivImage* image, int y, void** chans);

// Writes a created image to its file, then frees the handle whatever the
// outcome of the write. 0 for a null or invalid handle, else 1.
int kivCloseImage(kivImage* image);

// Prints the image's header (debugging) to standard output. 0 for an
// invalid handle.
int kivDumpHeader(kivImage* image);

// The format chosen by the extension rule, or 0 when none matches.
int kivFormatFromExtension(const char* path);

// ---------------------------------------------------------------------------
// One scanline of planes: red, green, blue and matte bytes and two 4-byte
// depth arrays, all of `length` entries.
class u_char_buf {
  public:
    explicit u_char_buf(int n);
    u_char_buf(const u_char_buf& other);
    ~u_char_buf();
    // Copies the members: both buffers then share the arrays.
    u_char_buf& operator=(const u_char_buf& other);

    unsigned char& operator()(int c, int i) { return static_cast<unsigned char*>(planes_[c])[i]; }
    // chan[0..3], z: usable as the front end's channel array.
    void** address() { return planes_; }
    int length() const { return length_; }
    // Sets all four byte channels of pixel i to v.
    void rgbm(int i, unsigned char v);
    int& z(int i) { return static_cast<int*>(planes_[4])[i]; }
    int& z2(int i) { return static_cast<int*>(z2_)[i]; }
    float& fz(int i) { return static_cast<float*>(planes_[4])[i]; }
    float& fz2(int i) { return static_cast<float*>(z2_)[i]; }

  private:
    void release();

    int length_;       // number of pixels
    void* planes_[5];  // chan[0..3] (length bytes each), then z (length 4-byte values)
    void* z2_;         // second depth array (length 4-byte values)
    int* shares_;      // how many buffers share the arrays
};

// An RLA image for the output passes: created for writing (written when
// destroyed) or opened for reading.
class rx_rla {
  public:
    rx_rla();
    // Creates an image of lines x cols, with a depth channel when depth is
    // set. Throws FurEFailed "Creating the image" on failure.
    rx_rla(const char* name, int lines, int cols, int bits, float gamma, int depth);
    // Reads an RLA file. Throws FurEFailed "Error opening image <name>".
    explicit rx_rla(const char* name);
    rx_rla(const rx_rla& other);
    // Copies the members: both objects then share the image.
    rx_rla& operator=(const rx_rla& other);
    // Closes the image, which writes it when it was created.
    ~rx_rla();

    // The row buffer of scanline y (null outside the image).
    unsigned char* readscan(int y);
    // Writes the channel planes into scanline y. Throws FurEFailed
    // "Writing image file" on failure.
    void writescan(void** chans, int y);

    int Cols() const;
    int Lines() const;
    int bits() const { return bits_; }
    float getgamma() const { return gamma_; }
    int number_of_scans() const { return 3 + (mattes_ != 0 ? 1 : 0) + depth_; }
    int has_depth() const { return depth_; }
    int mattes() const { return mattes_; }
    kivImage* image() const { return image_; }

  private:
    void release();

    kivImage* image_;                     // the RLA image (owned, shared by copies)
    [[maybe_unused]] int64_t reserved0_;  // zero
    int depth_;                           // 1 when the image has the depth channel
    [[maybe_unused]] int reserved1_;      // zero
    int mattes_;                          // matte channels (from the file header when read)
    int bits_;                            // bits per channel
    float gamma_;                         // gamma
    int* shares_;                         // how many objects share the image
};

KORVO_EXPORT_END
