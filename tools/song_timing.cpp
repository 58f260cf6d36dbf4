#include "tools/song_timing.h"

#include <array>
#include <stdexcept>

namespace xm {
namespace {

constexpr int64_t kRowLimit = 1000000;

struct Position {
    int order = 0;
    int row = 0;
};

struct WalkState {
    Position at;
    int speed = 6;
    int tempo = 125;
    std::array<int, kMaxChannels> loopRow{};
    std::array<int, kMaxChannels> loopCount{};
};

struct RowOutcome {
    int64_t microseconds = 0;
    bool wrapped = false;
    bool ordinaryWrap = false;
};

// A tick lasts 2.5 / tempo seconds.
int64_t tickMicroseconds(int tempo) {
    return 2500000 / tempo;
}

// Plays one row: its timing effects, its length, and the move to the next row.
RowOutcome playRow(const Module& m, WalkState& s) {
    const auto songLength = static_cast<int>(m.orders.size());
    const Pattern& pattern = m.patterns[m.orders[s.at.order]];
    int nextOrder = -1;
    int nextRow = -1;
    bool jumped = false;
    int delayTicks = 0;
    const int playedRow = s.at.row;
    for (int ch = 0; ch < m.channels; ++ch) {
        const Cell& c = cellAt(pattern, m.channels, playedRow, ch);
        const int x = c.param >> 4;
        const int y = c.param & 0x0F;
        switch (static_cast<Effect>(c.effect)) {
            case Effect::SpeedTempo:
                if (c.param == 0) {
                    throw std::runtime_error("speed 0 stops the song");
                }
                (c.param < 32 ? s.speed : s.tempo) = c.param;
                break;
            case Effect::PositionJump:
                nextRow = 0;
                nextOrder = c.param >= songLength ? 0 : c.param;
                jumped = true;
                break;
            case Effect::PatternBreak:
                nextRow = x * 10 + y > 63 ? 0 : x * 10 + y;
                if (!jumped) {
                    nextOrder = s.at.order + 1;
                }
                if (nextOrder >= songLength) {
                    nextOrder = 0;
                }
                break;
            case Effect::Extended:
                if (x == static_cast<int>(ExtendedCommand::PatternLoop)) {
                    if (y == 0) {
                        s.loopRow[ch] = playedRow;
                    } else {
                        s.loopCount[ch] = s.loopCount[ch] == 0 ? y : s.loopCount[ch] - 1;
                        if (s.loopCount[ch] != 0) {
                            s.at.row = s.loopRow[ch] - 1;
                        }
                    }
                } else if (x == static_cast<int>(ExtendedCommand::PatternDelay)) {
                    delayTicks = y * s.speed;
                }
                break;
            default:
                break;
        }
    }
    RowOutcome out;
    out.microseconds = (s.speed + delayTicks) * tickMicroseconds(s.tempo);
    if (nextRow < 0) {
        nextRow = s.at.row + 1;
        if (nextRow >= pattern.rows) {
            nextRow = 0;
            nextOrder = s.at.order + 1;
            if (nextOrder >= songLength) {
                nextOrder = m.restartPosition;
                out.wrapped = true;
                out.ordinaryWrap = true;
            }
        }
    } else if (nextOrder >= 0 && nextOrder <= s.at.order) {
        out.wrapped = true;
    }
    if (nextOrder >= 0) {
        s.at.order = nextOrder;
    }
    s.at.row = nextRow;
    // A break into a shorter pattern lands on its last row.
    const int rows = m.patterns[m.orders[s.at.order]].rows;
    if (s.at.row >= rows) {
        s.at.row = rows - 1;
    }
    return out;
}

}  // namespace

PlayLength measurePlayLength(const Module& m) {
    WalkState s;
    s.speed = m.defaultSpeed;
    s.tempo = m.defaultTempo;
    PlayLength result;
    result.wrapsToRestart = true;
    int wraps = 0;
    for (int64_t rows = 0; rows < kRowLimit && wraps < 2; ++rows) {
        const RowOutcome row = playRow(m, s);
        (wraps == 0 ? result.firstPassMicroseconds : result.loopMicroseconds) += row.microseconds;
        if (wraps == 0) {
            ++result.firstPassRows;
        }
        if (row.wrapped) {
            result.wrapsToRestart = result.wrapsToRestart && row.ordinaryWrap;
            if (wraps == 0) {
                result.loopOrder = s.at.order;
            }
            ++wraps;
        }
    }
    if (wraps < 2) {
        throw std::runtime_error("the song does not come round within a million rows");
    }
    return result;
}

}  // namespace xm
