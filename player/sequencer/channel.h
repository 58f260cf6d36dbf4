// The per-track playback state, the table of 32 channels and the tick driver
// that moves a song through its ticks, rows and order list.
#pragma once

#include <array>
#include <cstdint>

#include "player/output/mixer.h"
#include "player/song/song.h"

// Requests to the voice update, collected in MusicChannel::flags during a tick.
enum ChannelRequest : uint8_t {
    FrequencyChanged = 0x01,
    VolumeChanged = 0x02,
    PanningChanged = 0x04,
    StartNote = 0x08,
    RewindVoice = 0x20,
};

struct MusicChannel {
    uint8_t noteIndex;
    uint8_t flags;
    MixVoice* voice;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t volumeDelta;
    int32_t periodDelta;
    int32_t volEnvTick;
    int32_t volEnvPoint;
    int32_t volEnvFixed;
    int32_t volEnvValue;
    int32_t volEnvDelta;
    uint8_t volEnvDone;
    int32_t panEnvTick;
    int32_t panEnvPoint;
    int32_t panEnvFixed;
    int32_t panEnvValue;
    int32_t panEnvDelta;
    uint8_t panEnvDone;
    int32_t fadeOutLevel;
    int32_t autoVibPos;
    int32_t autoVibSweepPos;
    uint8_t keyOff;
    uint8_t instrumentIndex;
    uint8_t realNote;
    int32_t notePeriod;
    uint8_t lastEffect;
    int32_t sampleOffsetParam;
    uint8_t portaDownParam;
    uint8_t portaUpParam;
    uint8_t xfinePortaDownParam;
    uint8_t xfinePortaUpParam;
    uint8_t volSlideParam;
    uint8_t panSlideParam;
    uint8_t retrigVolumeAction;
    uint8_t retrigInterval;
    int32_t portaTarget;
    uint8_t portaSpeed;
    int8_t vibratoPos;
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPos;
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorPos;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    int32_t loopRow;
    int32_t loopCount;
    uint8_t waveControl;
    uint8_t fineVolSlideParam;
    uint8_t finePortaUpParam;
    uint8_t finePortaDownParam;
};

constexpr int maxChannels = 32;

extern std::array<MusicChannel, maxChannels> channelTable;

// The all-zero instrument used for an instrument number beyond the song's.
extern Instrument emptyInstrument;

// The row that the last row tick processed. The ticks between rows run its
// cells even after a pattern loop has moved Song::row back.
extern int32_t processedRow;

// Clears the first channelCount channels (at most the table's 32) and binds
// channel c to voice slot c.
void resetChannels(const Song* song);

// One tick of the song; installed by the loader as Song::tickFunction.
void advanceTick(Song* song);
