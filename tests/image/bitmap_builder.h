// Builds bitmap files in memory for the loader's tests: one indexed picture
// written in any of the layouts the loader accepts.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "image/dib_conversion.h"

struct Picture {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> indices;  // bottom row first
    std::vector<RgbQuad> palette;
};

struct BitmapLayout {
    const char* name = "";
    uint16_t bitCount = 24;
    uint32_t compression = BI_RGB;
    bool core = false;       // 12-byte header instead of the 40-byte one
    bool fileHeader = true;  // starts with "BM"
    bool topDown = false;    // negative height, rows stored top row first
    uint32_t coloursUsed = 0;
    std::array<uint32_t, 3> masks{};  // BI_BITFIELDS: red, green, blue
};

std::vector<uint8_t> encodeBitmap(const Picture& picture, const BitmapLayout& layout);

// What the loader should return: red, green, blue per pixel, bottom row first.
std::vector<uint8_t> expectedRgb(const Picture& picture);

void putLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);
void putLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
