#include "tools/render_job.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int32_t pieceFrames = 4096;

struct PlayerRelease {
    void operator()(xmplayer::Player* player) const { xmplayer::destroyPlayer(player); }
};

// Holds back the last fadeFrames frames rendered, so that the fade can end
// where the song ends even when only the pass limit knows where that is.
class FadeOut {
  public:
    explicit FadeOut(int64_t frames) : ring_(2 * static_cast<std::size_t>(frames)) {}

    // Takes the rendered frames; `ready` gets the frames now out of the fade's
    // reach, in order.
    void take(const float* frames, int32_t frameCount, std::vector<float>& ready) {
        ready.clear();
        if (ring_.empty()) {
            ready.assign(frames, frames + 2 * static_cast<std::size_t>(frameCount));
            return;
        }
        const std::size_t capacity = ring_.size() / 2;
        for (int32_t f = 0; f < frameCount; ++f) {
            std::size_t slot = (head_ + held_) % capacity;
            if (held_ == capacity) {
                slot = head_;
                ready.insert(ready.end(), &ring_[2 * slot], &ring_[2 * slot] + 2);
                head_ = (head_ + 1) % capacity;
            } else {
                ++held_;
            }
            ring_[2 * slot] = frames[2 * f];
            ring_[2 * slot + 1] = frames[2 * f + 1];
        }
    }

    // The frames held back, faded from full volume down to silence.
    void finish(std::vector<float>& ready) {
        ready.clear();
        const std::size_t capacity = ring_.size() / 2;
        for (std::size_t k = 0; k < held_; ++k) {
            const std::size_t slot = (head_ + k) % capacity;
            const auto gain =
                static_cast<float>(static_cast<double>(held_ - 1 - k) / static_cast<double>(held_));
            ready.push_back(ring_[2 * slot] * gain);
            ready.push_back(ring_[2 * slot + 1] * gain);
        }
        held_ = 0;
    }

  private:
    std::vector<float> ring_;
    std::size_t head_ = 0;
    std::size_t held_ = 0;
};

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

void renderJob(RenderJob& job, std::atomic<uint64_t>& framesDone) {
    const auto fail = [&job](const std::string& what) {
        job.failed = true;
        job.message = "xm_render: " + what;
    };
    const std::unique_ptr<xmplayer::Player, PlayerRelease> player(
        xmplayer::createPlayer(*job.song, job.encoding.rate));
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
    FadeOut fade(job.fadeFrames);
    std::vector<float> piece(2 * static_cast<std::size_t>(pieceFrames));
    std::vector<float> ready;
    int64_t done = 0;
    for (bool ended = false; !ended;) {
        int32_t wanted = pieceFrames;
        if (job.frames > 0) {
            wanted = static_cast<int32_t>(std::min<int64_t>(wanted, job.frames - done));
        }
        const int32_t got = xmplayer::renderFloatFrames(*player, piece.data(), wanted);
        ended = got < pieceFrames;
        fade.take(piece.data(), got, ready);
        if (ended) {
            std::vector<float> last;
            fade.finish(last);
            ready.insert(ready.end(), last.begin(), last.end());
        }
        const auto readyFrames = static_cast<int32_t>(ready.size() / 2);
        if (readyFrames > 0 && !file.write(ready.data(), readyFrames, error)) {
            file.discard();
            fail("cannot write " + written + ": " + error);
            return;
        }
        done += got;
        framesDone.fetch_add(static_cast<uint64_t>(got));
    }
    if (!file.close(error)) {
        fail("cannot write " + written + ": " + error);
        return;
    }
    job.message = describeOutput(job, done);
}
