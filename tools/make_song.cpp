// make_song: writes the demo's song, "Pyramid Sunrise", as an XM file.
//
// Everything in the file comes from code: the instruments are synthesised
// with integer arithmetic from fixed seeds (tools/synth.h,
// tools/song_instruments.cpp) and the patterns are written out by the
// arrangement (tools/song_arrangement.cpp, which describes the piece), so
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

#include "tools/song_arrangement.h"
#include "tools/song_timing.h"
#include "tools/xm_writer.h"

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

std::string seconds(int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%01lld s",
                  static_cast<long long>(microseconds / 1000000),
                  static_cast<long long>(microseconds % 1000000 / 100000));
    return text;
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
        const xm::PlayLength length = xm::measurePlayLength(song);

        std::string error;
        if (!writeFile(path, bytes, error)) {
            std::fprintf(stderr, "make_song: cannot write %s: %s\n", path.c_str(), error.c_str());
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
        std::printf("  plays %s (%d rows), then loops from order %d every %s\n",
                    seconds(length.firstPassMicroseconds).c_str(), length.firstPassRows,
                    length.loopOrder, seconds(length.loopMicroseconds).c_str());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_song: cannot build the song: %s\n", e.what());
        return 1;
    }
}
