// The two sets of playback rules a player can follow.
#pragma once

namespace xmplayer {

// Ft2: as FastTracker 2 plays XM files, which is how their authors heard them
// and what other players reproduce. Own: the player's own, older rules, which
// differ in many details (mirrored stereo with a linear pan law, arpeggio by
// the tick, pattern loops, note delays, key-offs, tremor and more) and which
// the demo keeps to the bit.
enum class RuleSet { Ft2, Own };

}  // namespace xmplayer
