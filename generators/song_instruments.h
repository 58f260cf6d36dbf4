// The synthesised instruments of the demo's song.
#pragma once

#include <cstdint>
#include <vector>

#include "generators/xm_writer.h"

namespace song {

// Instrument numbers as pattern cells name them (counted from 1).
enum Instrument : uint8_t {
    Kick = 1,
    Snare = 2,
    Hats = 3,
    Bass = 4,
    Pad = 5,
    Lead = 6,
    Pluck = 7,
};

// The seven instruments in number order. The hats instrument plays its closed
// sample below C-5 and its open sample from C-5 up; every other instrument
// has one sample. Drums sound their natural pitch at C-4; the tonal
// instruments are tuned so that a note sounds at its name's pitch (A-4 at
// 440 Hz).
std::vector<xm::Instrument> makeInstruments();

}  // namespace song
