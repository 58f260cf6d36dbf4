// Loading an XM file for the command-line tools, with a reason on refusal.
#pragma once

#include <string>

#include "player/song/song.h"
#include "player/song/xm_loader.h"

// Registers the file-backed stream callbacks and loads the song at `path`.
// On failure returns null and sets `reason` to a sentence saying why.
Song* loadSongFile(const std::string& path, std::string& reason);

// The same through the loader itself, which also says in `facts` what the
// file carries besides the song.
Song* loadSongFile(const std::string& path, std::string& reason, XmFileFacts& facts);

// The song's title from the file's header, trimmed and with unprintable
// characters replaced; empty when there is none or the file is unreadable.
std::string readSongTitle(const std::string& path);
