// What xm_play shows while it plays: a live display of several lines that a
// terminal redraws in place, or plain lines for a dumb terminal or a pipe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/player.h"

struct PlayScreen {
    std::string title;  // the song's title, or its file's name
    int32_t order = 0;
    int32_t orderCount = 0;
    int32_t pattern = 0;
    int32_t row = 0;
    int32_t rowCount = 0;
    int64_t milliseconds = 0;
    int64_t durationMilliseconds = 0;  // of one pass
    bool paused = false;
    int32_t volumePercent = 100;
    std::vector<xmplayer::ChannelView> channels;
    std::vector<float> levels;  // each channel's meter, 0 to 1
};

// The display's lines, none wider than `columns`: title, position and time,
// a meter and the instrument of each channel, the keys.
std::vector<std::string> screenLines(const PlayScreen& screen, int columns);

// Where the song is, on one line of plain text.
std::string plainLine(const PlayScreen& screen);

// Escape codes that redraw a display of lines in place, the cursor hidden
// while it shows.
class LiveDisplay {
  public:
    // Draws the lines over those drawn before.
    std::string redraw(const std::vector<std::string>& lines);
    // Leaves the display as it last was, the cursor after it and shown.
    std::string close() const;

  private:
    std::size_t shownLines_ = 0;
    bool started_ = false;
};
