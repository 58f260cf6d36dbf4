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
    // (rules filled in with their behaviours)

    // ---- Row timing: delays, retriggers, cuts, slides' memories, modulation
    // (rules filled in with their behaviours)

    // ---- Notes, instruments, key-off, tremor, sample offset
    // (rules filled in with their behaviours)

    // ---- Song flow and panning memories
    // After a pattern loop has jumped in a pattern, the next pattern starts at
    // the loop's row, also when a pattern break before it on the row that
    // jumps moves on [PatLoop-Break, PatLoop-Various, pattern_loop_mpt,
    // pattern_loop_mpt_breakjump].
    bool loopRowStartsNextPattern = false;
    // E60 marks the row being played, even after an E6x of an earlier channel
    // on the same row has jumped [ft2_flow_test; no shared file shows it].
    bool loopStartIsPlayedRow = false;
    // F00 leaves the speed as it is, as other players keep it for XM files
    // [songs/roadblast.xm].
    bool speedZeroIgnored = false;
    // The volume column's panning slides act on the ticks between rows only,
    // and a slide left by 0 pans hard left there [PanSlideZero].
    bool volumePanSlideBetweenRows = false;
    // A panning envelope that waits at its sustain point stays there for the
    // rest of the note: a later key-off does not move it on [PanSustainRelease].
    bool panSustainOutlastsKeyOff = false;
    // A channel's first note starts at its sample's default volume and
    // panning, whatever rows before it set [PanMemory].
    bool firstNoteTakesSampleDefaults = false;
};

// The player's own rules: none of the behaviours above.
constexpr PlaybackRules ownRules{};

// FastTracker 2's rules: every behaviour above.
constexpr PlaybackRules ft2Rules{
    // ---- Panning
    .squareRootPanning = true,
    // ---- Pitch
    // ---- Row timing
    // ---- Notes and instruments
    // ---- Song flow
    .loopRowStartsNextPattern = true,
    .loopStartIsPlayedRow = true,
    .speedZeroIgnored = true,
    .volumePanSlideBetweenRows = true,
    .panSustainOutlastsKeyOff = true,
    .firstNoteTakesSampleDefaults = true,
};

constexpr const PlaybackRules& playbackRules(RuleSet rules) {
    return rules == RuleSet::Own ? ownRules : ft2Rules;
}

}  // namespace xmplayer
