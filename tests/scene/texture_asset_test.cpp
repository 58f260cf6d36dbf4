// The project's "Texture.bmp" is generated: the generator must still produce
// the committed file, and the file must keep the properties the scene needs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::filesystem::path committedTexture =
    std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "Texture.bmp";

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t little(const std::vector<uint8_t>& bytes, size_t at, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes.at(at + static_cast<size_t>(i));
    }
    return value;
}

TEST(TextureAsset, GeneratorReproducesTheCommittedFileByteForByte) {
    const std::filesystem::path output = std::filesystem::path(::testing::TempDir()) /
                                         ("Texture_" + std::to_string(getpid()) + ".bmp");
    const std::string command =
        std::string("'") + MAKE_TEXTURE_PATH + "' '" + output.string() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> generated = readFile(output);
    const std::vector<uint8_t> committed = readFile(committedTexture);
    std::filesystem::remove(output);
    ASSERT_EQ(generated.size(), committed.size());
    EXPECT_TRUE(generated == committed)
        << "assets/Texture.bmp is out of date: regenerate it with make_texture";
}

TEST(TextureAsset, GeneratorRefusesAMissingOrUnwritableOutput) {
    EXPECT_NE(std::system((std::string("'") + MAKE_TEXTURE_PATH + "' 2> /dev/null").c_str()), 0);
    EXPECT_NE(std::system((std::string("'") + MAKE_TEXTURE_PATH +
                           "' /nonexistent/folder/Texture.bmp 2> /dev/null")
                              .c_str()),
              0);
}

// The pyramid and the cube are multiplied by the texel at texture coordinate
// (0, 0), the four corner texels under linear filtering with wrapping, and
// after the first ball by the texel at the sphere's last coordinate, on a
// pole row. Those rows must stay white or the bodies draw dark.
TEST(TextureAsset, IsA256Square24BitBitmapWithWhitePoleRows) {
    const std::vector<uint8_t> bytes = readFile(committedTexture);
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    const uint32_t offset = little(bytes, 10, 4);
    EXPECT_EQ(little(bytes, 14, 4), 40u);
    EXPECT_EQ(little(bytes, 18, 4), 256u);
    EXPECT_EQ(little(bytes, 22, 4), 256u);
    EXPECT_EQ(little(bytes, 28, 2), 24u);
    EXPECT_EQ(little(bytes, 30, 4), 0u);
    ASSERT_EQ(bytes.size(), offset + 256u * 256u * 3u);

    const auto texel = [&](size_t column, size_t row) {
        const size_t at = offset + (row * 256 + column) * 3;
        return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(at + 3));
    };
    const std::vector<uint8_t> white{255, 255, 255};
    for (size_t column = 0; column < 256; ++column) {
        // The sphere's last coordinate has t = 0.02, about row 5.
        for (size_t row = 0; row < 8; ++row) {
            ASSERT_EQ(texel(column, row), white) << "texel (" << column << ", " << row << ")";
            ASSERT_EQ(texel(column, 255 - row), white)
                << "texel (" << column << ", " << 255 - row << ")";
        }
    }
    // Away from the poles the ball is coloured.
    size_t coloured = 0;
    for (size_t column = 0; column < 256; column += 4) {
        const std::vector<uint8_t> c = texel(column, 128);
        coloured += (c[0] != c[1] || c[1] != c[2]) ? 1 : 0;
    }
    EXPECT_GT(coloured, 32u);
}

}  // namespace
