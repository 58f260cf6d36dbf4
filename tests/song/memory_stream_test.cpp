#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "app/memory_stream.h"

namespace {

struct Image {
    std::vector<uint8_t> bytes;
    explicit Image(int32_t length) : bytes(size_t(length)) {
        std::iota(bytes.begin(), bytes.end(), uint8_t{0});
    }
};

TEST(MemoryStream, ReadsAreCutAtTheEnd) {
    Image image(1000);
    MemoryStream* stream = createMemoryStream(image.bytes.data(), 1000);
    ASSERT_NE(stream, nullptr);
    seekMemoryStream(nullptr, stream, 925, 0);
    std::vector<uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer.data(), 100), 75);
    EXPECT_EQ(buffer[0], uint8_t(925 & 0xFF));
    EXPECT_EQ(buffer[74], uint8_t(999 & 0xFF));
    EXPECT_EQ(buffer[75], 0xEE) << "nothing is copied beyond the image";
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 1000);
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer.data(), 100), 0);
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer.data(), -5), 0);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 1000);
    closeMemoryStream(nullptr, stream);
}

TEST(MemoryStream, SeeksAreClampedAtTheEndOnly) {
    Image image(1000);
    MemoryStream* stream = createMemoryStream(image.bytes.data(), 1000);
    seekMemoryStream(nullptr, stream, 0, 2);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 1000);
    seekMemoryStream(nullptr, stream, 50000, 0);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 1000);
    seekMemoryStream(nullptr, stream, 10, 0);
    seekMemoryStream(nullptr, stream, 5, 1);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 15);
    EXPECT_FALSE(seekMemoryStream(nullptr, stream, 7, 3));
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 15) << "an unknown mode leaves the position";
    seekMemoryStream(nullptr, stream, -100, 2);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 900);
    seekMemoryStream(nullptr, stream, INT32_MAX, 1);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), 1000) << "no wrap-around past the end";
    closeMemoryStream(nullptr, stream);
}

TEST(MemoryStream, APositionBeforeTheStartReadsNothing) {
    Image image(1000);
    MemoryStream* stream = createMemoryStream(image.bytes.data(), 1000);
    uint8_t buffer[8] = {};
    seekMemoryStream(nullptr, stream, -4, 0);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), -4);
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer, 8), 0);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), -4);
    seekMemoryStream(nullptr, stream, INT32_MIN, 1);
    EXPECT_EQ(tellMemoryStream(nullptr, stream), INT32_MIN) << "no wrap-around before the start";
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer, 8), 0);
    seekMemoryStream(nullptr, stream, 2, 0);
    EXPECT_EQ(readMemoryStream(nullptr, stream, buffer, 1), 1);
    EXPECT_EQ(buffer[0], 2);
    closeMemoryStream(nullptr, stream);
}

}  // namespace
