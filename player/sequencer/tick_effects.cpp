#include "player/sequencer/tick_effects.h"

#include <algorithm>

#include "player/sequencer/arithmetic.h"
#include "player/sequencer/envelope.h"
#include "player/sequencer/modulation.h"
#include "player/sequencer/pitch.h"
#include "player/sequencer/row_processing.h"
#include "player/sequencer/sequencer_state.h"
#include "player/sequencer/song_lookup.h"

namespace xmplayer {

namespace {

constexpr int32_t lowestPortamentoPeriod = 56;
constexpr uint8_t keptDelayBits = 0xF0;

// What the row's cell asks of one channel on a tick between rows.
struct TickContext {
    Sequencer& sequencer;
    const Instrument* instrument;
    const Sample* sample;
    int8_t finetune;
};

void slideVolume(MusicChannel* channel, uint8_t param) {
    const int32_t up = param >> 4;
    const int32_t down = param & 0x0F;
    if (up != 0) {
        channel->volume = std::min(channel->volume + up, 64);
    } else if (down != 0) {
        channel->volume = std::max(channel->volume - down, 0);
    }
    channel->tremorSilenced = 0;
    channel->flags |= VolumeChanged;
}

void applyVolumeColumnTick(MusicChannel* channel, uint8_t volumeColumn,
                           const PlaybackRules& rules) {
    const uint8_t low = volumeColumn & 0x0F;
    switch (volumeColumn >> 4) {
        case 0x6:
            channel->volume = std::max(channel->volume - low, 0);
            channel->tremorSilenced = 0;
            channel->flags |= VolumeChanged;
            break;
        case 0x7:
            channel->volume = std::min(channel->volume + low, 64);
            channel->tremorSilenced = 0;
            channel->flags |= VolumeChanged;
            break;
        case 0xB:
            channel->vibratoDepth = low;
            vibrato(channel);
            advanceVibratoPhase(channel);
            break;
        case 0xD:
            // A slide left by 0 takes the panning to the left end, as the
            // tracker's own arithmetic does.
            channel->panning = low == 0 && rules.volumePanSlideBetweenRows
                                   ? 0
                                   : boundedPanning(channel->panning - low);
            channel->flags |= PanningChanged;
            break;
        case 0xE:
            channel->panning = boundedPanning(channel->panning + low);
            channel->flags |= PanningChanged;
            break;
        case 0xF:
            tonePortamento(channel, rules.portamentoDirection);
            break;
        default:
            break;
    }
}

// The period offset that raises the note by `semitones`, with the sign that
// the voice update of each table mode needs.
int32_t arpeggioOffset(const MusicChannel* channel, const TickContext& tick, int32_t semitones) {
    if ((tick.sequencer.song->flags & linearFrequencyTable) != 0) {
        return semitones * 64;
    }
    const int8_t finetune = tick.finetune;
    return amigaPeriod(static_cast<uint8_t>(channel->realNote + semitones), finetune) -
           amigaPeriod(channel->realNote, finetune);
}

// Which of the three notes plays: 0 the base, 1 the first, 2 the second.
// FastTracker 2 counts the ticks left in the row, its tick counter running
// down; past 15 its step table runs into other data, which gives the base at
// 16 and the second note above.
int32_t arpeggioStep(const Sequencer& sequencer) {
    if (!sequencer.rules.arpeggioByTicksLeft) {
        return sequencer.tick % 3;
    }
    const int32_t speed = std::max(sequencer.speed, 1);
    const int32_t ticksLeft = speed - sequencer.tick % speed;
    if (ticksLeft < 16) {
        return ticksLeft % 3;
    }
    return ticksLeft == 16 ? 0 : 2;
}

void arpeggio(MusicChannel* channel, const TickContext& tick, uint8_t param) {
    if (param == 0) {
        return;
    }
    // On the base note's ticks periodDelta is left as the volume column set it.
    const int32_t step = arpeggioStep(tick.sequencer);
    if (step != 0) {
        const int32_t semitones = step == 1 ? param >> 4 : param & 0x0F;
        const bool linear = (tick.sequencer.song->flags & linearFrequencyTable) != 0;
        channel->periodDelta =
            tick.sequencer.rules.arpeggioFromNoteTable
                ? tableNoteOffset(channel->period, tick.finetune, linear, semitones)
                : arpeggioOffset(channel, tick, semitones);
    }
    channel->flags |= FrequencyChanged;
}

int32_t retriggeredVolume(int32_t volume, uint8_t action) {
    switch (action) {
        case 1:
            return volume - 1;
        case 2:
            return volume - 2;
        case 3:
            return volume - 4;
        case 4:
            return volume - 8;
        case 5:
            return volume - 16;
        case 6:
            return volume * 2 / 3;
        case 7:
            return volume >> 1;
        case 9:
            return volume + 1;
        case 10:
            return volume + 2;
        case 11:
            return volume + 4;
        case 12:
            return volume + 8;
        case 13:
            return volume + 16;
        case 14:
            return volume * 3 / 2;
        case 15:
            return volume * 2;
        default:
            return volume;
    }
}

void multiRetrigger(MusicChannel* channel, int32_t tick) {
    const int32_t interval = channel->retrigInterval;
    if (interval == 0 || tick % interval != 0) {
        return;
    }
    if (channel->retrigVolumeAction == 0) {
        channel->flags |= StartNote;
        return;
    }
    const int32_t volume = retriggeredVolume(channel->volume, channel->retrigVolumeAction);
    channel->volume = std::max(std::min(volume, 64), 0);
    channel->tremorSilenced = 0;
    channel->flags |= VolumeChanged | StartNote;
}

}  // namespace

void countRetrigger(MusicChannel* channel) {
    if (channel->retrigInterval == 0) {
        return;
    }
    if (channel->retrigCount + 1 < channel->retrigInterval) {
        ++channel->retrigCount;
        return;
    }
    channel->retrigCount = 0;
    if (channel->retrigVolumeAction != 0) {
        const int32_t volume = retriggeredVolume(channel->volume, channel->retrigVolumeAction);
        channel->volume = std::max(std::min(volume, 64), 0);
    }
    channel->flags |= VolumeChanged | StartNote;
}

namespace {

void applyExtendedTick(MusicChannel* channel, const PatternNote& cell, const TickContext& tick) {
    const int32_t y = cell.effectParam & 0x0F;
    const int32_t now = tick.sequencer.tick;
    switch (extendedCommandOf(cell)) {
        case ExtendedCommand::RetriggerNote:
            if (y != 0 && now % y == 0) {
                channel->flags |= StartNote | VolumeChanged | FrequencyChanged;
            }
            break;
        case ExtendedCommand::NoteCut:
            if (now == y) {
                channel->volume = 0;
                channel->flags |= VolumeChanged;
            }
            break;
        case ExtendedCommand::NoteDelay:
            if (tick.sequencer.rules.noteDelayHoldsCell) {
                if (y != 0 && now == y) {
                    playDelayedCell(tick.sequencer, channel, cell);
                }
                break;
            }
            if (now == y) {
                resetChannel(channel, tick.sample);
                channel->period = channel->notePeriod;
                if (cell.volumeColumn != 0) {
                    applyVolumeColumn(channel, cell.volumeColumn);
                }
                channel->flags |= FrequencyChanged | StartNote;
            } else {
                // The previous note plays on untouched until the delayed tick.
                channel->flags &= keptDelayBits;
            }
            break;
        default:
            break;
    }
}

// Kxx releases the note on its tick, before that tick's envelope step; a tick
// at or beyond the speed never comes.
void releaseOnKeyOffTick(MusicChannel* channel, const PatternNote& cell, const TickContext& tick) {
    const Sequencer& sequencer = tick.sequencer;
    if (effectOf(cell) == Effect::KeyOff && sequencer.rules.keyOffEffectOnTick &&
        sequencer.tick == cell.effectParam && cell.effectParam < sequencer.speed) {
        channel->keyOff = 1;
        if (sequencer.rules.keyOffSilencesVolume &&
            !envelopeActive(volumeEnvelopeShape(tick.instrument))) {
            channel->volume = 0;
            channel->flags |= VolumeChanged;
        }
    }
}

void applyEffectTick(MusicChannel* channel, const PatternNote& cell, const TickContext& tick) {
    const uint8_t param = cell.effectParam;
    Sequencer& sequencer = tick.sequencer;
    switch (effectOf(cell)) {
        case Effect::Arpeggio:
            arpeggio(channel, tick, param);
            break;
        case Effect::PortamentoUp:
            channel->period =
                sequencer.rules.sixteenBitPeriods
                    ? periodSlidUpIn16Bits(channel->period, 4 * channel->portaUpParam)
                    : std::max(channel->period - 4 * channel->portaUpParam, lowestPortamentoPeriod);
            channel->periodDelta = 0;
            channel->flags |= FrequencyChanged;
            break;
        case Effect::PortamentoDown:
            channel->period =
                sequencer.rules.sixteenBitPeriods
                    ? periodSlidDownIn16Bits(channel->period, 4 * channel->portaDownParam)
                    : boundedPeriod(int64_t{channel->period} + 4 * channel->portaDownParam);
            channel->periodDelta = 0;
            channel->flags |= FrequencyChanged;
            break;
        case Effect::TonePortamento:
            channel->periodDelta = 0;
            tonePortamento(channel, sequencer.rules.portamentoDirection);
            break;
        case Effect::Vibrato:
            if (sequencer.rules.vibratoEffectDepthPrevails && (param & 0x0F) != 0) {
                // The volume column's depth, set earlier in this tick, yields.
                channel->vibratoDepth = param & 0x0F;
            }
            vibrato(channel);
            advanceVibratoPhase(channel);
            break;
        case Effect::TonePortamentoVolumeSlide:
            channel->periodDelta = 0;
            tonePortamento(channel, sequencer.rules.portamentoDirection);
            slideVolume(channel, channel->volSlideParam);
            break;
        case Effect::VibratoVolumeSlide:
            vibrato(channel);
            advanceVibratoPhase(channel);
            slideVolume(channel, channel->volSlideParam);
            break;
        case Effect::Tremolo:
            tremolo(channel, sequencer.rules.tremoloRampFollowsVibrato,
                    sequencer.rules.tremoloWaveformThreeIsSquare);
            break;
        case Effect::VolumeSlide:
            slideVolume(channel, channel->volSlideParam);
            break;
        case Effect::Extended:
            applyExtendedTick(channel, cell, tick);
            break;
        case Effect::GlobalVolumeSlide: {
            // No volume request: the new global volume reaches a voice with
            // the next request that something else makes.
            const int32_t up = sequencer.globalVolSlideParam >> 4;
            const int32_t down = sequencer.globalVolSlideParam & 0x0F;
            if (up != 0) {
                sequencer.globalVolume = std::min(sequencer.globalVolume + up, 64);
            } else if (down != 0) {
                sequencer.globalVolume = std::max(sequencer.globalVolume - down, 0);
            }
            sequencer.globalVolumeTouched = true;
            break;
        }
        case Effect::PanningSlide: {
            const int32_t right = channel->panSlideParam >> 4;
            const int32_t left = channel->panSlideParam & 0x0F;
            if (right != 0) {
                channel->panning = std::min(channel->panning + right, 255);
            } else if (left != 0) {
                channel->panning = std::max(channel->panning - left, 0);
            }
            channel->flags |= PanningChanged;
            break;
        }
        case Effect::MultiRetrigger:
            if (sequencer.rules.retriggerCountRunsOn) {
                countRetrigger(channel);
            } else {
                multiRetrigger(channel, sequencer.tick);
            }
            break;
        case Effect::Tremor:
            if (sequencer.rules.tremorHoldsVolume) {
                heldTremor(channel);
                chooseQuickRamp(sequencer, channel, true);
            } else {
                tremor(channel);
            }
            break;
        case Effect::KeyOff:
            break;  // released before the tick's envelope step (see releaseOnKeyOffTick)
        default:
            break;
    }
}

// Kxx, ECx and EDx act on their tick as their cell would at the row's.
bool actsAsCell(const PatternNote& cell, int32_t tick) {
    if (effectOf(cell) == Effect::KeyOff) {
        return tick == cell.effectParam;
    }
    if (effectOf(cell) != Effect::Extended || tick != (cell.effectParam & 0x0F)) {
        return false;
    }
    const ExtendedCommand command = extendedCommandOf(cell);
    return command == ExtendedCommand::NoteCut || command == ExtendedCommand::NoteDelay;
}

// A row without cells (a pattern too short for the row, or none at all) reads
// as empty: envelopes, fade-out and auto-vibrato go on.
constexpr PatternNote emptyCell{};

}  // namespace

void processTickEffects(Sequencer& sequencer) {
    const Song* song = sequencer.song;
    const PatternNote* cells = rowCells(song, sequencer.orderPos, sequencer.processedRow);
    const int32_t channels = playedChannelCount(song);
    for (int32_t c = 0; c < channels; ++c) {
        MusicChannel* channel = &sequencer.channels[c];
        const PatternNote& cell = cells != nullptr ? cells[c] : emptyCell;
        const Instrument* instrument = channelInstrument(song, channel);
        const Sample* sample = channelSample(instrument, channel);
        const int8_t* finetune = channelFinetune(sequencer, channel);
        const TickContext tick{sequencer, instrument, sample,
                               sequencer.rules.finetuneOnNote ? channel->finetune
                               : finetune != nullptr          ? *finetune
                                                              : sample->finetune};

        const int32_t heardBefore = channel->volume + channel->volumeDelta;
        const int32_t panningBefore = channel->panning;
        chooseQuickRamp(sequencer, channel, false);
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->flags = 0;
        releaseOnKeyOffTick(channel, cell, tick);
        stepEnvelopes(channel, instrument, false, sequencer.rules);
        applyVolumeColumnTick(channel, cell.volumeColumn, sequencer.rules);
        applyEffectTick(channel, cell, tick);
        if (sequencer.rules.glissando && channel->glissando != 0 && slidesToNote(cell)) {
            const bool linear = (song->flags & linearFrequencyTable) != 0;
            channel->periodDelta = tableNoteOffset(channel->period, tick.finetune, linear, 0);
        }
        // A delayed cell may have changed the channel's instrument and sample.
        const Instrument* playing = channelInstrument(song, channel);
        stepAutoVibrato(channel, playing, sequencer.rules,
                        (song->flags & linearFrequencyTable) != 0);
        if (sequencer.rules.tremorHoldsVolume) {
            holdTremorSilence(channel);
        }
        if ((channel->volume + channel->volumeDelta != heardBefore ||
             channel->panning != panningBefore) &&
            actsAsCell(cell, sequencer.tick)) {
            chooseQuickRamp(sequencer, channel, true);
        }
        updateVoice(sequencer, channel, channelSample(playing, channel));
    }
    refreshGlobalVolume(sequencer);
}

}  // namespace xmplayer
