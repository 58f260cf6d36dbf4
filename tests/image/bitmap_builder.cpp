#include "tests/image/bitmap_builder.h"

#include <bit>

namespace {

void append16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void append32(std::vector<uint8_t>& bytes, uint32_t value) {
    append16(bytes, static_cast<uint16_t>(value));
    append16(bytes, static_cast<uint16_t>(value >> 16));
}

// Keeps the top bits of each 8-bit channel that fit its mask.
uint32_t packColour(const RgbQuad& colour, const std::array<uint32_t, 3>& masks) {
    const std::array<uint32_t, 3> channels{colour.rgbRed, colour.rgbGreen, colour.rgbBlue};
    uint32_t pixel = 0;
    for (size_t i = 0; i < masks.size(); ++i) {
        if (masks[i] == 0) {
            continue;
        }
        const int width = std::popcount(masks[i]);
        const uint32_t value = width <= 8 ? channels[i] >> (8 - width) : channels[i] << (width - 8);
        pixel |= value << std::countr_zero(masks[i]);
    }
    return pixel;
}

std::array<uint32_t, 3> masksFor(const BitmapLayout& layout) {
    if (layout.compression == BI_BITFIELDS) {
        return layout.masks;
    }
    if (layout.bitCount == 16) {
        return {0x7C00, 0x03E0, 0x001F};
    }
    return {0xFF0000, 0xFF00, 0xFF};
}

void appendRow(std::vector<uint8_t>& bits, const Picture& picture, int32_t row,
               const BitmapLayout& layout) {
    const size_t start = bits.size();
    uint32_t pending = 0;
    int pendingBits = 0;
    for (int32_t x = 0; x < picture.width; ++x) {
        const uint8_t index = picture.indices[row * picture.width + x];
        const RgbQuad& colour = picture.palette[index];
        if (layout.bitCount <= 8) {
            pending = pending << layout.bitCount | index;
            pendingBits += layout.bitCount;
            if (pendingBits == 8) {
                bits.push_back(static_cast<uint8_t>(pending));
                pending = 0;
                pendingBits = 0;
            }
        } else if (layout.bitCount == 24) {
            bits.insert(bits.end(), {colour.rgbBlue, colour.rgbGreen, colour.rgbRed});
        } else {
            const uint32_t pixel = packColour(colour, masksFor(layout));
            layout.bitCount == 16 ? append16(bits, static_cast<uint16_t>(pixel))
                                  : append32(bits, pixel);
        }
    }
    if (pendingBits > 0) {
        bits.push_back(static_cast<uint8_t>(pending << (8 - pendingBits)));
    }
    bits.resize(start + (picture.width * layout.bitCount + 31) / 32 * 4);
}

// Even rows as runs, odd rows in absolute mode, so both are exercised.
std::vector<uint8_t> runLengthBits(const Picture& picture, bool fourBit) {
    std::vector<uint8_t> bits;
    for (int32_t row = 0; row < picture.height; ++row) {
        const uint8_t* indices = &picture.indices[row * picture.width];
        if (row % 2 == 1 && picture.width >= 3) {
            bits.insert(bits.end(), {0, static_cast<uint8_t>(picture.width)});
            const size_t start = bits.size();
            for (int32_t x = 0; x < picture.width; ++x) {
                if (!fourBit) {
                    bits.push_back(indices[x]);
                } else if (x % 2 == 0) {
                    bits.push_back(static_cast<uint8_t>(indices[x] << 4));
                } else {
                    bits.back() |= indices[x];
                }
            }
            if ((bits.size() - start) % 2 != 0) {
                bits.push_back(0);
            }
        } else {
            for (int32_t x = 0; x < picture.width;) {
                int32_t run = 1;
                while (x + run < picture.width && indices[x + run] == indices[x]) {
                    ++run;
                }
                const uint8_t value = fourBit ? indices[x] * 17 : indices[x];
                bits.insert(bits.end(), {static_cast<uint8_t>(run), value});
                x += run;
            }
        }
        bits.insert(bits.end(), {0, static_cast<uint8_t>(row + 1 == picture.height ? 1 : 0)});
    }
    return bits;
}

}  // namespace

void putLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    putLe16(bytes, at, static_cast<uint16_t>(value));
    putLe16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

std::vector<uint8_t> encodeBitmap(const Picture& picture, const BitmapLayout& layout) {
    std::vector<uint8_t> bits;
    if (layout.compression == BI_RLE8 || layout.compression == BI_RLE4) {
        bits = runLengthBits(picture, layout.compression == BI_RLE4);
    } else {
        for (int32_t i = 0; i < picture.height; ++i) {
            appendRow(bits, picture, layout.topDown ? picture.height - 1 - i : i, layout);
        }
    }
    const uint32_t tableLength = layout.coloursUsed != 0 ? layout.coloursUsed
                                 : layout.bitCount <= 8  ? 1u << layout.bitCount
                                                         : 0u;
    const int32_t height = layout.topDown ? -picture.height : picture.height;

    std::vector<uint8_t> dib;
    if (layout.core) {
        append32(dib, 12);
        append16(dib, static_cast<uint16_t>(picture.width));
        append16(dib, static_cast<uint16_t>(height));
        append16(dib, 1);
        append16(dib, layout.bitCount);
    } else {
        append32(dib, 40);
        append32(dib, static_cast<uint32_t>(picture.width));
        append32(dib, static_cast<uint32_t>(height));
        append16(dib, 1);
        append16(dib, layout.bitCount);
        append32(dib, layout.compression);
        append32(dib, static_cast<uint32_t>(bits.size()));
        append32(dib, 2835);
        append32(dib, 2835);
        append32(dib, layout.coloursUsed);
        append32(dib, 0);
        if (layout.compression == BI_BITFIELDS) {
            for (const uint32_t mask : layout.masks) {
                append32(dib, mask);
            }
        }
    }
    for (uint32_t i = 0; i < tableLength; ++i) {
        const RgbQuad colour = i < picture.palette.size() ? picture.palette[i] : RgbQuad{};
        dib.insert(dib.end(), {colour.rgbBlue, colour.rgbGreen, colour.rgbRed});
        if (!layout.core) {
            dib.push_back(0);
        }
    }

    std::vector<uint8_t> file;
    if (layout.fileHeader) {
        file = {'B', 'M'};
        append32(file, static_cast<uint32_t>(14 + dib.size() + bits.size()));
        append32(file, 0);
        append32(file, static_cast<uint32_t>(14 + dib.size()));
    }
    file.insert(file.end(), dib.begin(), dib.end());
    file.insert(file.end(), bits.begin(), bits.end());
    return file;
}

std::vector<uint8_t> expectedRgb(const Picture& picture) {
    std::vector<uint8_t> rgb;
    for (const uint8_t index : picture.indices) {
        const RgbQuad& colour = picture.palette[index];
        rgb.insert(rgb.end(), {colour.rgbRed, colour.rgbGreen, colour.rgbBlue});
    }
    return rgb;
}
