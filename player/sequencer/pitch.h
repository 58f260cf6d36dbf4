// Note to period, and the hand-over of a channel's requests to its mixer voice.
#pragma once

#include <cstdint>

#include "player/sequencer/sequencer_state.h"

namespace xmplayer {

int32_t linearPeriod(uint8_t note, int8_t finetune);
int32_t amigaPeriod(uint8_t note, int8_t finetune);
// The periodDelta that plays, instead of `period`, the note `semitones` above
// the note nearest it in FastTracker 2's note table (96 notes of 16 finetune
// steps): a slid period snaps to the semitone, and a note beyond the table's
// last step plays that step's pitch.
int32_t tableNoteOffset(int32_t period, int8_t finetune, bool linear, int32_t semitones);
void updateVoice(Sequencer& sequencer, MusicChannel* channel, const Sample* sample);
// Where volume changes glide over the tick, the channel's voice reaches this
// tick's gains by the quick ramp (`quick`) or over the tick.
void chooseQuickRamp(const Sequencer& sequencer, MusicChannel* channel, bool quick);
// Where the rules ask for it, carries a global volume changed during this tick
// into every channel's voice, also those whose tick came before the change.
void refreshGlobalVolume(Sequencer& sequencer);

}  // namespace xmplayer
