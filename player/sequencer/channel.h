// The per-track playback state of one channel and the requests it hands to
// its mixer voice.
#pragma once

#include <array>
#include <cstdint>

#include "player/mixer/mixer.h"
#include "player/song/song.h"

namespace xmplayer {

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
    int8_t finetune;  // the finetune the last note was given
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
    uint8_t portaUpward;  // the tone portamento's note lies above the period it started from
    uint8_t portaSpeed;
    uint8_t glissando;  // E3x: tone portamento moves in semitones
    int8_t vibratoPos;
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPos;
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorPos;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    // By the rule that tremor holds the volume: whether tremor's current phase
    // sounds, and whether the voice stays silent until the volume is set again.
    uint8_t tremorSounding;
    uint8_t tremorSilenced;
    // By the rule that an instrument number chooses the next note's
    // instrument: that choice, and the fade-out step that the last instrument
    // reset took from the playing instrument.
    uint8_t chosenInstrument;
    int32_t fadeOutStep;
    int32_t loopRow;
    int32_t loopCount;
    uint8_t waveControl;
    uint8_t fineVolSlideParam;
    uint8_t finePortaUpParam;
    uint8_t finePortaDownParam;
    // Fine volume slide down's own memory where the two slides keep apart.
    uint8_t fineVolDownParam;
    // Ticks that multi-retrigger has counted since its last retrigger, where
    // the count runs on across rows.
    uint8_t retrigCount;
    uint8_t playedNote;  // a row has started a note on the channel
};

constexpr int maxChannels = 32;

}  // namespace xmplayer
