// Loading a song through stream callbacks, and releasing it.
#pragma once

#include <cstddef>
#include <string>

#include "player/song/song.h"
#include "player/song/stream.h"
#include "player/song/xm_loader.h"

namespace xmplayer {

// Reads the song that `streams` open under `name`. Null on failure, with a
// sentence saying why in `reason` when that is not null.
Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason);
// The same; `facts` (when not null) receives how the file stores the song.
Song* loadSong(const StreamCallbacks& streams, const char* name,
               SampleDataCallback sampleDataCallback, std::string* reason, XmFileFacts* facts);
// Reads the song held in `size` bytes at `data`, which need not outlive the
// call.
Song* loadSongMemory(const void* data, std::size_t size, std::string* reason);
// Loads an XM file from disk, with the system's reason when it cannot be
// opened.
Song* loadSongFile(const char* path, std::string* reason, XmFileFacts* facts);
// Releases a loaded song; no playback may use it any more. False for null.
bool freeSong(Song* song);

}  // namespace xmplayer
