// The rules a playback follows, as one record of named behaviours: each field
// is one way in which FastTracker 2 plays XM files differently from the
// player's own rules, with the test files that show it in brackets. The
// sequencer and the voice update ask this record, never anything global.
#pragma once

#include "player/sequencer/rule_set.h"

namespace xmplayer {

struct PlaybackRules {
    // ---- Panning and the voice's gains
    // Panning 0 is the left side and 255 the right, and each side's gain
    // follows the square root of its share [FT2PanLaw, stereo, read_event_ft2,
    // SampleChange].
    bool squareRootPanning = false;

    // ---- Pitch: arpeggio, finetune, portamento
    // Arpeggio's step follows the ticks left in the row, not the tick [Arpeggio].
    bool arpeggioByTicksLeft = false;
    // Arpeggio's notes come from the note table: after a slide they snap to the
    // semitone, and beyond the table's top they play its last pitch
    // [ArpeggioClamp, ArpeggioClamp_old, ArpSlide_old].
    bool arpeggioFromNoteTable = false;
    // Finetune ignores its lowest 3 bits [Finetune-Precision, finetune].
    bool coarseFinetune = false;
    // E5x gives the note on its row the finetune (x - 8) x 16, any other note
    // its sample's, and a tone portamento's note the one playing [finetune].
    bool finetuneOnNote = false;
    // Periods are 16-bit: slides up in pitch (1xx, E1x, X1x) stop at 1, slides
    // down at 32000 unless they wrap, and the frequency wraps around as the
    // tracker's octave shift does [FreqWraparound].
    bool sixteenBitPeriods = false;
    // E3x glissando: tone portamento moves in semitone steps [Glissando].
    bool glissando = false;
    // Tone portamento keeps the direction its note set; a period that another
    // slide moved past the target reaches the target at once
    // [PortaResetDirection].
    bool portamentoDirection = false;

    // ---- Row timing: delays, retriggers, cuts, slides' memories, modulation
    // (rules filled in with their behaviours)

    // ---- Notes, instruments, key-off, tremor, sample offset
    // (rules filled in with their behaviours)

    // ---- Song flow and panning memories
    // (rules filled in with their behaviours)
};

// The player's own rules: none of the behaviours above.
constexpr PlaybackRules ownRules{};

// FastTracker 2's rules: every behaviour above.
constexpr PlaybackRules ft2Rules{
    // ---- Panning
    .squareRootPanning = true,
    // ---- Pitch
    .arpeggioByTicksLeft = true,
    .arpeggioFromNoteTable = true,
    .coarseFinetune = true,
    .finetuneOnNote = true,
    .sixteenBitPeriods = true,
    .glissando = true,
    .portamentoDirection = true,
    // ---- Row timing
    // ---- Notes and instruments
    // ---- Song flow
};

constexpr const PlaybackRules& playbackRules(RuleSet rules) {
    return rules == RuleSet::Own ? ownRules : ft2Rules;
}

}  // namespace xmplayer
