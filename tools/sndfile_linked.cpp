#include "tools/sndfile_calls.h"

const SndfileCalls* sndfileCalls(std::string&) {
    static constexpr SndfileCalls linked{sf_command,      sf_open_virtual, sf_strerror,
                                         sf_writef_float, sf_writef_short, sf_close};
    return &linked;
}
