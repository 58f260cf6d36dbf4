// The output rates the player accepts, in frames per second: below the
// minimum a volume ramp would be shorter than one frame, and far above any
// real sound card a ring's byte size would no longer fit its 32-bit count.
#pragma once

#include <cstdint>

namespace xmplayer {

constexpr int32_t minOutputRate = 1000;
constexpr int32_t maxOutputRate = 384000;

}  // namespace xmplayer
