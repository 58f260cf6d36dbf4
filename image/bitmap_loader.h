// Reads a Windows bitmap file into packed RGB rows, bottom row first.
#pragma once

#include <cstddef>
#include <cstdint>

struct RgbImage {
    int32_t width;
    int32_t height;
    uint8_t* data;  // height rows of 3 x width bytes (red, green, blue), bottom row first
};

// Returns a new image (released by the caller with free: data, then the
// record), or null after a message box with caption "Error" has said why.
RgbImage* loadBitmapImage(const char* fileName);

// The same for a file already in memory (size bytes at bytes), which is never
// read beyond its end. Reports every failure but the open failure the same way.
RgbImage* loadBitmapImageFromMemory(const uint8_t* bytes, size_t size);
