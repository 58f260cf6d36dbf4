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
    // A voice glides to a new volume or panning over the whole tick; a note's
    // start, what a cell sets (also by Kxx, ECx, EDx), tremor and global volume
    // take a 5 ms ramp [EnvOff, Off-Porta, TremoloWaveforms, Tremor, TremorInstr,
    // NoteOff, Porta-Pickup, PatternDelaysRetrig, keyoff+instr].
    bool volumeGlidesOverTick = false;

    // ---- Pitch: arpeggio, finetune, portamento
    // Arpeggio's step follows the ticks left in the row, not the tick [Arpeggio].
    bool arpeggioByTicksLeft = false;
    // Arpeggio's notes come from the note table: after a slide they snap to the
    // semitone, and beyond the table's top they play its last pitch
    // [ArpeggioClamp, ArpeggioClamp_old, ArpSlide_old].
    bool arpeggioFromNoteTable = false;
    // Finetune ignores its lowest 3 bits, except in songs that OpenMPT wrote
    // before 1.22.07.19, whose authors heard all of it (the tracker's
    // recordings in such files play at their pitch only so) [Finetune-Precision,
    // finetune, Arpeggio].
    bool coarseFinetune = false;
    // E5x gives the note on its row the finetune (x - 8) x 16, any other note
    // its sample's, and a tone portamento's note the one playing [finetune].
    bool finetuneOnNote = false;
    // A note that its relative note takes one below the lowest (to B-(-1))
    // starts its sample but leaves the channel's pitch as it was; without one
    // yet it stays silent [lowest, ft2_note_range].
    bool noteBelowLowestKeepsPitch = false;
    // A note that its relative note takes to the highest note (B-9) or beyond,
    // or two or more below the lowest, is not played: the cell acts as one
    // without a note, also where EDx delays it [NoteLimit, ft2_note_range].
    bool noteOutOfRangeIgnored = false;
    // Periods are 16-bit: slides up in pitch (1xx, E1x, X1x) stop at 1, slides
    // down at 31999 unless they wrap, and the frequency wraps around as the
    // tracker's octave shift does; a linear frequency steps the voice
    // exactly, below 1 Hz too [FreqWraparound].
    bool sixteenBitPeriods = false;
    // The auto-vibrato moves its phase on before it reads its wave, rises in
    // pitch while its wave is positive in either frequency table, and rounds
    // its offset toward zero [AutoVibratoSweepKeyOff, SampleChange, Off-Porta,
    // keyoff+instr].
    bool autoVibratoLeadsUpward = false;
    // E3x glissando: tone portamento moves in semitone steps [Glissando].
    bool glissando = false;
    // Tone portamento keeps the direction its note set; a period that another
    // slide moved past the target reaches the target at once
    // [PortaResetDirection].
    bool portamentoDirection = false;
    // Only a note beside a tone portamento sets its target: without one, the
    // glide goes on to the last target, whatever notes played since
    // [ft2_invalid_porta_target, ft2_k00_is_note_off, Porta-Pickup].
    bool portamentoTargetFromItsNote = false;
    // In a cell with both, the volume column's tone portamento speed (Fx, or
    // its memory for F0) prevails over 3xx's, and both glide on every tick
    // [TonePortamentoMemory, ft2_double_toneporta].
    bool volumeColumnPortamentoSpeedPrevails = false;

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
    // A key-off on an instrument without a volume envelope sets the volume to
    // 0 and starts the fade-out; a volume, Cxx or an instrument number brings
    // the note back, fading [key_off, NoteOffFadeNoEnv, ft2_note_off_fade].
    bool keyOffSilencesVolume = false;
    // Kxx releases at tick xx, before that tick's envelope step, never at or
    // beyond the speed; K00 turns the cell's note into a key-off, or is dropped
    // beside a volume-column tone portamento [ft2_kxx, ft2_k00_is_note_off,
    // key_off, Off-Porta].
    bool keyOffEffectOnTick = false;
    // An instrument number on a key-off row sets the default volume and
    // panning only: envelopes, sustain release, fade-out and the tremor count
    // go on [keyoff+instr, ft2_k00_defaults, ft2_note_off_sustain,
    // ft2_tremor_reset].
    bool keyOffRowKeepsEnvelopes = false;
    // An instrument number chooses the instrument of the next note; until it
    // plays, envelopes, fade-out and default volume stay the playing note's.
    // The fade-out step is taken at the instrument number; a note of an absent
    // instrument plays nothing and holds the envelopes where they are
    // [ft2_no_note_ins_envelope, ft2_envelope_invalid_ins, ft2_envelope_reset,
    // ft2_note_off_after_invalid_ins, ft2_instrument_fade_update,
    // ft2_note_range_instrument_fade, SampleChange].
    bool instrumentFollowsNote = false;
    // The volume column's tone portamento glides like 3xx: the note keeps the
    // playing instrument and period, and takes no sample offset [PortaDelay,
    // porta-offset, ft2_instrument_fade_update].
    bool volumeColumnPortamentoGlides = false;
    // 9xx stores its offset only when a note starts with it, and an offset at
    // or beyond the sample's end cuts the note [ft2_offset_memory,
    // porta-offset].
    bool sampleOffsetOnNoteStart = false;
    // Tremor counts on the ticks after the row tick, and a silent phase lasts
    // until the volume is set again, also after the effect stops; a volume,
    // Cxx or key-off with an instrument number sounds again without resetting
    // the count [Tremor, TremorInstr, ft2_tremor_reset].
    bool tremorHoldsVolume = false;

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

    // ---- Envelopes, tremolo, tremor
    // Lxx places an envelope past a point whose tick it names, so that a loop
    // ending there does not turn back; a sustain point there holds, also the
    // first [lxx_after_loop, NoteOff2].
    bool envelopePositionPassesPoint = false;
    // Lxx moves the panning envelope too, where the instrument's volume
    // envelope has its sustain flag set [SetEnvPos].
    bool envelopePositionMovesPanning = false;
    // Tremolo's waveform 3 is the square, as vibrato's is [TremoloWaveforms].
    bool tremoloWaveformThreeIsSquare = false;
};

// The player's own rules: none of the behaviours above.
constexpr PlaybackRules ownRules{};

// FastTracker 2's rules: every behaviour above.
constexpr PlaybackRules ft2Rules{
    // ---- Panning
    .squareRootPanning = true,
    .volumeGlidesOverTick = true,
    // ---- Pitch
    .arpeggioByTicksLeft = true,
    .arpeggioFromNoteTable = true,
    .coarseFinetune = true,
    .finetuneOnNote = true,
    .noteBelowLowestKeepsPitch = true,
    .noteOutOfRangeIgnored = true,
    .sixteenBitPeriods = true,
    .autoVibratoLeadsUpward = true,
    .glissando = true,
    .portamentoDirection = true,
    .portamentoTargetFromItsNote = true,
    .volumeColumnPortamentoSpeedPrevails = true,
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
    .keyOffSilencesVolume = true,
    .keyOffEffectOnTick = true,
    .keyOffRowKeepsEnvelopes = true,
    .instrumentFollowsNote = true,
    .volumeColumnPortamentoGlides = true,
    .sampleOffsetOnNoteStart = true,
    .tremorHoldsVolume = true,
    // ---- Song flow
    .loopRowStartsNextPattern = true,
    .loopStartIsPlayedRow = true,
    .speedZeroIgnored = true,
    .volumePanSlideBetweenRows = true,
    .panSustainOutlastsKeyOff = true,
    .firstNoteTakesSampleDefaults = true,
    // ---- Envelopes, tremolo, tremor
    .envelopePositionPassesPoint = true,
    .envelopePositionMovesPanning = true,
    .tremoloWaveformThreeIsSquare = true,
};

constexpr const PlaybackRules& playbackRules(RuleSet rules) {
    return rules == RuleSet::Own ? ownRules : ft2Rules;
}

}  // namespace xmplayer
