// The title an XM file carries in its header, for the command-line tools.
#pragma once

#include <string>

// The song's title from the file's header, trimmed and with unprintable
// characters replaced; empty when there is none or the file is unreadable.
std::string readSongTitle(const std::string& path);
