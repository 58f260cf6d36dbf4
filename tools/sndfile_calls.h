// The libsndfile calls that audio files are written with. Where the tools
// link libsndfile (the Windows builds, statically) they are its own; on Linux
// the library is opened the first time a file is written, so that rendering
// raw PCM, measuring or showing help never pays for loading it and the
// codecs it depends on.
#pragma once

#include <sndfile.h>

#include <string>

struct SndfileCalls {
    decltype(&sf_command) command;
    decltype(&sf_open_virtual) openVirtual;
    decltype(&sf_strerror) describeError;
    decltype(&sf_writef_float) writeFloatFrames;
    decltype(&sf_writef_short) writeShortFrames;
    decltype(&sf_close) close;
};

// The calls, or null with the reason in `error` when the library cannot be
// loaded. A loaded library stays for the rest of the program.
const SndfileCalls* sndfileCalls(std::string& error);
