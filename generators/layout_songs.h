// Small songs in every way of storing an XM file that the player reads: the
// same music laid out as versions 0x0102, 0x0103 and 0x0104 write it, with
// compressed samples and with chunks after the last sample, and songs that
// use what later trackers allow (many samples in one instrument, tempos above
// 255) or a sample offset beyond the sample. They are the loader's test
// files, the XM fuzzer's seeds and the songs compared with other players.
#pragma once

#include <string>
#include <vector>

#include "generators/xm_writer.h"

namespace layout {

struct NamedModule {
    std::string fileName;
    xm::Module module;
};

// Four channels of 8-bit instruments (lead, bass, drum) over four patterns,
// as version 0x0104 stores it; every sample steps by at most 16 different
// amounts, so that it can also be stored compressed.
xm::Module plainSong();

// The same music stored in each other way, the songs of later trackers and
// the sample-offset song, in a fixed order, each with its file name.
std::vector<NamedModule> makeLayoutSongs();

}  // namespace layout
