// The effect numbers of the pattern's effect column and the sub-commands of
// the extended effect, as the XM format stores them.
#pragma once

#include <cstdint>

namespace xmplayer {

// Effect numbers of the pattern's effect column, as the format numbers them
// (0..9, then A = 10 ... Z = 35). Other values are kept and do nothing.
enum class Effect : uint8_t {
    Arpeggio = 0,
    PortamentoUp = 1,
    PortamentoDown = 2,
    TonePortamento = 3,
    Vibrato = 4,
    TonePortamentoVolumeSlide = 5,
    VibratoVolumeSlide = 6,
    Tremolo = 7,
    SetPanning = 8,
    SampleOffset = 9,
    VolumeSlide = 10,
    PositionJump = 11,
    SetVolume = 12,
    PatternBreak = 13,
    Extended = 14,
    SpeedTempo = 15,
    SetGlobalVolume = 16,
    GlobalVolumeSlide = 17,
    KeyOff = 20,
    SetEnvelopePosition = 21,
    PanningSlide = 25,
    MultiRetrigger = 27,
    Tremor = 29,
    ExtraFinePortamento = 33,
};

// Sub-commands of the extended effect (the parameter's high nibble).
enum class ExtendedCommand : uint8_t {
    FinePortamentoUp = 0x1,
    FinePortamentoDown = 0x2,
    Glissando = 0x3,
    VibratoWaveform = 0x4,
    SetFinetune = 0x5,
    PatternLoop = 0x6,
    TremoloWaveform = 0x7,
    CoarsePanning = 0x8,
    RetriggerNote = 0x9,
    FineVolumeUp = 0xA,
    FineVolumeDown = 0xB,
    NoteCut = 0xC,
    NoteDelay = 0xD,
    PatternDelay = 0xE,
};

}  // namespace xmplayer
