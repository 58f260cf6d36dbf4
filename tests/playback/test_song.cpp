#include "tests/playback/test_song.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

using xmplayer::PatternNote;
using xmplayer::Sample;
using xmplayer::Song;
using xmplayer::SongPattern;

Song* makeBlankSong(const TestSongShape& shape, int16_t instruments) {
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    song->channelCount = shape.channels;
    song->songLength = static_cast<int16_t>(shape.patterns);
    song->patternCount = shape.patterns;
    song->usedPatternCount = shape.patterns;
    song->instrumentCount = instruments;
    song->flags = xmplayer::linearFrequencyTable;
    song->defaultSpeed = static_cast<int16_t>(shape.speed);
    song->defaultTempo = static_cast<int16_t>(shape.tempo);
    song->initialGlobalVolume = 64;
    song->patterns = static_cast<SongPattern*>(std::calloc(shape.patterns, sizeof(SongPattern)));
    for (int32_t p = 0; p < shape.patterns; ++p) {
        song->orders[p] = static_cast<uint8_t>(p);
        SongPattern& pattern = song->patterns[p];
        pattern.rowCount = shape.rows;
        pattern.notes = static_cast<PatternNote*>(std::calloc(
            static_cast<std::size_t>(shape.rows) * shape.channels, sizeof(PatternNote)));
    }
    song->instruments =
        static_cast<xmplayer::Instrument*>(std::calloc(instruments, sizeof(xmplayer::Instrument)));
    return song;
}

Sample* setInstrumentSample(Song& song, int32_t index, const std::vector<int16_t>& values,
                            uint8_t loopType, uint32_t loopStart) {
    const auto length = static_cast<uint32_t>(values.size());
    auto* sample = static_cast<Sample*>(std::calloc(1, sizeof(Sample)));
    sample->data = xmplayer::allocateSampleData(length);
    for (uint32_t i = 0; i < length; ++i) {
        sample->data[i] = values[i];
    }
    sample->length = length;
    sample->loopType = loopType;
    if (loopType == xmplayer::NoLoop) {
        sample->loopStart = 0;
        sample->loopLength = length;
    } else {
        sample->loopStart = loopStart;
        sample->loopLength = length - loopStart;
        // The guard value after the loop, as the loader sets it.
        sample->data[length] =
            loopType == xmplayer::ForwardLoop ? sample->data[loopStart] : sample->data[length - 1];
    }
    sample->volume = 64;
    sample->panning = 128;
    sample->bits = 16;
    xmplayer::Instrument& instrument = song.instruments[index];
    // The song's release frees the slot array with the samples.
    std::free(instrument.samples);
    instrument.samples = static_cast<Sample**>(std::calloc(1, sizeof(Sample*)));
    instrument.sampleCount = 1;
    instrument.samples[0] = sample;
    return sample;
}

PatternNote& songCell(Song& song, int32_t pattern, int32_t row, int32_t channel) {
    return song.patterns[pattern]
        .notes[static_cast<std::size_t>(row) * song.channelCount + channel];
}

Song* makeTestSong(const TestSongShape& shape) {
    constexpr uint32_t sampleLength = 64;
    Song* song = makeBlankSong(shape, 1);
    std::vector<int16_t> sine(sampleLength);
    for (uint32_t i = 0; i < sampleLength; ++i) {
        sine[i] =
            static_cast<int16_t>(8000.0 * std::sin(i * 2.0 * std::numbers::pi / sampleLength));
    }
    setInstrumentSample(*song, 0, sine, xmplayer::ForwardLoop, 0);
    for (int32_t p = 0; p < shape.patterns; ++p) {
        songCell(*song, p, 0, 0) = PatternNote{static_cast<uint8_t>(49 + 12 * p), 1, 0, 0, 0};
        if (p == shape.patterns - 1 && shape.channels > 1) {
            songCell(*song, p, 0, 1) = PatternNote{37, 1, 0, 0, 0};
        }
    }
    return song;
}
