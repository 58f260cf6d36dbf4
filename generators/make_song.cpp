// make_song: writes the demo's song, "Pyramid Sunrise", as an XM file.
//
// Everything in the file comes from code: the instruments are synthesised
// with integer arithmetic from fixed seeds (generators/synth.h,
// generators/song_instruments.cpp) and the patterns are written out by the
// arrangement (generators/song_arrangement.cpp, which describes the piece), so
// every run writes the same bytes on every machine. The committed
// assets/song.xm is this program's output; a test checks that they agree.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "generators/song_arrangement.h"
#include "generators/xm_writer.h"
#include "player/player.h"

namespace {

constexpr const char* kUsage =
    "usage: make_song OUTPUT.xm\n"
    "\n"
    "Composes the demo's song (instruments synthesised, patterns arranged in\n"
    "code) and writes it to OUTPUT.xm. The output is the same on every run;\n"
    "assets/song.xm is made with it.\n"
    "\n"
    "options:\n"
    "  -h, --help   show this help\n";

std::string seconds(int64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%01lld s", static_cast<long long>(milliseconds / 1000),
                  static_cast<long long>(milliseconds % 1000 / 100));
    return text;
}

// The song's length as the player measures the file: the generator has no
// timing rules of its own to drift away from the player's.
bool measureWrittenSong(const std::string& path, xmplayer::SongDuration& duration,
                        std::string& error) {
    xmplayer::Song* song = xmplayer::loadSongFile(path.c_str(), &error);
    if (song == nullptr) {
        return false;
    }
    duration = xmplayer::measureSong(*song, 44100, xmplayer::RuleSet::Own);
    xmplayer::freeSong(song);
    return true;
}

// Writes through a temporary file beside the target, so that a failed write
// never leaves a truncated song behind.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const std::string temporary = path + ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = std::strerror(errno);
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            error = "write failed";
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = ec.message();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string path = argv[1];

    try {
        std::printf("make_song: synthesising the instruments and arranging the patterns\n");
        const xm::Module song = song::composeSong();
        const std::vector<uint8_t> bytes = xm::writeModule(song);

        std::string error;
        if (!writeFile(path, bytes, error)) {
            std::fprintf(stderr, "make_song: cannot write %s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        xmplayer::SongDuration length{};
        if (!measureWrittenSong(path, length, error)) {
            std::fprintf(stderr, "make_song: the player refuses the song written to %s: %s\n",
                         path.c_str(), error.c_str());
            return 1;
        }
        size_t samples = 0;
        for (const xm::Instrument& in : song.instruments) {
            samples += in.samples.size();
        }
        std::printf("make_song: wrote %s: %zu bytes, \"%s\"\n", path.c_str(), bytes.size(),
                    song.name.c_str());
        std::printf("  %d channels, %zu orders, %zu patterns, %zu instruments, %zu samples\n",
                    song.channels, song.orders.size(), song.patterns.size(),
                    song.instruments.size(), samples);
        if (length.comesBack) {
            std::printf("  plays %s, then loops from order %d, row %d every %s\n",
                        seconds(length.milliseconds).c_str(), length.loopOrder, length.loopRow,
                        seconds(length.milliseconds - length.loopStartMilliseconds).c_str());
        } else {
            std::printf("  plays %s and does not come back to a row it played\n",
                        seconds(length.milliseconds).c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_song: cannot build the song: %s\n", e.what());
        return 1;
    }
}
