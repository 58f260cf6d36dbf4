#include "image/dib_conversion.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace {

// Keeps every size within what a 32-bit signed byte count can hold, as the
// format's own size fields do.
constexpr uint64_t maxTargetBytes = 0x7FFFFFFF;

// Encoded runs give at most 255 pixels per 2 bytes, so a run-length image
// larger than this for its length can only come from skips over unwritten
// pixels; beyond a small picture such sizes are taken as hostile.
constexpr uint64_t rlePixelsPerByte = 256;
constexpr uint64_t rleMinimumPixels = 65536;

struct Channel {
    uint32_t mask;
    int shift;
    int width;
};

// One run of set bits, or none (the channel then reads as 0).
bool makeChannel(uint32_t mask, Channel& channel) {
    channel = Channel{mask, 0, 0};
    if (mask == 0) {
        return true;
    }
    channel.shift = std::countr_zero(mask);
    const uint32_t bits = mask >> channel.shift;
    channel.width = std::popcount(bits);
    return (bits & (bits + 1)) == 0;
}

// Scales a channel to 8 bits: wider ones keep their top bits, narrower ones
// repeat their bits so that full scale stays full scale (31 of 5 bits is 255).
uint8_t channelValue(uint32_t pixel, const Channel& channel) {
    if (channel.width == 0) {
        return 0;
    }
    const uint32_t value = (pixel & channel.mask) >> channel.shift;
    if (channel.width >= 8) {
        return static_cast<uint8_t>(value >> (channel.width - 8));
    }
    uint32_t repeated = 0;
    int filled = 0;
    while (filled < 8) {
        repeated = (repeated << channel.width) | value;
        filled += channel.width;
    }
    return static_cast<uint8_t>(repeated >> (filled - 8));
}

// The masks that the source's bits are read with: its own for BI_BITFIELDS,
// the fixed layouts for 16- and 32-bit BI_RGB.
std::array<uint32_t, 3> effectiveMasks(const DibSource& source) {
    if (source.header.biCompression == BI_BITFIELDS) {
        return source.colourMasks;
    }
    if (source.header.biBitCount == 16) {
        return {0x7C00, 0x03E0, 0x001F};
    }
    return {0x00FF0000, 0x0000FF00, 0x000000FF};
}

bool makeChannels(const DibSource& source, std::array<Channel, 3>& channels) {
    const auto masks = effectiveMasks(source);
    for (size_t i = 0; i < channels.size(); ++i) {
        if (!makeChannel(masks[i], channels[i])) {
            return false;
        }
    }
    return true;
}

int64_t rowCount(const DibInfoHeader& header) {
    return header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight;
}

bool isAcceptedFormat(const DibInfoHeader& header) {
    switch (header.biCompression) {
        case BI_RGB:
            switch (header.biBitCount) {
                case 1:
                case 4:
                case 8:
                case 16:
                case 24:
                case 32:
                    return true;
                default:
                    return false;
            }
        case BI_BITFIELDS:
            return header.biBitCount == 16 || header.biBitCount == 32;
        case BI_RLE8:
            return header.biBitCount == 8 && header.biHeight > 0;
        case BI_RLE4:
            return header.biBitCount == 4 && header.biHeight > 0;
        default:
            return false;
    }
}

bool isRunLength(const DibInfoHeader& header) {
    return header.biCompression == BI_RLE8 || header.biCompression == BI_RLE4;
}

// Uncompressed bits must hold every row; the last may lack its padding.
uint64_t requiredBits(const DibInfoHeader& header) {
    const uint64_t rows = static_cast<uint64_t>(rowCount(header));
    const uint64_t lastRow = (static_cast<uint64_t>(header.biWidth) * header.biBitCount + 7) / 8;
    return dibRowBytes(header.biWidth, header.biBitCount) * (rows - 1) + lastRow;
}

void putColour(uint8_t* pixel, const RgbQuad& colour) {
    pixel[0] = colour.rgbBlue;
    pixel[1] = colour.rgbGreen;
    pixel[2] = colour.rgbRed;
}

uint32_t indexAt(const uint8_t* row, int64_t x, uint32_t bitCount) {
    switch (bitCount) {
        case 1:
            return (row[x / 8] >> (7 - x % 8)) & 1u;
        case 4:
            return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
        default:
            return row[x];
    }
}

bool convertRow(const DibSource& source, const std::array<Channel, 3>& channels, const uint8_t* row,
                uint8_t* out) {
    const int64_t width = source.header.biWidth;
    const uint32_t bitCount = source.header.biBitCount;
    for (int64_t x = 0; x < width; ++x, out += 3) {
        switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const uint32_t index = indexAt(row, x, bitCount);
                if (index >= source.colourCount) {
                    return false;
                }
                putColour(out, source.colours[index]);
                break;
            }
            case 24:
                out[0] = row[3 * x];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x + 2];
                break;
            default: {
                const uint8_t* at = row + x * (bitCount / 8);
                uint32_t pixel = static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8;
                if (bitCount == 32) {
                    pixel |= static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3])
                                                                      << 24;
                }
                out[0] = channelValue(pixel, channels[2]);
                out[1] = channelValue(pixel, channels[1]);
                out[2] = channelValue(pixel, channels[0]);
                break;
            }
        }
    }
    return true;
}

bool convertUncompressed(const DibSource& source, uint8_t* target) {
    std::array<Channel, 3> channels{};
    makeChannels(source, channels);
    const int64_t rows = rowCount(source.header);
    const uint64_t sourceStride = dibRowBytes(source.header.biWidth, source.header.biBitCount);
    const uint64_t targetStride = dibRowBytes(source.header.biWidth, 24);
    const bool topDown = source.header.biHeight < 0;
    for (int64_t row = 0; row < rows; ++row) {
        const int64_t targetRow = topDown ? rows - 1 - row : row;
        if (!convertRow(source, channels, source.bits + row * sourceStride,
                        target + targetRow * targetStride)) {
            return false;
        }
    }
    return true;
}

// Runs of 8- or 4-bit colour indices with escapes after a zero count: 0 ends
// the row, 1 ends the bitmap, 2 moves right and up by the next two bytes, and
// 3 to 255 give that many literal indices padded to a 16-bit boundary.
// Skipped pixels are left as they are in the target; pixels beyond the right
// edge are dropped, beyond the top row refused.
bool decodeRunLength(const DibSource& source, uint8_t* target) {
    const bool fourBit = source.header.biCompression == BI_RLE4;
    const int64_t width = source.header.biWidth;
    const int64_t height = source.header.biHeight;
    const uint64_t stride = dibRowBytes(width, 24);
    const uint8_t* bits = source.bits;
    const size_t size = source.bitsSize;
    int64_t x = 0;
    int64_t y = 0;
    auto put = [&](uint32_t index) {
        if (y >= height) {
            return false;
        }
        // Some writers encode rows to their padded length: what runs past
        // the right edge is dropped.
        if (x >= width) {
            ++x;
            return true;
        }
        if (index >= source.colourCount) {
            return false;
        }
        putColour(target + y * stride + x * 3, source.colours[index]);
        ++x;
        return true;
    };
    size_t at = 0;
    while (size - at >= 2) {
        const uint8_t count = bits[at];
        const uint8_t value = bits[at + 1];
        at += 2;
        if (count > 0) {
            for (uint32_t i = 0; i < count; ++i) {
                const uint32_t index = !fourBit ? value : i % 2 == 0 ? value >> 4 : value & 0x0Fu;
                if (!put(index)) {
                    return false;
                }
            }
            continue;
        }
        switch (value) {
            case 0:
                x = 0;
                ++y;
                break;
            case 1:
                return true;
            case 2:
                if (size - at < 2) {
                    return false;
                }
                x += bits[at];
                y += bits[at + 1];
                at += 2;
                break;
            default: {
                const size_t bytes = fourBit ? (value + 1u) / 2 : value;
                if (size - at < bytes) {
                    return false;
                }
                for (uint32_t i = 0; i < value; ++i) {
                    const uint32_t index = !fourBit ? bits[at + i] : indexAt(bits + at, i, 4);
                    if (!put(index)) {
                        return false;
                    }
                }
                at += std::min(size - at, (bytes + 1) & ~size_t{1});
                break;
            }
        }
    }
    // Bits that stop without an end-of-bitmap are whole only when every row
    // has been closed.
    return y >= height;
}

}  // namespace

uint64_t dibRowBytes(int64_t width, uint32_t bitCount) {
    return (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
}

bool isConvertibleDib(const DibSource& source) {
    const DibInfoHeader& header = source.header;
    if (header.biWidth <= 0 || header.biHeight == 0 || !isAcceptedFormat(header)) {
        return false;
    }
    if (source.bits == nullptr || (source.colourCount > 0 && source.colours == nullptr)) {
        return false;
    }
    std::array<Channel, 3> channels{};
    if (!makeChannels(source, channels)) {
        return false;
    }
    const uint64_t rows = static_cast<uint64_t>(rowCount(header));
    if (rows > maxTargetBytes || dibRowBytes(header.biWidth, 24) * rows > maxTargetBytes) {
        return false;
    }
    if (isRunLength(header)) {
        const uint64_t pixels = static_cast<uint64_t>(header.biWidth) * rows;
        return pixels <= std::max(rleMinimumPixels, rlePixelsPerByte * source.bitsSize);
    }
    return requiredBits(header) <= source.bitsSize;
}

size_t dibTargetBytes(const DibSource& source) {
    if (!isConvertibleDib(source)) {
        return 0;
    }
    return static_cast<size_t>(dibRowBytes(source.header.biWidth, 24) *
                               static_cast<uint64_t>(rowCount(source.header)));
}

int32_t convertDibBits(const DibSource& source, uint8_t* target) {
    if (target == nullptr || !isConvertibleDib(source)) {
        return 0;
    }
    const bool converted = isRunLength(source.header) ? decodeRunLength(source, target)
                                                      : convertUncompressed(source, target);
    return converted ? static_cast<int32_t>(rowCount(source.header)) : 0;
}
