#include "tools/song_file.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "player/song/stream.h"

namespace {

constexpr std::size_t titleOffset = 17;
constexpr std::size_t titleLength = 20;

// The stream layer only says that a file could not be opened; the system
// knows why.
bool canOpen(const std::string& path, std::string& reason) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    std::fclose(probe);
    return true;
}

}  // namespace

Song* loadSongFile(const std::string& path, std::string& reason) {
    if (!canOpen(path, reason)) {
        return nullptr;
    }
    registerFileStream();
    std::string loaderReason;
    Song* song = loadSong(path.c_str(), nullptr, &loaderReason);
    if (song == nullptr) {
        reason = loaderReason.empty() ? "the file was refused" : loaderReason;
    }
    return song;
}

Song* loadSongFile(const std::string& path, std::string& reason, XmFileFacts& facts) {
    facts = {};
    if (!canOpen(path, reason)) {
        return nullptr;
    }
    registerFileStream();
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    SongStream* stream = streamOpen(path.c_str());
    if (song == nullptr || stream == nullptr) {
        std::free(song);
        streamClose(stream);
        reason = "the file could not be read";
        return nullptr;
    }
    const bool loaded = readXmSong(song, stream, &reason, &facts);
    streamClose(stream);
    if (!loaded) {
        freeSong(song);
        return nullptr;
    }
    return song;
}

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
