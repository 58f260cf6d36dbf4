// Note to period, and the hand-over of a channel's requests to its mixer voice.
#pragma once

#include <cstdint>

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

int32_t linearPeriod(uint8_t note, int8_t finetune);
int32_t amigaPeriod(uint8_t note, int8_t finetune);
void updateVoice(Sequencer& sequencer, MusicChannel* channel, const Sample* sample);
// Where the rules ask for it, carries a global volume changed during this tick
// into every channel's voice, also those whose tick came before the change.
void refreshGlobalVolume(Sequencer& sequencer);

}  // namespace xmplayer
