#include "image/bitmap_loader.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "image/dib_conversion.h"
#include "platform/file_mapping.h"
#include "platform/messages.h"

namespace {

constexpr uint16_t fileHeaderMagic = 0x4D42;  // "BM"
constexpr size_t fileHeaderSize = 14;
constexpr size_t bitsOffsetField = 10;
constexpr uint32_t coreHeaderSize = 12;
constexpr uint32_t infoHeaderSize = 40;
constexpr size_t coreEntrySize = 3;  // blue, green, red
constexpr size_t infoEntrySize = 4;  // blue, green, red, unused
constexpr size_t bitFieldMasksSize = 12;
constexpr size_t openMessageSize = 256;

constexpr const char* errorCaption = "Error";
constexpr const char* unknownFormatMessage = "Unknown DIB file format.";
constexpr const char* outOfMemoryMessage = "Out of memory.";
constexpr const char* conversionErrorMessage = "Image file conversion error.";

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
template <typename T>
using HeapPointer = std::unique_ptr<T, FreeDeleter>;

uint16_t readLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t readLe32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

RgbImage* refuse(const char* message) {
    showMessage(message, errorCaption);
    return nullptr;
}

// A header that does not say how long its colour table is gets a full one for
// the palette formats and none otherwise.
uint16_t defaultColourCount(uint16_t bitCount) {
    switch (bitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

// Turns the 12-byte core header into the 40-byte form the conversion reads.
DibInfoHeader widenCoreHeader(const uint8_t* header, uint16_t colourCount) {
    DibInfoHeader info{};
    info.biSize = infoHeaderSize;
    info.biWidth = readLe16(header + 4);
    info.biHeight = readLe16(header + 6);
    info.biPlanes = readLe16(header + 8);
    info.biBitCount = readLe16(header + 10);
    info.biCompression = BI_RGB;
    info.biClrUsed = colourCount;
    info.biClrImportant = colourCount;
    return info;
}

DibInfoHeader readInfoHeader(const uint8_t* header) {
    DibInfoHeader info{};
    info.biSize = readLe32(header);
    info.biWidth = static_cast<int32_t>(readLe32(header + 4));
    info.biHeight = static_cast<int32_t>(readLe32(header + 8));
    info.biPlanes = readLe16(header + 12);
    info.biBitCount = readLe16(header + 14);
    info.biCompression = readLe32(header + 16);
    info.biSizeImage = readLe32(header + 20);
    info.biXPelsPerMeter = static_cast<int32_t>(readLe32(header + 24));
    info.biYPelsPerMeter = static_cast<int32_t>(readLe32(header + 28));
    info.biClrUsed = readLe32(header + 32);
    info.biClrImportant = readLe32(header + 36);
    return info;
}

}  // namespace

RgbImage* loadBitmapImageFromMemory(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr) {
        size = 0;
    }

    // With a file header the bits lie where it says; without one they follow
    // the DIB header and its colour table.
    size_t headerStart = 0;
    bool bitsPlaced = false;
    size_t bitsOffset = 0;
    if (size >= 2 && readLe16(bytes) == fileHeaderMagic) {
        if (size < fileHeaderSize) {
            return refuse(unknownFormatMessage);
        }
        bitsOffset = readLe32(bytes + bitsOffsetField);
        bitsPlaced = true;
        headerStart = fileHeaderSize;
    }
    if (size - headerStart < 4) {
        return refuse(unknownFormatMessage);
    }
    const uint8_t* header = bytes + headerStart;
    const uint32_t headerSize = readLe32(header);
    if ((headerSize != coreHeaderSize && headerSize != infoHeaderSize) ||
        size - headerStart < headerSize) {
        return refuse(unknownFormatMessage);
    }
    const bool core = headerSize == coreHeaderSize;

    const uint16_t bitCount = readLe16(header + (core ? 10 : 14));
    const uint32_t coloursUsed = core ? 0 : readLe32(header + 32);
    const uint16_t colourCount =
        coloursUsed != 0 ? static_cast<uint16_t>(coloursUsed) : defaultColourCount(bitCount);

    // Bit-field masks sit between the header and any colour table.
    const uint32_t compression = core ? BI_RGB : readLe32(header + 16);
    const size_t masksSize = !core && compression == BI_BITFIELDS ? bitFieldMasksSize : 0;
    const size_t entrySize = core ? coreEntrySize : infoEntrySize;
    const size_t tableStart = headerStart + headerSize + masksSize;
    const size_t tableSize = entrySize * colourCount;
    if (size < tableStart || size - tableStart < tableSize) {
        return refuse(conversionErrorMessage);
    }

    std::unique_ptr<RgbQuad[]> colours(new (std::nothrow) RgbQuad[colourCount]);
    if (!colours) {
        return refuse(outOfMemoryMessage);
    }

    DibSource source{};
    const uint8_t* table = bytes + tableStart;
    if (core) {
        source.header = widenCoreHeader(header, colourCount);
        for (size_t i = 0; i < colourCount; ++i) {
            const uint8_t* entry = table + i * coreEntrySize;
            colours[i] = RgbQuad{entry[0], entry[1], entry[2], 0};
        }
    } else {
        source.header = readInfoHeader(header);
        for (size_t i = 0; i < colourCount; ++i) {
            const uint8_t* entry = table + i * infoEntrySize;
            colours[i] = RgbQuad{entry[0], entry[1], entry[2], entry[3]};
        }
        if (masksSize > 0) {
            for (size_t i = 0; i < source.colourMasks.size(); ++i) {
                source.colourMasks[i] = readLe32(header + headerSize + 4 * i);
            }
        }
    }
    if (!bitsPlaced) {
        bitsOffset = tableStart + tableSize;
    }
    if (source.header.biClrUsed == 0) {
        source.header.biClrUsed = colourCount;
    }
    source.colours = colours.get();
    source.colourCount = colourCount;
    if (bitsOffset > size) {
        return refuse(conversionErrorMessage);
    }
    source.bits = bytes + bitsOffset;
    source.bitsSize = size - bitsOffset;

    // Checked before the target takes any memory, so that no header value can
    // ask for more than the file can describe.
    if (!isConvertibleDib(source)) {
        return refuse(conversionErrorMessage);
    }
    HeapPointer<uint8_t> target(static_cast<uint8_t*>(std::calloc(dibTargetBytes(source), 1)));
    if (!target) {
        return refuse(outOfMemoryMessage);
    }
    const int32_t rows = convertDibBits(source, target.get());
    if (rows == 0) {
        return refuse(conversionErrorMessage);
    }
    const int32_t width = source.header.biWidth;

    // The 24-bit target rows are blue, green, red with width mod 4 bytes of
    // padding; the result rows are red, green, blue with none.
    const size_t resultBytes = static_cast<size_t>(width) * static_cast<size_t>(rows) * 3;
    HeapPointer<uint8_t> pixels(static_cast<uint8_t*>(std::malloc(resultBytes)));
    if (!pixels) {
        return refuse(outOfMemoryMessage);
    }
    const uint8_t* from = target.get();
    uint8_t* to = pixels.get();
    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t x = 0; x < width; ++x, from += 3, to += 3) {
            to[0] = from[2];
            to[1] = from[1];
            to[2] = from[0];
        }
        from += width % 4;
    }

    HeapPointer<RgbImage> image(static_cast<RgbImage*>(std::calloc(1, sizeof(RgbImage))));
    if (!image) {
        return refuse(outOfMemoryMessage);
    }
    image->width = width;
    image->height = rows;
    image->data = pixels.release();
    return image.release();
}

RgbImage* loadBitmapImage(const char* fileName) {
    MappedFile file;
    if (!mapFile(fileName, file)) {
        char text[openMessageSize];
        std::snprintf(text, sizeof text, "Failed to open DIB file %s.\n",
                      fileName != nullptr ? fileName : "");
        return refuse(text);
    }
    RgbImage* image = loadBitmapImageFromMemory(file.data, file.size);
    unmapFile(file);
    return image;
}
