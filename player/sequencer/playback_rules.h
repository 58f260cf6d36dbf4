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
    // A pattern-delayed row (EEx) plays its ticks 0 to speed - 1 again for each
    // repetition, and the tick effects act in every one [DelayCombination,
    // PatternDelay-NoteDelay, retrig].
    bool patternDelayRepeatsTicks = false;
    // A note delay (EDx, x > 0) holds the whole cell until its tick: it then
    // plays the cell's note (or the channel's last one), applies the sample's
    // defaults only for an instrument number, restarts the envelopes and takes
    // the volume column's volume or panning; a key-off there cuts a note without
    // a volume envelope, restarts neither the sample nor a panning, and leaves
    // the envelopes unreleased; ED0 is no delay [delay1, delay3, delaycut,
    // DelayVolume, VolColDelay, NoteOff, OffDelay, PanOff, ft2_delay_*].
    bool noteDelayHoldsCell = false;
    // E90 retriggers the note at the row tick and EC0 cuts it there [E90,
    // ft2_invalid_ins_defaults].
    bool retriggerAndCutAtRowTick = false;
    // Fine volume slides up and down (EAx, EBx) keep separate memories
    // [FineVol-LinkMem].
    bool separateFineVolumeMemories = false;
    // A global volume change (Gxx, Hxy) reaches every channel's voice on the
    // tick it happens [GlobalVolume].
    bool globalVolumeReachesEveryChannel = false;
    // Rxy counts its ticks on across rows and restarts the count at each
    // retrigger [RetrigTick0, retrig].
    bool retriggerCountRunsOn = false;
    // On the row tick of a tremolo that goes on, the voice keeps the volume of
    // the tremolo's last tick [TremoloVibrato, TremoloWaveforms].
    bool tremoloHoldsRowTick = false;
    // Tremolo's ramp-down waveform turns over with the vibrato's phase, not its
    // own [TremoloVibrato, TremoloWaveforms].
    bool tremoloRampFollowsVibrato = false;
    // In a cell with both, 4xy's vibrato depth prevails over the volume
    // column's on every tick [VibratoDouble].
    bool vibratoEffectDepthPrevails = false;

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
    // ---- Row timing
    .patternDelayRepeatsTicks = true,
    .noteDelayHoldsCell = true,
    .retriggerAndCutAtRowTick = true,
    .separateFineVolumeMemories = true,
    .globalVolumeReachesEveryChannel = true,
    .retriggerCountRunsOn = true,
    .tremoloHoldsRowTick = true,
    .tremoloRampFollowsVibrato = true,
    .vibratoEffectDepthPrevails = true,
    // ---- Notes and instruments
    // ---- Song flow
};

constexpr const PlaybackRules& playbackRules(RuleSet rules) {
    return rules == RuleSet::Own ? ownRules : ft2Rules;
}

}  // namespace xmplayer
