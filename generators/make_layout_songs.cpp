// make_layout_songs: writes the songs of generators/layout_songs.h into a folder,
// the same bytes on every run. fuzz/seeds/fuzz_xm_loader holds its output.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "generators/layout_songs.h"

namespace {

constexpr const char* kUsage =
    "usage: make_layout_songs FOLDER\n"
    "\n"
    "Writes small XM songs that store the same music as versions 0x0102,\n"
    "0x0103 and 0x0104 do, with compressed samples and with chunks after the\n"
    "last sample, and songs with 24 samples in an instrument, a tempo of 343\n"
    "and sample offsets beyond the sample, into FOLDER (which must exist).\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    try {
        for (const layout::NamedModule& song : layout::makeLayoutSongs()) {
            const std::vector<uint8_t> bytes = xm::writeModule(song.module);
            const std::filesystem::path path = folder / song.fileName;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) {
                std::fprintf(stderr, "make_layout_songs: cannot write %s\n", path.string().c_str());
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_layout_songs: %s\n", error.what());
        return 1;
    }
    return 0;
}
