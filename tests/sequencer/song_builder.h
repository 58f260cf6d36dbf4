// Builds songs in memory for the sequencer's tests: patterns of cells,
// instruments with envelopes and samples, released with freeSong; and plays
// them through a playback of the test's own.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "player/playback/playback.h"
#include "player/sequencer/row_processing.h"
#include "player/song/song.h"

using xmplayer::Effect;
using xmplayer::EnvelopePoint;
using xmplayer::Instrument;
using xmplayer::PatternNote;
using xmplayer::Sample;
using xmplayer::Song;

struct SongShape {
    int16_t channels = 1;
    int32_t patterns = 1;
    int32_t rows = 64;
    int16_t instruments = 1;
    bool linear = true;
    int16_t speed = 6;
    int16_t tempo = 125;
};

// A zeroed song with `patterns` patterns of `rows` empty rows, the order list
// 0, 1, ... (songLength = patterns) and `instruments` instruments without
// samples.
Song* buildSong(const SongShape& shape);
void releaseBuiltSong(Song* song);

// Replaces pattern `pattern`'s cells by `rows` empty rows.
void resizePattern(Song* song, int32_t pattern, int32_t rows);
PatternNote& cellAt(Song* song, int32_t pattern, int32_t row, int32_t channel);
void setCell(Song* song, int32_t pattern, int32_t row, int32_t channel, PatternNote cell);

// A cell; without an effect it carries arpeggio 0, which does nothing.
constexpr PatternNote cell(uint8_t note, uint8_t instrument = 0, uint8_t volumeColumn = 0,
                           Effect effect = Effect::Arpeggio, uint8_t param = 0) {
    return {note, instrument, volumeColumn, static_cast<uint8_t>(effect), param};
}

struct SampleShape {
    uint32_t length = 1000;
    uint8_t loopType = xmplayer::NoLoop;
    uint32_t loopStart = 0;
    uint32_t loopLength = 0;  // 0 with NoLoop: the whole sample
    uint8_t volume = 64;
    int8_t finetune = 0;
    int32_t panning = 128;
    int8_t relativeNote = 0;
    int16_t value = 1000;  // every value of the data
};

// Adds a sample to instrument `index` (0-based) in its next slot and maps every
// note to it when it is the first.
Sample* addSample(Song* song, int32_t index, const SampleShape& shape);

Instrument& instrumentAt(Song* song, int32_t index);

// Sets an envelope's points, count and flags.
void setEnvelope(EnvelopePoint* points, uint8_t& pointCount, uint8_t& flags,
                 std::initializer_list<std::pair<uint16_t, uint16_t>> shape, uint8_t onFlags);

// One playback of a built song at 44100 Hz, owned by the test: its sequencer
// (flow state, channel table) and the mixer voices the channels play.
class SongPlayback {
  public:
    static constexpr int32_t rate = 44100;

    // Binds the playback to the song and puts it at the song's start, as a
    // player starts, playing by `rules`; throws when the playback cannot start.
    void start(const Song* song, const xmplayer::PlaybackRules& rules = xmplayer::ownRules);
    // `count` ticks of the song.
    void ticks(int count);

    xmplayer::Playback& playback() { return playback_; }
    xmplayer::Sequencer& sequencer() { return playback_.sequencer; }
    xmplayer::MixerState& mixer() { return playback_.mixer; }
    xmplayer::MusicChannel& channel(int c) { return playback_.sequencer.channels[c]; }
    // The voice the channel plays now.
    xmplayer::MixVoice& voice(int c) { return *playback_.sequencer.channels[c].voice; }

  private:
    xmplayer::Playback playback_{};
};
