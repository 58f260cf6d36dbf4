// Converts the pixel bits of a device-independent bitmap, in any of the
// formats below, into 24-bit rows: blue, green, red bytes per pixel, bottom row
// first, each row padded with zero bytes to a multiple of 4 bytes.
//
// Accepted sources:
//   BI_RGB        1, 4 and 8 bits per pixel through the colour table; 16 bits
//                 as 5-5-5; 24 bits; 32 bits (blue, green, red, unused byte)
//   BI_BITFIELDS  16 and 32 bits, channels picked out by the three masks
//   BI_RLE8       8 bits, run-length encoded
//   BI_RLE4       4 bits, run-length encoded
// Rows run bottom-up for a positive height and top-down for a negative one
// (run-length bits only bottom-up); the target is bottom-up either way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// The 40-byte header of a bitmap, field for field.
struct DibInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct RgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

// Everything the conversion reads. The bits are bounded by bitsSize: the
// conversion never reads past it.
struct DibSource {
    DibInfoHeader header;
    std::array<uint32_t, 3> colourMasks;  // red, green, blue; BI_BITFIELDS only
    const RgbQuad* colours;               // colourCount entries
    uint32_t colourCount;
    const uint8_t* bits;
    size_t bitsSize;
};

// Bytes per row of uncompressed bits: width × bit count, rounded up to 4 bytes.
uint64_t dibRowBytes(int64_t width, uint32_t bitCount);

// Whether the source is in an accepted format with a sensible size: positive
// width, non-zero height, masks of one run of bits each, uncompressed bits
// all present, run-length bits plausible for their length, and a target of
// at most 2 GiB. Checked before any memory is given to the target.
bool isConvertibleDib(const DibSource& source);

// Bytes of the 24-bit target for the source's width and |height|; 0 when the
// source is not convertible.
size_t dibTargetBytes(const DibSource& source);

// Converts the source into target, which holds dibTargetBytes(source) bytes
// and is expected zero-filled: pixels that run-length bits skip stay black.
// Returns the number of rows converted, |height|, or 0 when the source is not
// convertible or its bits are damaged (a colour index beyond the table, a run
// past the top row or the end of the bits). Run-length pixels beyond the right
// edge, as writers that encode whole padded rows give, are dropped.
int32_t convertDibBits(const DibSource& source, uint8_t* target);
