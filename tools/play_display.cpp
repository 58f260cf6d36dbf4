#include "tools/play_display.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int meterWidth = 10;
constexpr int cellWidth = 17;  // "NN ##########  III"
constexpr int cellGap = 3;

std::string tenths(int64_t milliseconds) {
    const auto total = static_cast<long long>(std::max<int64_t>(milliseconds, 0));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", total / 60000, total / 1000 % 60,
                  total / 100 % 10);
    return text;
}

std::string channelCell(int32_t channel, const xmplayer::ChannelView& view, float level) {
    const int filled = static_cast<int>(std::lround(std::clamp(level, 0.0f, 1.0f) * meterWidth));
    std::string meter(static_cast<std::size_t>(filled), '#');
    meter.resize(meterWidth, '.');
    char text[40];
    if (view.instrument > 0) {
        std::snprintf(text, sizeof text, "%2d %s %3d", channel + 1, meter.c_str(), view.instrument);
    } else {
        std::snprintf(text, sizeof text, "%2d %s   -", channel + 1, meter.c_str());
    }
    return text;
}

std::string clipped(std::string line, int columns) {
    if (columns > 0 && line.size() > static_cast<std::size_t>(columns)) {
        line.resize(static_cast<std::size_t>(columns));
    }
    return line;
}

}  // namespace

std::vector<std::string> screenLines(const PlayScreen& screen, int columns) {
    std::vector<std::string> lines;
    lines.push_back("Playing \"" + screen.title + "\"");
    char text[160];
    std::snprintf(text, sizeof text, "Order %3d/%d   Pattern %3d   Row %3d/%d", screen.order,
                  screen.orderCount, screen.pattern, screen.row, screen.rowCount);
    lines.emplace_back(text);
    std::snprintf(text, sizeof text, "Time %s / %s   Volume %d%%%s",
                  tenths(screen.milliseconds).c_str(), tenths(screen.durationMilliseconds).c_str(),
                  screen.volumePercent, screen.paused ? "   [paused]" : "");
    lines.emplace_back(text);
    const int perLine = std::max(1, (columns + cellGap) / (cellWidth + cellGap));
    std::string line;
    for (std::size_t c = 0; c < screen.channels.size(); ++c) {
        if (!line.empty()) {
            line += std::string(cellGap, ' ');
        }
        const float level = c < screen.levels.size() ? screen.levels[c] : 0.0f;
        line += channelCell(static_cast<int32_t>(c), screen.channels[c], level);
        if ((c + 1) % static_cast<std::size_t>(perLine) == 0 || c + 1 == screen.channels.size()) {
            lines.push_back(line);
            line.clear();
        }
    }
    lines.emplace_back("space pause  left/right order  +/- volume  q quit");
    for (std::string& each : lines) {
        each = clipped(each, columns);
    }
    return lines;
}

std::string plainLine(const PlayScreen& screen) {
    char text[160];
    std::snprintf(text, sizeof text, "order %3d/%d  pattern %3d  row %3d  %s / %s%s", screen.order,
                  screen.orderCount, screen.pattern, screen.row,
                  tenths(screen.milliseconds).c_str(), tenths(screen.durationMilliseconds).c_str(),
                  screen.paused ? "  paused" : "");
    return text;
}

std::string LiveDisplay::redraw(const std::vector<std::string>& lines) {
    std::string out;
    if (!started_) {
        out += "\x1b[?25l";
        started_ = true;
    } else if (shownLines_ > 0) {
        out += "\x1b[" + std::to_string(shownLines_) + "A";
    }
    for (const std::string& line : lines) {
        out += "\r" + line + "\x1b[K\n";
    }
    // A display shorter than before leaves nothing of the longer one.
    out += "\x1b[J";
    shownLines_ = lines.size();
    return out;
}

std::string LiveDisplay::close() const {
    return started_ ? "\x1b[?25h" : "";
}
