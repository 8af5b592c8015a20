// The host's image library: writes IFF images (see iff_image.h).
//
// Calls for one file, in this order:
//   ILopen(path, "w")            a handle, or null when the file cannot be created
//   ILsetsize(h, width, height)
//   ILsetbpp(h, 1)               one byte per colour channel
//   ILsettype(h, 3 or 7)         3: colour rows of four bytes a pixel (blue,
//                                green, red, matte); 7: depth rows of one
//                                float a pixel
//   ILctrl(h, 0x10000, 0)
//   ILwriteline(h, row, 0)       colour rows, or ILwriteline(h, 0, row) for
//                                depth rows, once per row; the first row
//                                written is the bottom row of the picture
//   ILclose(h)                   writes the file: colour tiles run-length
//                                coded, depth tiles raw
// The calls return 1 on success and 0 on failure; a failed call leaves the
// handle as it was.
#pragma once

// Image types of ILsettype.
constexpr int IL_TYPE_COLOUR = 3;
constexpr int IL_TYPE_DEPTH = 7;

// The control the library passes to ILctrl. It asks for rows to be taken
// as they come, bottom row first, which is what this library always does.
constexpr int IL_CTRL_ROWS_AS_GIVEN = 0x10000;

struct ILimage;

ILimage* ILopen(const char* path, const char* mode);
int ILsetsize(ILimage* image, int width, int height);
int ILsetbpp(ILimage* image, int bytesPerChannel);
int ILsettype(ILimage* image, int type);
int ILctrl(ILimage* image, int control, int value);
int ILwriteline(ILimage* image, const void* colourRow, const void* depthRow);
// Writes the file and frees the handle. 0 when the file could not be
// written completely (it is then removed) or the handle is null.
int ILclose(ILimage* image);
