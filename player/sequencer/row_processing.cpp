#include "player/sequencer/row_processing.h"

#include <algorithm>

#include "player/sequencer/arithmetic.h"
#include "player/sequencer/envelope.h"
#include "player/sequencer/modulation.h"
#include "player/sequencer/pitch.h"
#include "player/sequencer/sequencer_state.h"
#include "player/sequencer/song_lookup.h"
#include "player/sequencer/tick_effects.h"

namespace xmplayer {

namespace {

constexpr int32_t noFade = 65536;
constexpr int32_t highestBreakRow = 63;
constexpr int32_t highestRealNote = 119;

// What one row tick needs besides the channel and its cell.
struct RowContext {
    Sequencer& sequencer;
    const Instrument* instrument;
    const Sample* sample;
    int8_t* finetune;  // where this playback keeps the sample's; null for none
    bool jumped;       // a position jump earlier in this row
};

int8_t finetuneOf(const RowContext& row) {
    return row.finetune != nullptr ? *row.finetune : row.sample->finetune;
}

// The channel state that a note delay puts back at the row tick.
struct HeldState {
    int32_t volume;
    int32_t period;
    int32_t panning;
};

void slideVolumeUp(MusicChannel* channel, int32_t amount) {
    channel->volume = std::min(channel->volume + amount, 64);
    channel->tremorSilenced = 0;
}

void slideVolumeDown(MusicChannel* channel, int32_t amount) {
    channel->volume = std::max(channel->volume - amount, 0);
    channel->tremorSilenced = 0;
}

// Rxy at the row tick where its count runs on: each nibble is kept apart,
// and the row tick counts as one of the ticks, unless the volume column sets
// a volume above 0 (0x10 sets none in this respect).
void countRetriggerAtRowTick(MusicChannel* channel, const PatternNote& cell, uint8_t x, uint8_t y) {
    if (x != 0) {
        channel->retrigVolumeAction = x;
    }
    if (y != 0) {
        channel->retrigInterval = y;
    }
    if (cell.volumeColumn <= 0x10 || cell.volumeColumn > 0x50) {
        countRetrigger(channel);
    }
}

void applyExtended(MusicChannel* channel, const PatternNote& cell, RowContext& row,
                   const HeldState& held) {
    const uint8_t y = cell.effectParam & 0x0F;
    Sequencer& sequencer = row.sequencer;
    switch (extendedCommandOf(cell)) {
        case ExtendedCommand::FinePortamentoUp:
            if (y != 0) {
                channel->finePortaUpParam = y;
            }
            channel->period =
                sequencer.rules.sixteenBitPeriods
                    ? periodSlidUpIn16Bits(channel->period, 4 * channel->finePortaUpParam)
                    : boundedPeriod(int64_t{channel->period} - 4 * channel->finePortaUpParam);
            break;
        case ExtendedCommand::FinePortamentoDown:
            if (y != 0) {
                channel->finePortaDownParam = y;
            }
            channel->period =
                sequencer.rules.sixteenBitPeriods
                    ? periodSlidDownIn16Bits(channel->period, 4 * channel->finePortaDownParam)
                    : boundedPeriod(int64_t{channel->period} + 4 * channel->finePortaDownParam);
            break;
        case ExtendedCommand::Glissando:
            channel->glissando = y;
            break;
        case ExtendedCommand::VibratoWaveform:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
            break;
        case ExtendedCommand::SetFinetune:
            // The finetune lasts for later notes of the sample in this
            // playback; the empty sample's stays 0. Under FastTracker 2's
            // rules it is the note's on this row alone (see noteFinetune).
            if (row.finetune != nullptr && !sequencer.rules.finetuneOnNote) {
                *row.finetune = static_cast<int8_t>(y);
            }
            break;
        case ExtendedCommand::PatternLoop:
            if (y == 0) {
                channel->loopRow =
                    sequencer.rules.loopStartIsPlayedRow ? sequencer.processedRow : sequencer.row;
            } else {
                channel->loopCount = channel->loopCount == 0 ? y : channel->loopCount - 1;
                if (channel->loopCount != 0) {
                    sequencer.row = channel->loopRow - 1;
                    if (sequencer.rules.loopRowStartsNextPattern) {
                        sequencer.patternStartRow = channel->loopRow;
                        // A pattern break earlier on this row moves on to
                        // the loop's row of the next pattern; a position
                        // jump keeps its first row.
                        if (sequencer.nextRow >= 0 && !row.jumped) {
                            sequencer.nextRow = channel->loopRow;
                        }
                    }
                }
            }
            break;
        case ExtendedCommand::TremoloWaveform:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
            break;
        case ExtendedCommand::CoarsePanning:
            channel->panning = 16 * y;
            channel->flags |= PanningChanged;
            break;
        case ExtendedCommand::FineVolumeUp:
            if (y != 0) {
                channel->fineVolSlideParam = y;
            }
            slideVolumeUp(channel, channel->fineVolSlideParam);
            channel->flags |= VolumeChanged;
            break;
        case ExtendedCommand::FineVolumeDown:
            if (sequencer.rules.separateFineVolumeMemories) {
                if (y != 0) {
                    channel->fineVolDownParam = y;
                }
                slideVolumeDown(channel, channel->fineVolDownParam);
                channel->flags |= VolumeChanged;
                break;
            }
            if (y != 0) {
                channel->fineVolSlideParam = y;
            }
            slideVolumeDown(channel, channel->fineVolSlideParam);
            channel->flags |= VolumeChanged;
            break;
        case ExtendedCommand::RetriggerNote:
            if (y == 0 && sequencer.rules.retriggerAndCutAtRowTick) {
                channel->flags |= StartNote;
            }
            break;
        case ExtendedCommand::NoteCut:
            if (y == 0 && sequencer.rules.retriggerAndCutAtRowTick) {
                channel->volume = 0;
                channel->flags |= VolumeChanged;
            }
            break;
        case ExtendedCommand::NoteDelay:
            if (sequencer.rules.noteDelayHoldsCell) {
                break;  // ED0 is no delay; a longer one never reaches here
            }
            // The note starts on tick y instead (see the tick effects).
            channel->volume = held.volume;
            channel->period = held.period;
            channel->panning = held.panning;
            channel->flags &= ~(FrequencyChanged | VolumeChanged | PanningChanged | StartNote);
            break;
        case ExtendedCommand::PatternDelay:
            if (sequencer.rules.patternDelayRepeatsTicks) {
                sequencer.patternDelayRows = y;
            } else {
                sequencer.patternDelayTicks = y * sequencer.speed;
            }
            break;
        default:
            break;
    }
}

// 9xx where it acts only with a note that starts: an offset at or beyond the
// sample's end starts the note on the empty sample, silent, and the old note
// ramps out.
void applyOffsetOnNoteStart(MusicChannel* channel, uint8_t param, RowContext& row) {
    if ((channel->flags & StartNote) == 0) {
        return;
    }
    if (param != 0) {
        channel->sampleOffsetParam = param;
    }
    const uint64_t offset = uint64_t{static_cast<uint32_t>(channel->sampleOffsetParam)} * 256;
    if (offset >= row.sample->length) {
        row.sample = &emptySample;
    } else if (channel->voice != nullptr) {
        channel->voice->startOffset = static_cast<uint32_t>(offset);
    }
}

void applyEffect(MusicChannel* channel, const PatternNote& cell, RowContext& row,
                 const HeldState& held) {
    const uint8_t param = cell.effectParam;
    const uint8_t x = param >> 4;
    const uint8_t y = param & 0x0F;
    Sequencer& sequencer = row.sequencer;
    const Song* song = sequencer.song;
    switch (effectOf(cell)) {
        case Effect::PortamentoUp:
            if (param != 0) {
                channel->portaUpParam = param;
            }
            break;
        case Effect::PortamentoDown:
            if (param != 0) {
                channel->portaDownParam = param;
            }
            break;
        case Effect::TonePortamento:
            // Beside a volume-column tone portamento its speed (or memory)
            // is the one taken.
            if (param != 0 && !(sequencer.rules.volumeColumnPortamentoSpeedPrevails &&
                                (cell.volumeColumn >> 4) == 0xF)) {
                channel->portaSpeed = param;
            }
            channel->portaTarget = channel->notePeriod;
            channel->flags &= ~(StartNote | FrequencyChanged);
            break;
        case Effect::Vibrato:
            if (x != 0) {
                channel->vibratoSpeed = x;
            }
            if (y != 0) {
                channel->vibratoDepth = y;
            }
            vibrato(channel);
            break;
        case Effect::TonePortamentoVolumeSlide:
            channel->portaTarget = channel->notePeriod;
            if (param != 0) {
                channel->volSlideParam = param;
            }
            channel->flags &= ~(StartNote | FrequencyChanged);
            break;
        case Effect::VibratoVolumeSlide:
            if (param != 0) {
                channel->volSlideParam = param;
            }
            vibrato(channel);
            break;
        case Effect::Tremolo:
            if (x != 0) {
                channel->tremoloSpeed = x;
            }
            if (y != 0) {
                channel->tremoloDepth = y;
            }
            break;
        case Effect::SetPanning:
            channel->panning = param;
            channel->flags |= PanningChanged;
            break;
        case Effect::SampleOffset: {
            if (sequencer.rules.sampleOffsetOnNoteStart) {
                applyOffsetOnNoteStart(channel, param, row);
                break;
            }
            if (param != 0) {
                channel->sampleOffsetParam = param;
            }
            const uint64_t offset =
                uint64_t{static_cast<uint32_t>(channel->sampleOffsetParam)} * 256;
            const uint64_t loopEnd = uint64_t{row.sample->loopStart} + row.sample->loopLength;
            if (offset < loopEnd) {
                if (channel->voice != nullptr) {
                    channel->voice->startOffset = static_cast<uint32_t>(offset);
                }
            } else if ((channel->flags & StartNote) != 0) {
                // Nothing of the sample is left to play: the note starts on
                // the empty sample, so the old note ramps out on the twin and
                // the row is silent, whatever the previous voice played.
                row.sample = &emptySample;
            } else {
                channel->flags = static_cast<uint8_t>((channel->flags & ~StartNote) | RewindVoice);
            }
            break;
        }
        case Effect::VolumeSlide:
            if (param != 0) {
                channel->volSlideParam = param;
            }
            break;
        case Effect::PositionJump:
            sequencer.nextRow = 0;
            sequencer.nextOrder = param >= playedSongLength(song) ? 0 : param;
            row.jumped = true;
            break;
        case Effect::SetVolume:
            channel->volume = param;
            channel->tremorSilenced = 0;
            channel->flags |= VolumeChanged;
            break;
        case Effect::PatternBreak: {
            const int32_t target = x * 10 + y;
            sequencer.nextRow = target > highestBreakRow ? 0 : target;
            if (!row.jumped) {
                sequencer.nextOrder = sequencer.orderPos + 1;
            }
            if (sequencer.nextOrder >= playedSongLength(song)) {
                sequencer.nextOrder = 0;
            }
            break;
        }
        case Effect::Extended:
            applyExtended(channel, cell, row, held);
            break;
        case Effect::SpeedTempo:
            if (param < 32) {
                if (param != 0 || !sequencer.rules.speedZeroIgnored) {
                    sequencer.speed = param;
                }
            } else {
                setTempo(sequencer, param);
            }
            break;
        case Effect::SetGlobalVolume:
            sequencer.globalVolume = std::min<int32_t>(param, 64);
            sequencer.globalVolumeTouched = true;
            channel->flags |= VolumeChanged;
            break;
        case Effect::GlobalVolumeSlide:
            if (param != 0) {
                sequencer.globalVolSlideParam = param;
            }
            break;
        case Effect::SetEnvelopePosition: {
            const EnvelopeShape volume = volumeEnvelopeShape(row.instrument);
            if (envelopeActive(volume)) {
                setEnvelopePosition(volumeEnvelopeState(channel), volume, param,
                                    sequencer.rules.envelopePositionPassesPoint);
            }
            // The panning envelope follows where the volume envelope has a
            // sustain point, whether or not that envelope is on.
            const EnvelopeShape panning = panningEnvelopeShape(row.instrument);
            if (sequencer.rules.envelopePositionMovesPanning &&
                (volume.flags & envelopeSustain) != 0 && envelopeActive(panning)) {
                setEnvelopePosition(panningEnvelopeState(channel), panning, param, true);
            }
            break;
        }
        case Effect::PanningSlide:
            if (param != 0) {
                channel->panSlideParam = param;
                channel->flags |= PanningChanged;
            }
            break;
        case Effect::MultiRetrigger:
            if (sequencer.rules.retriggerCountRunsOn) {
                countRetriggerAtRowTick(channel, cell, x, y);
                break;
            }
            if (param != 0) {
                channel->retrigVolumeAction = x;
                channel->retrigInterval = y;
            }
            break;
        case Effect::Tremor:
            if (param != 0) {
                channel->tremorOnTicks = static_cast<uint8_t>(x + 1);
                channel->tremorOffTicks = static_cast<uint8_t>(y + 1);
            }
            if (!sequencer.rules.tremorHoldsVolume) {
                tremor(channel);
            }
            break;
        case Effect::ExtraFinePortamento:
            if (x == 1) {
                if (y != 0) {
                    channel->xfinePortaUpParam = y;
                }
                channel->period =
                    sequencer.rules.sixteenBitPeriods
                        ? periodSlidUpIn16Bits(channel->period, channel->xfinePortaUpParam)
                        : boundedPeriod(int64_t{channel->period} - channel->xfinePortaUpParam);
            } else if (x == 2) {
                if (y != 0) {
                    channel->xfinePortaDownParam = y;
                }
                channel->period =
                    sequencer.rules.sixteenBitPeriods
                        ? periodSlidDownIn16Bits(channel->period, channel->xfinePortaDownParam)
                        : boundedPeriod(int64_t{channel->period} + channel->xfinePortaDownParam);
            }
            break;
        default:
            break;
    }
}

bool isVolumeColumnPortamento(uint8_t volumeColumn) {
    return (volumeColumn >> 4) == 0xF;
}

// The cell's note as the rules read it: where Kxx acts on its tick, K00 stands
// for a key-off in the note column, except beside a volume-column tone
// portamento, where it is dropped.
uint8_t cellNote(const PatternNote& cell, const PlaybackRules& rules) {
    if (rules.keyOffEffectOnTick && effectOf(cell) == Effect::KeyOff && cell.effectParam == 0 &&
        !isVolumeColumnPortamento(cell.volumeColumn)) {
        return keyOffNote;
    }
    return cell.note;
}

// Whether the rules leave the cell's note unplayed: the sample it would play
// takes it by its relative note to the highest note or beyond, or two or more
// below the lowest, notes that the tracker does not play.
bool noteIgnored(const Song* song, const MusicChannel* channel, const PatternNote& cell,
                 const PlaybackRules& rules) {
    const uint8_t note = cell.note;
    if (!rules.noteOutOfRangeIgnored || !isPlayableNote(note)) {
        return false;
    }
    MusicChannel next = *channel;
    if (cell.instrument != 0) {
        next.instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    } else if (rules.instrumentFollowsNote) {
        next.instrumentIndex = channel->chosenInstrument;
    }
    next.noteIndex = static_cast<uint8_t>(note - 1);
    const int32_t realNote =
        note - 1 + channelSample(channelInstrument(song, &next), &next)->relativeNote;
    return realNote >= highestRealNote || realNote < -1;
}

// The key-off of a note whose volume falls to 0 when its instrument has no
// volume envelope, to be set again by what follows in the row.
void releaseSilencingVolume(MusicChannel* channel, const Instrument* instrument) {
    channel->keyOff = 1;
    if (!envelopeActive(volumeEnvelopeShape(instrument))) {
        channel->volume = 0;
        channel->flags |= VolumeChanged;
    }
}

// FastTracker 2's empty instrument slots fade out by 0x80 (kept doubled).
constexpr int32_t emptyInstrumentFadeOut = 0x100;

// The reset that a cell's instrument number causes. Where the instrument
// number chooses the next note's instrument, the reset acts on the playing
// instrument: envelopes it lacks keep their walk, so that a later note of an
// instrument that has them goes on from there, and its fade-out step is taken.
void resetInstrument(MusicChannel* channel, const RowContext& row) {
    MusicChannel before = *channel;
    resetChannel(channel, row.sample);
    chooseQuickRamp(row.sequencer, channel, true);
    if (!row.sequencer.rules.instrumentFollowsNote) {
        return;
    }
    // The walk goes on from where it stood.
    const auto keepWalk = [](const EnvelopeState& now, const EnvelopeState& was) {
        *now.point = *was.point;
        *now.tick = *was.tick;
        *now.fixed = *was.fixed;
        *now.delta = *was.delta;
        *now.done = *was.done;
    };
    if (!envelopeActive(volumeEnvelopeShape(row.instrument))) {
        keepWalk(volumeEnvelopeState(channel), volumeEnvelopeState(&before));
    }
    if (!envelopeActive(panningEnvelopeShape(row.instrument))) {
        keepWalk(panningEnvelopeState(channel), panningEnvelopeState(&before));
    }
    channel->fadeOutStep =
        row.instrument == &emptyInstrument ? emptyInstrumentFadeOut : row.instrument->fadeOut;
}

// The finetune of a note, kept in the channel for the tick effects. The
// player's own rules take the sample's as this playback keeps it. FastTracker
// 2's give a note its sample's, or (x - 8) x 16 when the row holds E5x, and a
// tone portamento's note the one playing; they ignore the lowest 3 bits.
int8_t noteFinetune(MusicChannel* channel, const PatternNote& cell, const RowContext& row,
                    bool portamentoRow) {
    const PlaybackRules& rules = row.sequencer.rules;
    int8_t finetune = finetuneOf(row);
    if (rules.finetuneOnNote) {
        if (portamentoRow) {
            finetune = channel->finetune;
        }
        if (effectOf(cell) == Effect::Extended &&
            extendedCommandOf(cell) == ExtendedCommand::SetFinetune) {
            finetune = static_cast<int8_t>(((cell.effectParam & 0x0F) - 8) * 16);
        }
    }
    if (rules.coarseFinetune) {
        finetune = static_cast<int8_t>(finetune & ~7);
    }
    channel->finetune = finetune;
    return finetune;
}

// A note delay that holds the whole cell until its tick (see playDelayedCell).
bool heldByNoteDelay(const Sequencer& sequencer, const PatternNote& cell) {
    return sequencer.rules.noteDelayHoldsCell && effectOf(cell) == Effect::Extended &&
           extendedCommandOf(cell) == ExtendedCommand::NoteDelay && (cell.effectParam & 0x0F) != 0;
}

// The row tick of a cell that a note delay holds: the playing note goes on,
// its envelopes and auto-vibrato with it.
void processHeldChannel(MusicChannel* channel, const PatternNote& cell, RowContext& row) {
    Sequencer& sequencer = row.sequencer;
    row.instrument = channelInstrument(sequencer.song, channel);
    row.sample = channelSample(row.instrument, channel);
    row.finetune = channelFinetune(sequencer, channel);
    if (static_cast<Effect>(channel->lastEffect) == Effect::Tremolo) {
        channel->volume += channel->volumeDelta;
    }
    channel->lastEffect = cell.effect;
    channel->volumeDelta = 0;
    channel->periodDelta = 0;
    channel->flags = 0;
    stepEnvelopes(channel, row.instrument, true, sequencer.rules);
    stepAutoVibrato(channel, row.instrument, sequencer.rules,
                    (sequencer.song->flags & linearFrequencyTable) != 0);
    updateVoice(sequencer, channel, row.sample);
}

// The note a channel plays and its period. A relative note may take the note
// beyond the ten octaves of the period formulas: it plays at the nearest end.
void setNotePeriod(MusicChannel* channel, const Song* song, int32_t realNote, int8_t finetune) {
    channel->realNote = static_cast<uint8_t>(std::clamp(realNote, 0, highestRealNote));
    channel->notePeriod = (song->flags & linearFrequencyTable) != 0
                              ? linearPeriod(channel->realNote, finetune)
                              : amigaPeriod(channel->realNote, finetune);
}

void processChannel(MusicChannel* channel, const PatternNote& cell, RowContext& row) {
    Sequencer& sequencer = row.sequencer;
    const Song* song = sequencer.song;
    if (heldByNoteDelay(sequencer, cell)) {
        processHeldChannel(channel, cell, row);
        return;
    }
    const PlaybackRules& rules = sequencer.rules;
    const uint8_t note =
        noteIgnored(song, channel, cell, rules) ? uint8_t{0} : cellNote(cell, rules);
    // By the player's own rules a volume-column tone portamento does not make
    // a tone-portamento row; by FT2's it does, unless a note delay starts the
    // note afresh on its tick.
    const bool delaysNote = effectOf(cell) == Effect::Extended &&
                            extendedCommandOf(cell) == ExtendedCommand::NoteDelay &&
                            (cell.effectParam & 0x0F) != 0;
    const bool portamentoRow = effectOf(cell) == Effect::TonePortamento ||
                               effectOf(cell) == Effect::TonePortamentoVolumeSlide ||
                               (rules.volumeColumnPortamentoGlides &&
                                isVolumeColumnPortamento(cell.volumeColumn) && !delaysNote);
    const bool playsNote = isPlayableNote(note);
    const bool keyOffRow =
        note == keyOffNote || (!rules.keyOffEffectOnTick && effectOf(cell) == Effect::KeyOff);
    if (cell.instrument != 0) {
        if (rules.instrumentFollowsNote) {
            channel->chosenInstrument = static_cast<uint8_t>(cell.instrument - 1);
        } else if (!portamentoRow) {
            channel->instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
        }
    }
    // A delayed note starts the last note again when it has none of its own,
    // with the chosen instrument.
    if (rules.instrumentFollowsNote &&
        ((playsNote && !portamentoRow) || (delaysNote && note != keyOffNote))) {
        channel->instrumentIndex = channel->chosenInstrument;
    }
    if (playsNote && !portamentoRow) {
        channel->noteIndex = static_cast<uint8_t>(note - 1);
    }
    row.instrument = channelInstrument(song, channel);
    row.sample = channelSample(row.instrument, channel);
    row.finetune = channelFinetune(sequencer, channel);
    const HeldState held{channel->volume, channel->period, channel->panning};
    const int32_t targetBefore = channel->portaTarget;

    if (static_cast<Effect>(channel->lastEffect) == Effect::Tremolo &&
        effectOf(cell) != Effect::Tremolo) {
        // The offset of tremolo's last tick stays in the volume.
        channel->volume = held.volume + channel->volumeDelta;
    }
    // A tremolo that goes on keeps its last tick's offset through the row
    // tick, unless the cell sets the volume afresh.
    const bool tremoloGoesOn = sequencer.rules.tremoloHoldsRowTick &&
                               static_cast<Effect>(channel->lastEffect) == Effect::Tremolo &&
                               effectOf(cell) == Effect::Tremolo && cell.instrument == 0 &&
                               !(cell.volumeColumn >= 0x10 && cell.volumeColumn <= 0x50);
    channel->lastEffect = cell.effect;
    if (!tremoloGoesOn) {
        channel->volumeDelta = 0;
    }
    channel->flags = 0;

    const bool keepsPitch = playsNote && sequencer.rules.noteBelowLowestKeepsPitch &&
                            note - 1 + row.sample->relativeNote == -1;
    if (keepsPitch) {
        // Without a pitch yet the tracker's voice holds the sample's first
        // value, which is heard as nothing: the note stays silent.
        channel->flags = channel->period != 0 ? StartNote : 0;
    } else if (playsNote) {
        setNotePeriod(channel, song, note - 1 + row.sample->relativeNote,
                      noteFinetune(channel, cell, row, portamentoRow));
        if (sequencer.rules.portamentoDirection && slidesToNote(cell)) {
            channel->portaUpward = channel->notePeriod < channel->period ? 1 : 0;
        }
        if (!portamentoRow) {
            channel->period = channel->notePeriod;
        }
        channel->flags = StartNote;
    }
    channel->periodDelta = 0;
    channel->flags |= FrequencyChanged | VolumeChanged;
    if (keyOffRow && rules.keyOffSilencesVolume) {
        releaseSilencingVolume(channel, row.instrument);
    }
    if (cell.instrument != 0) {
        if (keyOffRow && rules.keyOffRowKeepsEnvelopes) {
            channel->volume = row.sample->volume;
            channel->panning = row.sample->panning;
            channel->tremorSilenced = 0;
            channel->flags |= VolumeChanged | PanningChanged;
        } else {
            resetInstrument(channel, row);
        }
    }
    if (sequencer.rules.retriggerCountRunsOn && cell.instrument != 0 && cell.note != keyOffNote) {
        channel->retrigCount = 0;  // the instrument's retrigger starts its count anew
    }
    if (playsNote && !portamentoRow) {
        if (channel->playedNote == 0 && sequencer.rules.firstNoteTakesSampleDefaults) {
            channel->volume = row.sample->volume;
            channel->panning = row.sample->panning;
            channel->flags |= PanningChanged;
        }
        channel->playedNote = 1;
    }
    const uint8_t volumeCommand = cell.volumeColumn >> 4;
    const bool panSlide = volumeCommand == 0xD || volumeCommand == 0xE;
    if (cell.volumeColumn != 0 && !(panSlide && sequencer.rules.volumePanSlideBetweenRows)) {
        applyVolumeColumn(channel, cell.volumeColumn);
    }
    if (keyOffRow) {
        channel->keyOff = 1;
    }
    stepEnvelopes(channel, row.instrument, true, rules);
    applyEffect(channel, cell, row, held);
    if (sequencer.rules.glissando && channel->glissando != 0 && slidesToNote(cell)) {
        channel->periodDelta = tableNoteOffset(channel->period, channel->finetune,
                                               (song->flags & linearFrequencyTable) != 0, 0);
    }
    // Only a note beside the tone portamento sets its target; until one has,
    // the target is the channel's note.
    if (rules.portamentoTargetFromItsNote && !playsNote && targetBefore != 0) {
        channel->portaTarget = targetBefore;
    }
    stepAutoVibrato(channel, row.instrument, sequencer.rules,
                    (sequencer.song->flags & linearFrequencyTable) != 0);
    if (rules.tremorHoldsVolume) {
        holdTremorSilence(channel);
    }
    updateVoice(sequencer, channel, row.sample);
}

}  // namespace

void processRow(Sequencer& sequencer) {
    sequencer.nextOrder = -1;
    sequencer.nextRow = -1;
    sequencer.processedRow = sequencer.row;
    const PatternNote* cells = rowCells(sequencer.song, sequencer.orderPos, sequencer.row);
    if (cells == nullptr) {
        return;
    }
    RowContext row{sequencer, &emptyInstrument, &emptySample, nullptr, false};
    const int32_t channels = playedChannelCount(sequencer.song);
    for (int32_t c = 0; c < channels; ++c) {
        // What the cell does to the heard volume or the panning takes the
        // quick ramp.
        MusicChannel* channel = &sequencer.channels[c];
        const int32_t volumeBefore = channel->volume;
        const int32_t heardBefore = channel->volume + channel->volumeDelta;
        const int32_t panningBefore = channel->panning;
        chooseQuickRamp(sequencer, channel, false);
        processChannel(channel, cells[c], row);
        if (channel->volume != volumeBefore ||
            channel->volume + channel->volumeDelta != heardBefore ||
            channel->panning != panningBefore) {
            chooseQuickRamp(sequencer, channel, true);
        }
    }
    refreshGlobalVolume(sequencer);
}

void playDelayedCell(Sequencer& sequencer, MusicChannel* channel, const PatternNote& cell) {
    const Song* song = sequencer.song;
    const PlaybackRules& rules = sequencer.rules;
    // A note the tracker does not play leaves the cell as one without a note.
    const uint8_t note = noteIgnored(song, channel, cell, rules) ? uint8_t{0} : cell.note;
    const bool keyOff = note == keyOffNote;
    // A cell without a note plays the channel's last note again, with the
    // cell's instrument if it names one.
    const bool playsNote = isPlayableNote(note) || (note == 0 && channel->notePeriod != 0);
    if (cell.instrument != 0 && rules.instrumentFollowsNote) {
        channel->chosenInstrument = static_cast<uint8_t>(cell.instrument - 1);
    }
    if (playsNote && rules.instrumentFollowsNote) {
        channel->instrumentIndex = channel->chosenInstrument;
    } else if (playsNote && cell.instrument != 0) {
        channel->instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    }
    if (isPlayableNote(note)) {
        channel->noteIndex = static_cast<uint8_t>(note - 1);
    }
    const Instrument* instrument = channelInstrument(song, channel);
    const Sample* sample = channelSample(instrument, channel);
    if (cell.instrument != 0) {
        channel->fadeOutStep =
            instrument == &emptyInstrument ? emptyInstrumentFadeOut : instrument->fadeOut;
    }
    if (playsNote && rules.noteBelowLowestKeepsPitch &&
        channel->noteIndex + sample->relativeNote == -1) {
        if (channel->period != 0) {
            channel->flags |= StartNote;
        }
    } else if (playsNote) {
        const int8_t* finetune = channelFinetune(sequencer, channel);
        int8_t fine = finetune != nullptr ? *finetune : sample->finetune;
        if (rules.coarseFinetune) {
            fine = static_cast<int8_t>(fine & ~7);
        }
        channel->finetune = fine;
        setNotePeriod(channel, song, channel->noteIndex + sample->relativeNote, fine);
        channel->period = channel->notePeriod;
        channel->periodDelta = 0;
        channel->flags |= StartNote | FrequencyChanged;
    }
    int32_t volume = channel->volume;
    const int32_t panning = channel->panning;
    if (keyOff && !envelopeActive(volumeEnvelopeShape(instrument))) {
        volume = 0;  // the release of a note without a volume envelope
    }
    // The envelopes, fade-out, auto-vibrato and phases start anew, also under
    // a key-off, which thus leaves the note unreleased; the sample's volume
    // and panning come back only for an instrument number.
    resetChannel(channel, sample);
    if (cell.instrument == 0) {
        channel->volume = volume;
        channel->panning = panning;
    }
    // Of the volume column only a volume, or a panning beside a note, is taken.
    if (cell.volumeColumn >= 0x10 && cell.volumeColumn <= 0x50) {
        channel->volume = cell.volumeColumn - 0x10;
    } else if ((cell.volumeColumn >> 4) == 0xC && !keyOff) {
        channel->panning = 16 * (cell.volumeColumn & 0x0F);
    }
    channel->retrigCount = 0;
    // The envelopes take their first step in this tick, as at a row tick.
    stepEnvelopes(channel, instrument, false, rules);
}

void resetChannel(MusicChannel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->volEnvValue = 64;
    channel->volEnvPoint = 0;
    channel->volEnvTick = 0;
    channel->volEnvDelta = 0;
    channel->volEnvDone = 0;
    channel->panEnvValue = 32;
    channel->panEnvPoint = 0;
    channel->panEnvTick = 0;
    channel->panEnvDelta = 0;
    channel->panEnvDone = 0;
    channel->keyOff = 0;
    channel->fadeOutLevel = noFade;
    channel->autoVibSweepPos = 0;
    channel->autoVibPos = 0;
    // A waveform nibble of 4 or more keeps its phase across new instruments.
    if ((channel->waveControl & 0x0F) < 4) {
        channel->vibratoPos = 0;
    }
    if ((channel->waveControl >> 4) < 4) {
        channel->tremoloPos = 0;
    }
    channel->tremorPos = 0;
    channel->tremorSounding = 0;
    channel->tremorSilenced = 0;
    channel->flags |= VolumeChanged | PanningChanged;
}

void applyVolumeColumn(MusicChannel* channel, uint8_t volumeColumn) {
    const uint8_t low = volumeColumn & 0x0F;
    if (volumeColumn >= 0x10 && volumeColumn <= 0x50) {
        channel->volume = volumeColumn - 0x10;
        channel->tremorSilenced = 0;
        channel->flags |= VolumeChanged;
        return;
    }
    switch (volumeColumn >> 4) {
        case 0x6:  // slide down
        case 0x8:  // fine slide down
            slideVolumeDown(channel, low);
            channel->flags |= VolumeChanged;
            break;
        case 0x7:  // slide up
        case 0x9:  // fine slide up
            slideVolumeUp(channel, low);
            channel->flags |= VolumeChanged;
            break;
        case 0xA:
            channel->vibratoSpeed = low;
            break;
        case 0xB:
            channel->vibratoDepth = low;
            break;
        case 0xC:
            channel->panning = 16 * low;
            channel->flags |= PanningChanged;
            break;
        case 0xD:  // slides without a limit: the voice update clamps the result
            channel->panning = boundedPanning(channel->panning - low);
            channel->flags |= PanningChanged;
            break;
        case 0xE:
            channel->panning = boundedPanning(channel->panning + low);
            channel->flags |= PanningChanged;
            break;
        case 0xF:
            if (low != 0) {
                channel->portaSpeed = static_cast<uint8_t>(16 * low);
            }
            channel->portaTarget = channel->notePeriod;
            channel->flags &= ~StartNote;
            break;
        default:
            break;
    }
}

}  // namespace xmplayer
