#include "player/sequencer/envelope.h"

#include <algorithm>
#include <cmath>

#include "player/sequencer/arithmetic.h"

namespace xmplayer {

namespace {

constexpr int32_t fixedOne = 65536;  // 1.0 in 16.16
constexpr uint16_t highestPointValue = 64;

// The auto-vibrato's phase unit, a single-precision value a little below
// 2 pi / 256.
constexpr double autoVibratoUnit = static_cast<double>(0.02454368770122528f);

// Point values beyond 64 exist only in damaged files; taking them as 64 keeps
// the 16.16 arithmetic inside 32 bits.
int32_t pointValue(const EnvelopeShape& shape, int32_t index) {
    return std::min(shape.points[index].value, highestPointValue);
}

int32_t pointTick(const EnvelopeShape& shape, int32_t index) {
    return shape.points[index].tick;
}

// The 16.16 change per tick from point `from` to the point after it.
int32_t segmentDelta(const EnvelopeShape& shape, int32_t from) {
    const int32_t ticks = pointTick(shape, from + 1) - pointTick(shape, from);
    if (ticks == 0) {
        return 0;
    }
    return (pointValue(shape, from + 1) * fixedOne - pointValue(shape, from) * fixedOne) / ticks;
}

uint8_t boundedPointCount(uint8_t count) {
    return static_cast<uint8_t>(std::min<int>(count, maxEnvelopePoints));
}

}  // namespace

EnvelopeState volumeEnvelopeState(MusicChannel* channel) {
    return {&channel->volEnvPoint, &channel->volEnvTick,  &channel->volEnvValue,
            &channel->volEnvFixed, &channel->volEnvDelta, &channel->volEnvDone};
}

EnvelopeState panningEnvelopeState(MusicChannel* channel) {
    return {&channel->panEnvPoint, &channel->panEnvTick,  &channel->panEnvValue,
            &channel->panEnvFixed, &channel->panEnvDelta, &channel->panEnvDone};
}

EnvelopeShape volumeEnvelopeShape(const Instrument* instrument) {
    return {instrument->volumeEnvelopeFlags,   boundedPointCount(instrument->volumePointCount),
            instrument->volumeEnvelope.data(), instrument->volumeSustainPoint,
            instrument->volumeLoopStart,       instrument->volumeLoopEnd};
}

EnvelopeShape panningEnvelopeShape(const Instrument* instrument) {
    return {instrument->panningEnvelopeFlags,   boundedPointCount(instrument->panningPointCount),
            instrument->panningEnvelope.data(), instrument->panningSustainPoint,
            instrument->panningLoopStart,       instrument->panningLoopEnd};
}

bool envelopeActive(const EnvelopeShape& shape) {
    return (shape.flags & envelopeOn) != 0 && shape.pointCount >= 2;
}

bool stepEnvelope(MusicChannel* channel, const EnvelopeState& state, const EnvelopeShape& shape,
                  uint8_t requestBit) {
    const int32_t count = shape.pointCount;
    int32_t& point = *state.point;
    int32_t& tick = *state.tick;
    int32_t& fixed = *state.fixed;
    channel->flags |= requestBit;

    // Arrival is tested with "at or beyond" so that a damaged envelope whose
    // ticks do not rise still moves on from point to point instead of sliding
    // for ever; with rising ticks the walk meets every point exactly.
    if (point >= 0 && point < count && tick >= pointTick(shape, point)) {
        // A loop whose start is not among the points is ignored.
        if ((shape.flags & envelopeLoop) != 0 && point == shape.loopEnd &&
            shape.loopStart < count) {
            point = shape.loopStart;
            tick = pointTick(shape, point);
        }
        if (point == count - 1) {
            *state.value = pointValue(shape, point);
            *state.done = 1;
            return false;
        }
        if ((shape.flags & envelopeSustain) != 0 && point == shape.sustainPoint &&
            channel->keyOff == 0) {
            *state.value = pointValue(shape, point);
            return true;  // waits here until key-off
        }
        *state.delta = segmentDelta(shape, point);
        fixed = pointValue(shape, point) * fixedOne;
        ++point;
    } else if (point <= 0 && count > 0) {
        // Before a first point that lies after tick 0 the envelope holds that
        // point's value, whatever the previous note left behind.
        fixed = pointValue(shape, 0) * fixedOne;
    } else if (point < count) {
        fixed += *state.delta;
    }
    *state.value = fixed >> 16;
    ++tick;
    return false;
}

namespace {

// The walk at `tickPosition`, holding point `index`'s value.
void holdAtPoint(const EnvelopeState& state, const EnvelopeShape& shape, int32_t index,
                 int32_t tickPosition) {
    *state.point = index;
    *state.tick = tickPosition;
    *state.delta = 0;
    *state.fixed = pointValue(shape, index) * fixedOne;
    *state.value = pointValue(shape, index);
    *state.done = 0;
}

}  // namespace

void setEnvelopePosition(const EnvelopeState& state, const EnvelopeShape& shape,
                         int32_t tickPosition, bool passesPoint) {
    const int32_t count = shape.pointCount;
    if (count < 2) {
        return;
    }
    if (tickPosition < pointTick(shape, 0)) {
        // Before the first point: the walk starts there, holding its value.
        holdAtPoint(state, shape, 0, tickPosition);
        return;
    }
    // With passesPoint a position on a point's tick lies past that point, so
    // that a loop ending there does not turn back; a sustain point there holds.
    int32_t index = 0;
    while (index + 1 < count && (tickPosition > pointTick(shape, index + 1) ||
                                 (passesPoint && tickPosition == pointTick(shape, index + 1)))) {
        ++index;
    }
    if (passesPoint && tickPosition == pointTick(shape, index) &&
        (shape.flags & envelopeSustain) != 0 && index == shape.sustainPoint) {
        holdAtPoint(state, shape, index, tickPosition);
        return;
    }
    *state.point = index;
    if (index >= count - 1) {
        *state.value = pointValue(shape, count - 1);
        *state.done = 1;
        return;
    }
    *state.done = 0;
    *state.tick = tickPosition;
    *state.delta = segmentDelta(shape, index);
    *state.point = index + 1;
    *state.fixed = pointValue(shape, index) * fixedOne +
                   (tickPosition - pointTick(shape, index)) * *state.delta;
    *state.value = *state.fixed >> 16;
}

void setVolumeEnvelopePosition(MusicChannel* channel, const Instrument* instrument,
                               int32_t tickPosition) {
    setEnvelopePosition(volumeEnvelopeState(channel), volumeEnvelopeShape(instrument), tickPosition,
                        false);
}

void stepEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick,
                   const PlaybackRules& rules) {
    const EnvelopeShape volume = volumeEnvelopeShape(instrument);
    if (envelopeActive(volume)) {
        if (channel->volEnvDone == 0) {
            stepEnvelope(channel, volumeEnvelopeState(channel), volume, VolumeChanged);
        }
    } else if (rules.instrumentFollowsNote) {
        // The playing instrument may differ from the one whose envelope the
        // walk belongs to; without an envelope of its own it plays at full.
        channel->volEnvValue = 64;
    } else if (rowTick && channel->keyOff != 0 && !rules.keyOffSilencesVolume) {
        channel->volEnvValue = 0;
    }
    const EnvelopeShape panning = panningEnvelopeShape(instrument);
    if (envelopeActive(panning)) {
        if (channel->panEnvDone == 0 &&
            stepEnvelope(channel, panningEnvelopeState(channel), panning, PanningChanged) &&
            rules.panSustainOutlastsKeyOff) {
            // The walk ends at the sustain point, which the note keeps.
            channel->panEnvDone = 1;
        }
    } else if (rules.instrumentFollowsNote) {
        channel->panEnvValue = 32;
    }
    if (channel->keyOff != 0) {
        const int32_t step =
            rules.instrumentFollowsNote ? channel->fadeOutStep : instrument->fadeOut;
        channel->fadeOutLevel = std::max(channel->fadeOutLevel - step, 0);
        channel->flags |= VolumeChanged;
    }
}

namespace {

// The auto-vibrato waveform's value (-64..64) at a phase of 0..255.
int32_t autoVibratoWave(uint8_t type, int32_t position) {
    switch (type) {
        case 0:
            return truncateToInt32(std::sin(position * autoVibratoUnit) * 64.0);
        case 1:
            return position < 128 ? 64 : -64;
        case 2:
            return (128 - ((position + 128) & 0xFF)) >> 1;
        case 3:
            return (128 - ((384 - position) & 0xFF)) >> 1;
        default:
            return 0;  // no such waveform: the instrument has no auto-vibrato
    }
}

}  // namespace

void stepAutoVibrato(MusicChannel* channel, const Instrument* instrument,
                     const PlaybackRules& rules, bool linearPeriods) {
    if (rules.autoVibratoLeadsUpward) {
        channel->autoVibPos = (channel->autoVibPos + instrument->vibratoRate) & 0xFF;
    }
    // Without depth the offset is 0 whatever the waveform: most instruments,
    // and the empty one, skip the sine.
    const int32_t wave = instrument->vibratoDepth != 0
                             ? autoVibratoWave(instrument->vibratoType, channel->autoVibPos)
                             : 0;
    int32_t amount = instrument->vibratoDepth * wave;
    if (instrument->vibratoSweep != 0) {
        amount = channel->autoVibSweepPos * amount / instrument->vibratoSweep;
    }
    channel->autoVibSweepPos =
        std::min<int32_t>(channel->autoVibSweepPos + 1, instrument->vibratoSweep);
    channel->flags |= FrequencyChanged;
    if (rules.autoVibratoLeadsUpward) {
        // Rounding toward zero keeps the pitch centred on the note; a linear
        // period offset raises the pitch, an Amiga one lowers it.
        channel->periodDelta += linearPeriods ? amount / 64 : -(amount / 64);
        return;
    }
    channel->periodDelta += amount >> 6;
    channel->autoVibPos += instrument->vibratoRate;
    if (channel->autoVibPos > 255) {
        channel->autoVibPos -= 256;
    }
}

}  // namespace xmplayer
