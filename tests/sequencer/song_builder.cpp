#include "tests/sequencer/song_builder.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

#include "player/sequencer/sequencer.h"
#include "player/song/song_loading.h"

using namespace xmplayer;

namespace {

template <typename T>
T* zeroed(size_t count) {
    auto* block = static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T)));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

}  // namespace

Song* buildSong(const SongShape& shape) {
    Song* song = zeroed<Song>(1);
    song->channelCount = shape.channels;
    song->songLength = static_cast<int16_t>(shape.patterns);
    song->usedPatternCount = shape.patterns;
    song->patternCount = shape.patterns;
    song->patterns = zeroed<SongPattern>(static_cast<size_t>(shape.patterns));
    for (int32_t p = 0; p < shape.patterns; ++p) {
        song->orders[p] = static_cast<uint8_t>(p);
        resizePattern(song, p, shape.rows);
    }
    song->instrumentCount = shape.instruments;
    song->instruments = zeroed<Instrument>(static_cast<size_t>(shape.instruments));
    song->flags = shape.linear ? linearFrequencyTable : 0;
    song->defaultSpeed = shape.speed;
    song->defaultTempo = shape.tempo;
    song->initialGlobalVolume = 64;
    return song;
}

void releaseBuiltSong(Song* song) {
    freeSong(song);
}

void resizePattern(Song* song, int32_t pattern, int32_t rows) {
    SongPattern& target = song->patterns[pattern];
    std::free(target.notes);
    target.rowCount = rows;
    target.notes = zeroed<PatternNote>(static_cast<size_t>(rows) * song->channelCount);
}

PatternNote& cellAt(Song* song, int32_t pattern, int32_t row, int32_t channel) {
    SongPattern& target = song->patterns[pattern];
    if (row >= target.rowCount || channel >= song->channelCount) {
        throw std::out_of_range("cell outside the pattern");
    }
    return target.notes[row * song->channelCount + channel];
}

void setCell(Song* song, int32_t pattern, int32_t row, int32_t channel, PatternNote cell) {
    cellAt(song, pattern, row, channel) = cell;
}

Instrument& instrumentAt(Song* song, int32_t index) {
    return song->instruments[index];
}

Sample* addSample(Song* song, int32_t index, const SampleShape& shape) {
    Instrument& instrument = instrumentAt(song, index);
    Sample* sample = zeroed<Sample>(1);
    sample->length = shape.length;
    sample->loopType = shape.loopType;
    sample->loopStart = shape.loopType == NoLoop ? 0 : shape.loopStart;
    sample->loopLength = shape.loopType == NoLoop ? shape.length : shape.loopLength;
    sample->volume = shape.volume;
    sample->finetune = shape.finetune;
    sample->panning = shape.panning;
    sample->relativeNote = shape.relativeNote;
    sample->bits = 16;
    if (shape.length != 0) {
        sample->data = allocateSampleData(shape.length);
        for (uint32_t i = 0; i < shape.length; ++i) {
            sample->data[i] = shape.value;
        }
        if (shape.loopType != NoLoop) {
            sample->data[sample->loopStart + sample->loopLength] = shape.value;
        }
    }
    const int32_t slot = instrument.sampleCount;
    auto* slots = static_cast<Sample**>(
        std::realloc(instrument.samples, sizeof(Sample*) * static_cast<size_t>(slot + 1)));
    if (slots == nullptr) {
        throw std::bad_alloc();
    }
    instrument.samples = slots;
    instrument.samples[slot] = sample;
    instrument.sampleCount = slot + 1;
    if (slot == 0) {
        instrument.noteSamples.fill(0);
    }
    return sample;
}

void setEnvelope(EnvelopePoint* points, uint8_t& pointCount, uint8_t& flags,
                 std::initializer_list<std::pair<uint16_t, uint16_t>> shape, uint8_t onFlags) {
    int32_t i = 0;
    for (const auto& [tick, value] : shape) {
        points[i++] = EnvelopePoint{tick, value};
    }
    pointCount = static_cast<uint8_t>(shape.size());
    flags = onFlags;
}

void SongPlayback::start(const Song* song, const xmplayer::PlaybackRules& rules) {
    if (song == nullptr || !startPlayback(playback_, *song, rate, rules)) {
        throw std::runtime_error("the playback could not start");
    }
}

void SongPlayback::ticks(int count) {
    for (int i = 0; i < count; ++i) {
        advanceTick(playback_.sequencer);
    }
}
