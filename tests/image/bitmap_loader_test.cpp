#include "image/bitmap_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "tests/image/bitmap_builder.h"

namespace {

constexpr const char* unknownFormat = "Unknown DIB file format.";
constexpr const char* conversionError = "Image file conversion error.";

std::vector<std::string> shownMessages;

void recordMessage(const char* text, const char* caption) {
    EXPECT_STREQ(caption, "Error");
    shownMessages.emplace_back(text);
}

struct ImageRelease {
    void operator()(RgbImage* image) const {
        std::free(image->data);
        std::free(image);
    }
};
using ImagePointer = std::unique_ptr<RgbImage, ImageRelease>;

std::vector<uint8_t> pixelsOf(const RgbImage& image) {
    return {image.data, image.data + 3 * image.width * image.height};
}

// Levels that survive a round trip through 5 bits unchanged.
uint8_t fiveBitLevel(int value) {
    return static_cast<uint8_t>(value << 3 | value >> 2);
}

// 5 × 4 so that every row of every format needs padding; repeated neighbours
// give the run-length encoder runs.
Picture sixteenColourPicture() {
    Picture picture{5, 4, {0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 12, 13, 14, 15, 15}, {}};
    for (int i = 0; i < 16; ++i) {
        picture.palette.push_back(
            RgbQuad{fiveBitLevel(i * 2), fiveBitLevel(31 - i), fiveBitLevel(i * 7 % 32), 0});
    }
    return picture;
}

Picture twoColourPicture() {
    Picture picture = sixteenColourPicture();
    for (uint8_t& index : picture.indices) {
        index %= 2;
    }
    picture.palette.resize(2);
    return picture;
}

// Header fields of a file with "BM" and the 40-byte header.
constexpr size_t bitsOffsetAt = 10;
constexpr size_t widthAt = 18;
constexpr size_t heightAt = 22;
constexpr size_t bitCountAt = 28;
constexpr size_t compressionAt = 30;
constexpr size_t coloursUsedAt = 46;

class BitmapLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shownMessages.clear();
        setMessageHandler(recordMessage);
    }
    void TearDown() override {
        setMessageHandler(nullptr);
        if (!folder.empty()) {
            std::filesystem::remove_all(folder);
        }
    }

    // A copy of exactly the given size, so that the sanitizer sees any read
    // past the end.
    static ImagePointer load(const std::vector<uint8_t>& bytes) {
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        return ImagePointer(loadBitmapImageFromMemory(copy.get(), bytes.size()));
    }

    static void expectRefused(const std::vector<uint8_t>& bytes, const std::string& message) {
        shownMessages.clear();
        EXPECT_EQ(load(bytes), nullptr);
        EXPECT_EQ(shownMessages, std::vector<std::string>{message});
    }

    std::string writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        // A new folder of this test's own, on every system.
        std::random_device random;
        while (folder.empty()) {
            folder = std::filesystem::temp_directory_path() / ("bitmap" + std::to_string(random()));
            if (!std::filesystem::create_directory(folder)) {
                folder.clear();
            }
        }
        const std::string path = (folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path folder;
};

// Every layout of the same picture (1 bit per pixel with two of its colours).
// The core-header twins must match their info-header forms; 16 colours
// without "BM" puts the bits 40 + 64 bytes after the header.
const std::vector<BitmapLayout> everyAcceptedFormat{
    {"1 bit", 1, BI_RGB, false, true, false, 0, {}},
    {"1 bit core, no BM", 1, BI_RGB, true, false, false, 0, {}},
    {"1 bit top-down", 1, BI_RGB, false, true, true, 0, {}},
    {"4 bit", 4, BI_RGB, false, true, false, 0, {}},
    {"4 bit core", 4, BI_RGB, true, true, false, 0, {}},
    {"4 bit top-down, no BM", 4, BI_RGB, false, false, true, 0, {}},
    {"8 bit", 8, BI_RGB, false, true, false, 0, {}},
    {"8 bit, no BM", 8, BI_RGB, false, false, false, 0, {}},
    {"8 bit core", 8, BI_RGB, true, true, false, 0, {}},
    {"8 bit core, no BM", 8, BI_RGB, true, false, false, 0, {}},
    {"8 bit, 16 colours", 8, BI_RGB, false, true, false, 16, {}},
    {"8 bit, 16 colours, no BM", 8, BI_RGB, false, false, false, 16, {}},
    {"16 bit", 16, BI_RGB, false, true, false, 0, {}},
    {"24 bit", 24, BI_RGB, false, true, false, 0, {}},
    {"24 bit core, no BM", 24, BI_RGB, true, false, false, 0, {}},
    {"24 bit top-down", 24, BI_RGB, false, true, true, 0, {}},
    {"32 bit", 32, BI_RGB, false, true, false, 0, {}},
    {"16 bit fields", 16, BI_BITFIELDS, false, true, false, 0, {0x1F, 0x3E0, 0x7C00}},
    {"32 bit fields, no BM",
     32,
     BI_BITFIELDS,
     false,
     false,
     false,
     0,
     {0xFF00, 0xFF0000, 0xFF000000}},
    {"RLE8", 8, BI_RLE8, false, true, false, 0, {}},
    {"RLE8, no BM", 8, BI_RLE8, false, false, false, 0, {}},
    {"RLE4", 4, BI_RLE4, false, true, false, 0, {}},
};

Picture pictureFor(const BitmapLayout& layout) {
    return layout.bitCount == 1 ? twoColourPicture() : sixteenColourPicture();
}

TEST_F(BitmapLoaderTest, EveryAcceptedFormatGivesTheSamePicture) {
    for (const BitmapLayout& layout : everyAcceptedFormat) {
        SCOPED_TRACE(layout.name);
        const Picture picture = pictureFor(layout);
        const ImagePointer image = load(encodeBitmap(picture, layout));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->width, 5);
        EXPECT_EQ(image->height, 4);
        EXPECT_EQ(pixelsOf(*image), expectedRgb(picture));
    }
    EXPECT_TRUE(shownMessages.empty());
}

TEST_F(BitmapLoaderTest, ReadsFilesFromDisk) {
    const Picture picture = sixteenColourPicture();
    const ImagePointer image(
        loadBitmapImage(writeFile("wide.bmp", encodeBitmap(picture, {})).c_str()));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixelsOf(*image), expectedRgb(picture));

    const Picture blueThenRed{2, 1, {0, 1}, {{255, 0, 0, 0}, {0, 0, 255, 0}}};
    const ImagePointer pair(
        loadBitmapImage(writeFile("pair.bmp", encodeBitmap(blueThenRed, {})).c_str()));
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pixelsOf(*pair), (std::vector<uint8_t>{0, 0, 255, 255, 0, 0}));
    EXPECT_TRUE(shownMessages.empty());
}

TEST_F(BitmapLoaderTest, LastRowMayLackItsPadding) {
    std::vector<uint8_t> bytes = encodeBitmap(sixteenColourPicture(), {});
    bytes.pop_back();
    EXPECT_NE(load(bytes), nullptr);
    bytes.pop_back();
    expectRefused(bytes, conversionError);
}

TEST_F(BitmapLoaderTest, BitFieldsScaleEveryChannelWidth) {
    auto onePixel = [](uint16_t bitCount, std::array<uint32_t, 3> masks, uint32_t pixel) {
        std::vector<uint8_t> bytes = encodeBitmap(
            Picture{1, 1, {0}, {{}}}, {"", bitCount, BI_BITFIELDS, false, true, false, 0, masks});
        putLe32(bytes, bytes.size() - 4, pixel);
        const ImagePointer image = load(bytes);
        return image ? pixelsOf(*image) : std::vector<uint8_t>{};
    };
    const std::array<uint32_t, 3> rgb565{0xF800, 0x07E0, 0x001F};
    EXPECT_EQ(onePixel(16, rgb565, 0xFFFF), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(onePixel(16, rgb565, 0x0410), (std::vector<uint8_t>{0, 130, 132}));
    const std::array<uint32_t, 3> rgb101010{0x3FF00000, 0x000FFC00, 0x000003FF};
    EXPECT_EQ(onePixel(32, rgb101010, 0x3FF80001), (std::vector<uint8_t>{255, 128, 0}));
    EXPECT_EQ(onePixel(32, {0, 0xFF00, 0xFF}, 0xFFFFFF), (std::vector<uint8_t>{0, 255, 255}));
    EXPECT_TRUE(onePixel(32, {0xF0F0, 0xFF00, 0xFF}, 0).empty());
}

// A 4 × 3 picture of four colours with hand-written run-length bits.
std::vector<uint8_t> runLengthFile(const std::vector<uint8_t>& bits,
                                   uint32_t compression = BI_RLE8) {
    const Picture picture{
        4, 3, std::vector<uint8_t>(12), {{}, {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}}};
    std::vector<uint8_t> bytes =
        encodeBitmap(picture, {"",
                               static_cast<uint16_t>(compression == BI_RLE8 ? 8 : 4),
                               compression,
                               false,
                               true,
                               false,
                               4,
                               {}});
    bytes.resize(bytes[bitsOffsetAt]);
    bytes.insert(bytes.end(), bits.begin(), bits.end());
    return bytes;
}

TEST_F(BitmapLoaderTest, RunLengthEscapesSkipPixels) {
    // Two pixels, a move 1 right and 1 up, one pixel, end of line, end of bitmap.
    const ImagePointer rle8 = load(runLengthFile({2, 1, 0, 2, 1, 1, 1, 2, 0, 0, 0, 1}));
    ASSERT_NE(rle8, nullptr);
    std::vector<uint8_t> expected(36);
    expected[0] = expected[3] = 3, expected[1] = expected[4] = 2, expected[2] = expected[5] = 1;
    expected[21] = 6, expected[22] = 5, expected[23] = 4;
    EXPECT_EQ(pixelsOf(*rle8), expected);

    // Rows encoded to their padded length: what passes the right edge is dropped.
    const ImagePointer padded = load(runLengthFile({3, 2, 2, 3, 0, 0, 0, 3, 1, 1, 1, 0, 0, 1}));
    ASSERT_NE(padded, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(padded->data, padded->data + 24),
              (std::vector<uint8_t>{6, 5, 4, 6, 5, 4, 6, 5, 4, 9, 8, 7,
                                    3, 2, 1, 3, 2, 1, 3, 2, 1, 0, 0, 0}));

    // Four-bit runs alternate their two nibbles; all rows closed without an
    // end-of-bitmap is a whole picture.
    const ImagePointer rle4 = load(runLengthFile({4, 0x13, 0, 0, 0, 0, 0, 0}, BI_RLE4));
    ASSERT_NE(rle4, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(rle4->data, rle4->data + 12),
              (std::vector<uint8_t>{3, 2, 1, 9, 8, 7, 3, 2, 1, 9, 8, 7}));
}

TEST_F(BitmapLoaderTest, DamagedRunLengthBitsAreRefused) {
    const std::vector<std::vector<uint8_t>> damaged{
        {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0, 1, 1},  // run past the last row
        {0, 2, 0, 3, 1, 1, 0, 1},                    // move above the top row, then a pixel
        {0, 4, 1, 2},                                // literal run past the bits
        {0, 2, 1},                                   // move cut short
        {4, 1},                                      // bits stop with rows open
        {1, 9, 0, 1},                                // index beyond the table
        {},
    };
    for (const auto& bits : damaged) {
        expectRefused(runLengthFile(bits), conversionError);
    }
    expectRefused(runLengthFile({0, 7, 0x12, 0x31}, BI_RLE4), conversionError);
}

TEST_F(BitmapLoaderTest, HostileHeadersAreRefused) {
    using Change = std::function<void(std::vector<uint8_t>&)>;
    auto set32 = [](size_t at, uint32_t value) {
        return Change([=](auto& bytes) { putLe32(bytes, at, value); });
    };
    auto set16 = [](size_t at, uint16_t value) {
        return Change([=](auto& bytes) { putLe16(bytes, at, value); });
    };
    const std::vector<std::pair<Change, const char*>> cases{
        {[](auto& bytes) { bytes.resize(1); }, unknownFormat},
        {[](auto& bytes) { bytes.resize(12); }, unknownFormat},
        {[](auto& bytes) { bytes.resize(30); }, unknownFormat},
        {set32(14, 108), unknownFormat},
        {set32(14, 0xFFFFFFFF), unknownFormat},
        {set32(widthAt, 0), conversionError},
        {set32(heightAt, 0), conversionError},
        {set32(widthAt, static_cast<uint32_t>(-5)), conversionError},
        {set32(heightAt, 0x80000000), conversionError},
        {[](auto& bytes) {
             putLe32(bytes, widthAt, 0x7FFFFFFF), putLe32(bytes, heightAt, 0x7FFFFFFF);
         },
         conversionError},
        {[](auto& bytes) { putLe32(bytes, widthAt, 65536), putLe32(bytes, heightAt, 65536); },
         conversionError},
        {set32(bitsOffsetAt, 0xFFFFFFF0), conversionError},
        {set16(bitCountAt, 0), conversionError},
        {set16(bitCountAt, 2), conversionError},
        {set32(compressionAt, 4), conversionError},
        {set32(compressionAt, BI_BITFIELDS), conversionError},
        {set32(compressionAt, BI_RLE8), conversionError},
        {set32(coloursUsedAt, 60000), conversionError},
    };
    const std::vector<uint8_t> valid = encodeBitmap(sixteenColourPicture(), {});
    ASSERT_NE(load(valid), nullptr);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<uint8_t> bytes = valid;
        cases[i].first(bytes);
        expectRefused(bytes, cases[i].second);
    }

    // An index beyond a 16-entry table is refused, not read past the table.
    Picture beyond = sixteenColourPicture();
    beyond.indices[7] = 16;
    beyond.palette.resize(17);
    expectRefused(encodeBitmap(beyond, {"", 8, BI_RGB, false, true, false, 16, {}}),
                  conversionError);

    // Run-length bits are bottom-up only, and may not claim far more pixels
    // than their bytes could describe.
    std::vector<uint8_t> rle = runLengthFile({4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1});
    ASSERT_NE(load(rle), nullptr);
    putLe32(rle, heightAt, static_cast<uint32_t>(-3));
    expectRefused(rle, conversionError);
    putLe32(rle, widthAt, 40000);
    putLe32(rle, heightAt, 40000);
    expectRefused(rle, conversionError);
}

TEST_F(BitmapLoaderTest, TruncatedFilesAreRefused) {
    for (const BitmapLayout& layout : everyAcceptedFormat) {
        SCOPED_TRACE(layout.name);
        const Picture picture = pictureFor(layout);
        const std::vector<uint8_t> bytes = encodeBitmap(picture, layout);
        for (size_t size = 0; size < bytes.size(); ++size) {
            shownMessages.clear();
            const ImagePointer image = load({bytes.begin(), bytes.begin() + size});
            if (image) {
                // Only a last row without its padding may be missing.
                EXPECT_GE(size, bytes.size() - 3);
                EXPECT_EQ(pixelsOf(*image), expectedRgb(picture));
            } else {
                ASSERT_EQ(shownMessages.size(), 1u);
                EXPECT_TRUE(shownMessages[0] == unknownFormat ||
                            shownMessages[0] == conversionError)
                    << shownMessages[0];
            }
        }
    }
}

TEST_F(BitmapLoaderTest, UnopenableFilesNameTheFile) {
    const std::string empty = writeFile("empty.bmp", {});
    const std::string missing = (folder / "missing.bmp").string();
    for (const std::string& path : {empty, missing, folder.string()}) {
        shownMessages.clear();
        EXPECT_EQ(loadBitmapImage(path.c_str()), nullptr);
        EXPECT_EQ(shownMessages,
                  std::vector<std::string>{"Failed to open DIB file " + path + ".\n"});
    }

    const std::string longName = (folder / std::string(300, 'x')).string();
    shownMessages.clear();
    EXPECT_EQ(loadBitmapImage(longName.c_str()), nullptr);
    ASSERT_EQ(shownMessages.size(), 1u);
    EXPECT_EQ(shownMessages[0], ("Failed to open DIB file " + longName).substr(0, 255));
}

}  // namespace
