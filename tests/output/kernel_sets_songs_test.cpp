// Every kernel set the processor can run renders the corpus's songs and wild
// songs, each for one whole pass by each rule set, to the same bits as the
// reference kernels.
// A playback per set runs in step with the reference's, block by block, and
// the first differing frame fails the test. Long: the reference kernels take
// a while over half an hour of music.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/mixer/mix_kernels.h"
#include "player/playback/playback.h"
#include "player/playback/song_length.h"
#include "player/song/song_loading.h"
#include "tests/corpus.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
// A song that never comes back is compared for this long.
constexpr int64_t longestCompared = int64_t{rate} * 600;

TEST(KernelSetWholeSongs, EverySetRendersEveryWholeSongToTheSameBitsAsTheReference) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto supported = supportedMixKernels();
    ASSERT_GE(supported.size(), 2u);
    const int32_t blockFrames = blockFramesForRate(rate);
    std::vector<float> mix(2 * static_cast<size_t>(blockFrames));
    std::vector<int16_t> expected(mix.size());
    std::vector<int16_t> actual(mix.size());
    int32_t compared = 0;
    for (const std::string folder : {"songs", "wild"}) {
        for (const auto& path : corpusFiles(folder)) {
            for (const PlaybackRules* rules : {&ownRules, &ft2Rules}) {
                SCOPED_TRACE(path.filename().string() +
                             (rules == &ownRules ? " (own rules)" : " (FT2 rules)"));
                std::string reason;
                Song* song = loadSongFile(path.string().c_str(), &reason, nullptr);
                ASSERT_NE(song, nullptr) << reason;
                const int64_t frames =
                    std::min(measureSongLength(*song, rate, *rules).frames, longestCompared);
                // One playback for every set, the reference's first.
                std::vector<std::unique_ptr<Playback>> playbacks;
                for (const MixKernels* kernels : supported) {
                    playbacks.push_back(std::make_unique<Playback>());
                    ASSERT_TRUE(startPlayback(*playbacks.back(), *song, rate, *rules));
                    playbacks.back()->kernels = kernels;
                }
                bool same = true;
                for (int64_t done = 0; same && done < frames; done += blockFrames) {
                    const auto block =
                        static_cast<int32_t>(std::min<int64_t>(blockFrames, frames - done));
                    renderBlock(*playbacks[0], mix.data(), expected.data(), block);
                    for (size_t set = 1; same && set < playbacks.size(); ++set) {
                        renderBlock(*playbacks[set], mix.data(), actual.data(), block);
                        const auto values = 2 * static_cast<ptrdiff_t>(block);
                        const auto mismatch = std::mismatch(actual.begin(), actual.begin() + values,
                                                            expected.begin());
                        same = mismatch.first == actual.begin() + values;
                        EXPECT_TRUE(same) << supported[set]->name << " differs first at frame "
                                          << done + (mismatch.first - actual.begin()) / 2;
                    }
                }
                playbacks.clear();
                freeSong(song);
                ++compared;
            }
        }
    }
    EXPECT_GE(compared, 8);
}

}  // namespace
