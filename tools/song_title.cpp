#include "tools/song_title.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::size_t titleOffset = 17;
constexpr std::size_t titleLength = 20;

}  // namespace

std::string readSongTitle(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return {};
    }
    std::array<char, titleOffset + titleLength> header{};
    const std::size_t got = std::fread(header.data(), 1, header.size(), file);
    std::fclose(file);
    if (got < header.size()) {
        return {};
    }
    std::string title;
    for (std::size_t i = titleOffset; i < header.size() && header[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(header[i]);
        title += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    const auto end = title.find_last_not_of(' ');
    title.erase(end == std::string::npos ? 0 : end + 1);
    const auto start = title.find_first_not_of(' ');
    return start == std::string::npos ? std::string{} : title.substr(start);
}
