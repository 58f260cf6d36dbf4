// Writes the demo's "Texture.bmp": a 256 x 256 24-bit Windows bitmap of a
// beach ball, six coloured gores between white polar caps.
//
// The ball's texture coordinates run around the sphere in s and from pole to
// pole in t, so the gores are columns and the caps are the bottom and top rows.
// The pyramid and the cube are modulated by a single texel near a corner or a
// pole row, so those rows are kept pure white. Only integer arithmetic is
// used, so the file is the same byte for byte on every machine.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t size = 256;
constexpr int32_t goreCount = 6;
constexpr int32_t capRows = 32;  // rows of white cap at each pole
constexpr int32_t ringRows = 3;  // dark ring where a cap meets the gores
constexpr uint32_t headerBytes = 14 + 40;
constexpr uint32_t pixelBytes = size * size * 3;  // rows of 768 bytes need no padding

struct Rgb {
    int32_t red, green, blue;
};

constexpr Rgb white{255, 255, 255};
constexpr Rgb seam{70, 70, 80};
constexpr std::array<Rgb, goreCount> goreColours{{
    {250, 70, 60},    // red
    {255, 215, 40},   // yellow
    {60, 150, 255},   // blue
    {255, 255, 255},  // white
    {80, 220, 110},   // green
    {255, 140, 30},   // orange
}};

int32_t goreOf(int32_t column) {
    return (column * goreCount) / size;
}

bool isGoreSeam(int32_t column) {
    const int32_t left = (column + size - 1) % size;
    const int32_t right = (column + 1) % size;
    return goreOf(left) != goreOf(column) || goreOf(right) != goreOf(column);
}

// A small fixed grain on the gores, so that they read as fabric rather than
// flat paint.
int32_t grain(int32_t column, int32_t row) {
    uint32_t hash =
        static_cast<uint32_t>(column) * 73856093u ^ static_cast<uint32_t>(row) * 19349663u;
    hash ^= hash >> 13;
    hash *= 0x5bd1e995u;
    hash ^= hash >> 15;
    return static_cast<int32_t>(hash % 13u) - 6;
}

int32_t clampByte(int32_t value) {
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

// Row 0 is the bottom row of the picture, t = 0 on the ball.
Rgb texel(int32_t column, int32_t row) {
    if (row < capRows || row >= size - capRows) {
        return white;
    }
    if (row < capRows + ringRows || row >= size - capRows - ringRows || isGoreSeam(column)) {
        return seam;
    }
    const Rgb base = goreColours[static_cast<size_t>(goreOf(column))];
    const int32_t offset = grain(column, row);
    return {clampByte(base.red + offset), clampByte(base.green + offset),
            clampByte(base.blue + offset)};
}

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value & 0xFFu));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFFu));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

std::vector<uint8_t> makeTextureBitmap() {
    std::vector<uint8_t> out;
    out.reserve(headerBytes + pixelBytes);
    // File header: "BM", file size, two reserved words, offset of the bits.
    out.push_back('B');
    out.push_back('M');
    put32(out, headerBytes + pixelBytes);
    put32(out, 0);
    put32(out, headerBytes);
    // 40-byte info header: bottom-up, one plane, 24 bits, uncompressed,
    // 72 dots per inch.
    put32(out, 40);
    put32(out, size);
    put32(out, size);
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, pixelBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int32_t row = 0; row < size; ++row) {
        for (int32_t column = 0; column < size; ++column) {
            const Rgb colour = texel(column, row);
            out.push_back(static_cast<uint8_t>(colour.blue));
            out.push_back(static_cast<uint8_t>(colour.green));
            out.push_back(static_cast<uint8_t>(colour.red));
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\nWrites the demo's 256 x 256 ball texture.\n",
                     argc > 0 ? argv[0] : "make_texture");
        return 2;
    }
    const char* path = argv[1];
    const std::vector<uint8_t> bitmap = makeTextureBitmap();
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_texture: cannot create %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    const size_t written = std::fwrite(bitmap.data(), 1, bitmap.size(), file);
    const bool closed = std::fclose(file) == 0;
    if (written != bitmap.size() || !closed) {
        std::fprintf(stderr, "make_texture: writing %s failed\n", path);
        std::remove(path);
        return 1;
    }
    std::printf("Wrote %s (%d x %d, 24 bits per pixel, %zu bytes)\n", path, size, size,
                bitmap.size());
    return 0;
}
