// One output of xm_render: a song, or one channel of it heard alone through
// the same mixer, rendered for a length into an audio file, with an
// optional linear fade-out over its last frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "player/player.h"
#include "tools/audio_file.h"

struct RenderJob {
    std::shared_ptr<const xmplayer::Song> song;  // null: the song did not load
    std::string songPath;
    std::string outputPath;  // "-" for standard output
    AudioEncoding encoding{};
    xmplayer::RuleSet rules = xmplayer::RuleSet::Ft2;
    int32_t channel = -1;  // the one channel heard; -1 for all
    // The length: frames when above 0, else `passes` passes through the song.
    int64_t frames = 0;
    int32_t passes = 1;
    int64_t fadeFrames = 0;
    int64_t expectedFrames = 0;  // for the progress shown while it renders

    bool failed = false;
    std::string message;  // the line to print when it is done
};

// How far the renders of a batch have come: the frames rendered so far, and
// what to do after each piece (on the rendering thread; may be empty).
struct RenderProgress {
    std::atomic<uint64_t> frames{0};
    std::function<void()> afterPiece;
};

// Renders the job, counting every frame rendered into `progress`, and leaves
// its outcome in job.failed and job.message. A file that could not be
// finished is removed.
void renderJob(RenderJob& job, RenderProgress& progress);
