#include "tools/render_job.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Frames rendered and written at a time: 64 KB of 16-bit output, so that a
// short song written to a pipe or /dev/null does not spend as long in write
// calls as in rendering.
constexpr int32_t pieceFrames = 16384;

struct PlayerRelease {
    void operator()(xmplayer::Player* player) const { xmplayer::destroyPlayer(player); }
};

// The frames of the whole render: the frames asked for, or the passes at the
// job's rate.
int64_t totalFrames(const RenderJob& job) {
    if (job.frames > 0) {
        return job.frames;
    }
    const xmplayer::SongDuration pass =
        xmplayer::measureSong(*job.song, job.encoding.rate, job.rules);
    return pass.frames + (job.passes - 1) * (pass.frames - pass.loopStartFrames);
}

// A straight fade to silence over the last fadeFrames of totalFrames frames,
// applied to frames starting at frame `first`.
void fadeOut(float* frames, int32_t frameCount, int64_t first, int64_t totalFrames,
             int64_t fadeFrames) {
    const int64_t fadeStart = totalFrames - fadeFrames;
    for (int32_t f = 0; f < frameCount; ++f) {
        const int64_t frame = first + f;
        if (frame >= fadeStart) {
            const auto gain = static_cast<float>(static_cast<double>(totalFrames - 1 - frame) /
                                                 static_cast<double>(fadeFrames));
            frames[2 * f] *= gain;
            frames[2 * f + 1] *= gain;
        }
    }
}

std::string describeOutput(const RenderJob& job, int64_t frames) {
    const int32_t rate = job.encoding.rate;
    char text[160];
    std::snprintf(text, sizeof text, "Rendered %.3f s (%lld frames at %d Hz) of ",
                  static_cast<double>(frames) / rate, static_cast<long long>(frames), rate);
    std::string line = text + job.songPath;
    if (job.channel >= 0) {
        line += ", channel " + std::to_string(job.channel + 1) + " alone,";
    }
    return line + " to " + (job.outputPath == "-" ? "standard output" : job.outputPath);
}

}  // namespace

void renderJob(RenderJob& job, RenderProgress& progress) {
    const auto fail = [&job](const std::string& what) {
        job.failed = true;
        job.message = "xm_render: " + what;
    };
    const std::unique_ptr<xmplayer::Player, PlayerRelease> player(
        xmplayer::createPlayer(*job.song, job.encoding.rate, job.rules));
    if (player == nullptr) {
        fail("out of memory for a player of " + job.songPath);
        return;
    }
    if (job.channel >= 0) {
        xmplayer::setUnheardChannels(*player, ~(uint32_t{1} << job.channel));
    }
    if (job.frames <= 0) {
        xmplayer::setPassLimit(*player, job.passes);
    }
    AudioFile file;
    std::string error;
    if (!file.open(job.outputPath, job.encoding, error)) {
        fail("cannot create " + job.outputPath + ": " + error);
        return;
    }
    const std::string written =
        job.outputPath == "-" ? std::string("standard output") : job.outputPath;
    const int64_t fadeFrames = job.fadeFrames > 0 ? std::min(job.fadeFrames, totalFrames(job)) : 0;
    const int64_t total = fadeFrames > 0 ? totalFrames(job) : 0;
    // Without a fade, an integer encoding takes the player's own 16-bit frames.
    const bool integerFrames = fadeFrames == 0 && file.takesIntegers();
    std::vector<float> floats(integerFrames ? 0 : 2 * static_cast<std::size_t>(pieceFrames));
    std::vector<int16_t> integers(integerFrames ? 2 * static_cast<std::size_t>(pieceFrames) : 0);
    int64_t done = 0;
    for (bool ended = false; !ended;) {
        int32_t wanted = pieceFrames;
        if (job.frames > 0) {
            wanted = static_cast<int32_t>(std::min<int64_t>(wanted, job.frames - done));
        }
        int32_t got = 0;
        bool stored = true;
        if (integerFrames) {
            got = xmplayer::renderFrames(*player, integers.data(), wanted);
            stored = got == 0 || file.write(integers.data(), got, error);
        } else {
            got = xmplayer::renderFloatFrames(*player, floats.data(), wanted);
            if (fadeFrames > 0) {
                fadeOut(floats.data(), got, done, total, fadeFrames);
            }
            stored = got == 0 || file.write(floats.data(), got, error);
        }
        if (!stored) {
            file.discard();
            fail("cannot write " + written + ": " + error);
            return;
        }
        ended = got < pieceFrames;
        done += got;
        progress.frames.fetch_add(static_cast<uint64_t>(got));
        if (progress.afterPiece) {
            progress.afterPiece();
        }
    }
    if (!file.close(error)) {
        fail("cannot write " + written + ": " + error);
        return;
    }
    job.message = describeOutput(job, done);
}
