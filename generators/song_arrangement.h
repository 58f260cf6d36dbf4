// The demo's song: its patterns, order list and instruments.
#pragma once

#include "generators/xm_writer.h"

namespace song {

// The complete module, built the same way on every run.
xm::Module composeSong();

}  // namespace song
