#include "player/sequencer/row_processing.h"

#include <algorithm>

#include "player/sequencer/arithmetic.h"
#include "player/sequencer/envelope.h"
#include "player/sequencer/modulation.h"
#include "player/sequencer/pitch.h"
#include "player/sequencer/sequencer_state.h"
#include "player/sequencer/song_lookup.h"

namespace xmplayer {

namespace {

constexpr int32_t noFade = 65536;
constexpr int32_t highestBreakRow = 63;

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
}

void slideVolumeDown(MusicChannel* channel, int32_t amount) {
    channel->volume = std::max(channel->volume - amount, 0);
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
                boundedPeriod(int64_t{channel->period} - 4 * channel->finePortaUpParam);
            break;
        case ExtendedCommand::FinePortamentoDown:
            if (y != 0) {
                channel->finePortaDownParam = y;
            }
            channel->period =
                boundedPeriod(int64_t{channel->period} + 4 * channel->finePortaDownParam);
            break;
        case ExtendedCommand::VibratoWaveform:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
            break;
        case ExtendedCommand::SetFinetune:
            // The finetune lasts for later notes of the sample in this
            // playback; the empty sample's stays 0.
            if (row.finetune != nullptr) {
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
            if (y != 0) {
                channel->fineVolSlideParam = y;
            }
            slideVolumeDown(channel, channel->fineVolSlideParam);
            channel->flags |= VolumeChanged;
            break;
        case ExtendedCommand::NoteDelay:
            // The note starts on tick y instead (see the tick effects).
            channel->volume = held.volume;
            channel->period = held.period;
            channel->panning = held.panning;
            channel->flags &= ~(FrequencyChanged | VolumeChanged | PanningChanged | StartNote);
            break;
        case ExtendedCommand::PatternDelay:
            sequencer.patternDelayTicks = y * sequencer.speed;
            break;
        default:
            break;
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
            if (param != 0) {
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
            channel->flags |= VolumeChanged;
            break;
        case Effect::GlobalVolumeSlide:
            if (param != 0) {
                sequencer.globalVolSlideParam = param;
            }
            break;
        case Effect::SetEnvelopePosition:
            if (envelopeActive(volumeEnvelopeShape(row.instrument))) {
                setVolumeEnvelopePosition(channel, row.instrument, param);
            }
            break;
        case Effect::PanningSlide:
            if (param != 0) {
                channel->panSlideParam = param;
                channel->flags |= PanningChanged;
            }
            break;
        case Effect::MultiRetrigger:
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
            tremor(channel);
            break;
        case Effect::ExtraFinePortamento:
            if (x == 1) {
                if (y != 0) {
                    channel->xfinePortaUpParam = y;
                }
                channel->period =
                    boundedPeriod(int64_t{channel->period} - channel->xfinePortaUpParam);
            } else if (x == 2) {
                if (y != 0) {
                    channel->xfinePortaDownParam = y;
                }
                channel->period =
                    boundedPeriod(int64_t{channel->period} + channel->xfinePortaDownParam);
            }
            break;
        default:
            break;
    }
}

void processChannel(MusicChannel* channel, const PatternNote& cell, RowContext& row) {
    Sequencer& sequencer = row.sequencer;
    const Song* song = sequencer.song;
    // A volume-column tone portamento does not make a tone-portamento row.
    const bool portamentoRow = effectOf(cell) == Effect::TonePortamento ||
                               effectOf(cell) == Effect::TonePortamentoVolumeSlide;
    const bool playsNote = isPlayableNote(cell.note);
    if (cell.instrument != 0 && !portamentoRow) {
        channel->instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    }
    if (playsNote && !portamentoRow) {
        channel->noteIndex = static_cast<uint8_t>(cell.note - 1);
    }
    row.instrument = channelInstrument(song, channel);
    row.sample = channelSample(row.instrument, channel);
    row.finetune = channelFinetune(sequencer, channel);
    const HeldState held{channel->volume, channel->period, channel->panning};

    if (static_cast<Effect>(channel->lastEffect) == Effect::Tremolo &&
        effectOf(cell) != Effect::Tremolo) {
        // The offset of tremolo's last tick stays in the volume.
        channel->volume = held.volume + channel->volumeDelta;
    }
    channel->lastEffect = cell.effect;
    channel->volumeDelta = 0;
    channel->flags = 0;

    if (playsNote) {
        channel->realNote = static_cast<uint8_t>(cell.note - 1 + row.sample->relativeNote);
        channel->notePeriod = (song->flags & linearFrequencyTable) != 0
                                  ? linearPeriod(channel->realNote, finetuneOf(row))
                                  : amigaPeriod(channel->realNote, finetuneOf(row));
        if (!portamentoRow) {
            channel->period = channel->notePeriod;
        }
        channel->flags = StartNote;
    }
    channel->periodDelta = 0;
    channel->flags |= FrequencyChanged | VolumeChanged;
    if (cell.instrument != 0) {
        resetChannel(channel, row.sample);
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
    if (cell.note == keyOffNote || effectOf(cell) == Effect::KeyOff) {
        channel->keyOff = 1;
    }
    stepEnvelopes(channel, row.instrument, true, sequencer.rules);
    applyEffect(channel, cell, row, held);
    stepAutoVibrato(channel, row.instrument);
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
        processChannel(&sequencer.channels[c], cells[c], row);
    }
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
    channel->flags |= VolumeChanged | PanningChanged;
}

void applyVolumeColumn(MusicChannel* channel, uint8_t volumeColumn) {
    const uint8_t low = volumeColumn & 0x0F;
    if (volumeColumn >= 0x10 && volumeColumn <= 0x50) {
        channel->volume = volumeColumn - 0x10;
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
