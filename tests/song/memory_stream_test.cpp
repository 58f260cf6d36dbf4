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
    seekMemoryStream(stream, 925, 0);
    std::vector<uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(readMemoryStream(buffer.data(), 100, stream), 75);
    EXPECT_EQ(buffer[0], uint8_t(925 & 0xFF));
    EXPECT_EQ(buffer[74], uint8_t(999 & 0xFF));
    EXPECT_EQ(buffer[75], 0xEE) << "nothing is copied beyond the image";
    EXPECT_EQ(tellMemoryStream(stream), 1000);
    EXPECT_EQ(readMemoryStream(buffer.data(), 100, stream), 0);
    EXPECT_EQ(readMemoryStream(buffer.data(), -5, stream), 0);
    EXPECT_EQ(tellMemoryStream(stream), 1000);
    closeMemoryStream(stream);
}

TEST(MemoryStream, SeeksAreClampedAtTheEndOnly) {
    Image image(1000);
    MemoryStream* stream = createMemoryStream(image.bytes.data(), 1000);
    seekMemoryStream(stream, 0, 2);
    EXPECT_EQ(tellMemoryStream(stream), 1000);
    seekMemoryStream(stream, 50000, 0);
    EXPECT_EQ(tellMemoryStream(stream), 1000);
    seekMemoryStream(stream, 10, 0);
    seekMemoryStream(stream, 5, 1);
    EXPECT_EQ(tellMemoryStream(stream), 15);
    seekMemoryStream(stream, 7, 3);
    EXPECT_EQ(tellMemoryStream(stream), 15) << "an unknown mode leaves the position";
    seekMemoryStream(stream, -100, 2);
    EXPECT_EQ(tellMemoryStream(stream), 900);
    seekMemoryStream(stream, INT32_MAX, 1);
    EXPECT_EQ(tellMemoryStream(stream), 1000) << "no wrap-around past the end";
    closeMemoryStream(stream);
}

TEST(MemoryStream, APositionBeforeTheStartReadsNothing) {
    Image image(1000);
    MemoryStream* stream = createMemoryStream(image.bytes.data(), 1000);
    uint8_t buffer[8] = {};
    seekMemoryStream(stream, -4, 0);
    EXPECT_EQ(tellMemoryStream(stream), -4);
    EXPECT_EQ(readMemoryStream(buffer, 8, stream), 0);
    EXPECT_EQ(tellMemoryStream(stream), -4);
    seekMemoryStream(stream, INT32_MIN, 1);
    EXPECT_EQ(tellMemoryStream(stream), INT32_MIN) << "no wrap-around before the start";
    EXPECT_EQ(readMemoryStream(buffer, 8, stream), 0);
    seekMemoryStream(stream, 2, 0);
    EXPECT_EQ(readMemoryStream(buffer, 1, stream), 1);
    EXPECT_EQ(buffer[0], 2);
    closeMemoryStream(stream);
}

}  // namespace
