// Number conversions that the sequencer shares.
#pragma once

#include <cstdint>
#include <limits>

namespace xmplayer {

// Truncates toward zero as the x86 conversion instruction does: a value that
// does not fit in 32 bits (or is not a number) gives the smallest int32. Only
// malformed songs reach that case, for instance an arpeggio far above a note
// whose relative note wrapped, and it then steps as the lowest frequency.
inline int32_t truncateToInt32(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

// Slides without a limit (portamento down, fine portamento up) keep the period
// within this bound so that hours of sliding never overflow 32 bits. Both
// table modes play any period beyond it at the lowest stepped frequency, so the
// bound is never heard.
constexpr int32_t periodBound = 1 << 28;

inline int32_t boundedPeriod(int64_t period) {
    if (period > periodBound) {
        return periodBound;
    }
    if (period < -periodBound) {
        return -periodBound;
    }
    return static_cast<int32_t>(period);
}

// FastTracker 2 keeps periods in 16 bits. A slide up in pitch stops at 1; one
// down stops at 31999, one short of 32000 (every pitch after such a stop in
// FreqWraparound's recording is one linear unit above what 32000 gives),
// unless it has wrapped past 32767 into negative periods, which the frequency
// conversion turns round into audible pitches again.
constexpr int32_t highestSlidPeriod = 31999;

inline int32_t periodSlidUpIn16Bits(int32_t period, int32_t amount) {
    const int32_t slid = static_cast<int16_t>(static_cast<uint16_t>(period - amount));
    return slid < 1 ? 1 : slid;
}

inline int32_t periodSlidDownIn16Bits(int32_t period, int32_t amount) {
    const int32_t slid = static_cast<int16_t>(static_cast<uint16_t>(period + amount));
    return slid > highestSlidPeriod ? highestSlidPeriod : slid;
}

// The volume column's panning slides have no limit either; the voice update
// clamps the final panning, and any channel panning beyond this bound already
// gives 0 or 255 there.
constexpr int32_t panningBound = 1 << 20;

inline int32_t boundedPanning(int32_t panning) {
    return panning > panningBound    ? panningBound
           : panning < -panningBound ? -panningBound
                                     : panning;
}

}  // namespace xmplayer
