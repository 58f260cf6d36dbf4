// The mixer and the rendering core under load: voice-frames per second for
// the mixer with 1 and 32 voices and values per second for the PCM
// conversion, with every kernel set the processor runs; blocks per second for
// renderBlock on a busy song built here; and the real-time factor of the
// corpus songs, rendered block by block by the core and pulled through the
// public API in 1024-frame pieces as an application's audio callback would.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "player/mixer/mix_kernels.h"
#include "player/mixer/mixer.h"
#include "player/playback/playback.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/playback/test_song.h"

using namespace xmplayer;

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t blockFrames = blockFramesForRate(rate);

struct BenchSample {
    explicit BenchSample(uint8_t loopType, uint32_t length, uint32_t seed) {
        std::mt19937 random(seed);
        sample.data = allocateSampleData(length);
        sample.length = length;
        for (uint32_t i = 0; i < length; ++i) {
            sample.data[i] = static_cast<int16_t>(random());
        }
        sample.loopType = loopType;
        sample.loopStart = loopType == NoLoop ? 0 : length / 4;
        sample.loopLength = length - sample.loopStart;
        sample.data[length] = loopType == ForwardLoop    ? sample.data[sample.loopStart]
                              : loopType == PingPongLoop ? sample.data[length - 1]
                                                         : 0;
        sample.bits = 16;
    }
    BenchSample(const BenchSample&) = delete;
    BenchSample& operator=(const BenchSample&) = delete;
    ~BenchSample() { releaseSampleData(sample.data); }
    Sample sample{};
};

enum class Scene { ForwardLoops, PingPongLoops, HighPitches, Ramping, Gliding, Silent };

// A tick at 125 BPM: the length of the glides under FT2's rules.
constexpr int32_t tickFrames = rate * 5 / 2 / 125;

// Voices at assorted pitches (about 0.2 to 2 samples per frame; 2 to 6 for
// the high pitches) on samples of 4000 to 20000 values.
void setUpVoices(MixerState& mixer, const std::vector<std::unique_ptr<BenchSample>>& samples,
                 int voiceCount, Scene scene) {
    resetMixer(mixer, rate);
    std::mt19937 random(static_cast<uint32_t>(voiceCount));
    for (int slot = 0; slot < voiceCount; ++slot) {
        MixVoice& voice = mixer.voices[slot];
        voice.sample = &samples[slot % samples.size()]->sample;
        voice.stepInt = static_cast<int32_t>(random() % 2) + (scene == Scene::HighPitches ? 2 : 0) +
                        (scene == Scene::HighPitches && slot % 2 == 1 ? 2 : 0);
        voice.stepFrac = random() | 0x30000000u;
        voice.direction = Forward;
        const bool silent = scene == Scene::Silent;
        voice.targetLeft = silent ? 0 : static_cast<int32_t>(1 + random() % 127);
        voice.targetRight = silent ? 0 : static_cast<int32_t>(1 + random() % 127);
        voice.currentLeft = voice.targetLeft * 256;
        voice.currentRight = voice.targetRight * 256;
        voice.rampTargetLeft = voice.targetLeft;
        voice.rampTargetRight = voice.targetRight;
    }
}

std::vector<std::unique_ptr<BenchSample>> makeSamples(uint8_t loopType) {
    std::vector<std::unique_ptr<BenchSample>> samples;
    for (uint32_t i = 0; i < 8; ++i) {
        samples.push_back(std::make_unique<BenchSample>(loopType, 4000 + 2000 * i, i));
    }
    return samples;
}

void runMix(benchmark::State& state, Scene scene, const MixKernels& kernels) {
    const auto voiceCount = static_cast<int>(state.range(0));
    const auto samples = makeSamples(scene == Scene::PingPongLoops ? PingPongLoop : ForwardLoop);
    const auto mixer = std::make_unique<MixerState>();
    setUpVoices(*mixer, samples, voiceCount, scene);
    // Ramping and gliding: every call changes the targets and is one ramp
    // long, so every frame is mixed by the ramp kernel; a glide lasts a tick,
    // as where the gains glide over the tick, and crosses more binades.
    const bool ramps = scene == Scene::Ramping || scene == Scene::Gliding;
    if (scene == Scene::Gliding) {
        mixer->tickRampLength = tickFrames;
        mixer->tickRampReciprocal = 1.0f / static_cast<float>(tickFrames);
        mixer->quickRampLength = mixer->rampLength;
        mixer->quickRampReciprocal = mixer->rampReciprocal;
    }
    const int32_t frames = scene == Scene::Ramping   ? mixer->rampLength
                           : scene == Scene::Gliding ? tickFrames
                                                     : blockFrames;
    std::vector<float> buffer(2 * static_cast<size_t>(frames));
    int flip = 0;
    for (auto _ : state) {
        if (ramps) {
            flip ^= 1;
            for (int slot = 0; slot < voiceCount; ++slot) {
                mixer->voices[slot].targetLeft = flip ? 20 + slot : 100;
                mixer->voices[slot].targetRight = flip ? 100 : 20 + slot;
            }
        }
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        mixVoicesWith(*mixer, kernels, buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voiceFrames/s"] = benchmark::Counter(
        static_cast<double>(voiceCount) * frames, benchmark::Counter::kIsIterationInvariantRate);
}

// Every scene with every kernel set this processor runs, named
// mixScene/kernels/voices.
void registerMixBenchmarks() {
    const std::pair<const char*, Scene> scenes[] = {
        {"mixForwardLoops", Scene::ForwardLoops}, {"mixPingPongLoops", Scene::PingPongLoops},
        {"mixHighPitches", Scene::HighPitches},   {"mixRamping", Scene::Ramping},
        {"mixGliding", Scene::Gliding},           {"mixSilent", Scene::Silent}};
    for (const MixKernels* kernels : supportedMixKernels()) {
        for (const auto& [name, scene] : scenes) {
            auto* benchmark = benchmark::RegisterBenchmark(
                (std::string(name) + "/" + kernels->name).c_str(),
                [scene, kernels](benchmark::State& state) { runMix(state, scene, *kernels); });
            if (scene != Scene::Silent) {
                benchmark->Arg(1);
            }
            benchmark->Arg(32);
        }
    }
}

// Converting a block of mixed frames to 16-bit PCM.
void registerConversionBenchmarks() {
    for (const MixKernels* kernels : supportedMixKernels()) {
        benchmark::RegisterBenchmark(
            (std::string("toPcm16/") + kernels->name).c_str(), [kernels](benchmark::State& state) {
                std::mt19937 random(5);
                std::vector<float> source(2 * static_cast<size_t>(blockFrames));
                for (float& value : source) {
                    value =
                        static_cast<float>(static_cast<int32_t>(random() % 80000) - 40000) / 1.5f;
                }
                std::vector<int16_t> pcm(source.size());
                for (auto _ : state) {
                    kernels->toPcm16(pcm.data(), source.data(),
                                     static_cast<int64_t>(source.size()));
                    benchmark::DoNotOptimize(pcm.data());
                    benchmark::ClobberMemory();
                }
                state.counters["values/s"] =
                    benchmark::Counter(static_cast<double>(source.size()),
                                       benchmark::Counter::kIsIterationInvariantRate);
            });
    }
}

// A song of 32 channels at speed 1 whose every tick starts a new note on one
// of them, at assorted pitches (about 0.2 to 1.5 samples per frame) and
// volumes, on 8 looping samples of 4000 to 18000 random values: busy music.
Song* makeBusySong() {
    constexpr int16_t channels = 32;
    constexpr int16_t instruments = 8;
    constexpr int32_t rows = 64;
    Song* song = makeBlankSong({1, rows, 1, 125, channels}, instruments);
    for (int16_t i = 0; i < instruments; ++i) {
        std::mt19937 random(static_cast<uint32_t>(i));
        std::vector<int16_t> values(4000 + 2000 * static_cast<size_t>(i));
        for (int16_t& value : values) {
            value = static_cast<int16_t>(random());
        }
        setInstrumentSample(*song, i, values, ForwardLoop,
                            static_cast<uint32_t>(values.size() / 4));
    }
    for (int32_t row = 0; row < rows; ++row) {
        songCell(*song, 0, row, row % channels) = PatternNote{
            static_cast<uint8_t>(49 + row * 7 % 36), static_cast<uint8_t>(1 + row % instruments),
            static_cast<uint8_t>(0x10 + 16 + row * 13 % 40), 0, 0};
    }
    return song;
}

void renderBusyBlocks(benchmark::State& state) {
    Song* song = makeBusySong();
    auto playback = std::make_unique<Playback>();
    if (!startPlayback(*playback, *song, rate, ft2Rules)) {
        state.SkipWithError("the busy song's playback did not start");
        freeSong(song);
        return;
    }
    std::vector<float> mix(2 * static_cast<size_t>(blockFrames));
    std::vector<int16_t> pcm(mix.size());
    // The first 32 rows bring every channel in.
    for (int32_t block = 0; block < 40; ++block) {
        renderBlock(*playback, mix.data(), pcm.data(), blockFrames);
    }
    for (auto _ : state) {
        renderBlock(*playback, mix.data(), pcm.data(), blockFrames);
        benchmark::DoNotOptimize(pcm.data());
    }
    state.counters["blocks/s"] =
        benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
    playback.reset();
    freeSong(song);
}
BENCHMARK(renderBusyBlocks);

// The first 30 seconds of a corpus song from its start; the counter is the
// real-time factor.
constexpr int32_t corpusBlocks = 1500;
constexpr int64_t corpusFrames = int64_t{corpusBlocks} * blockFrames;
constexpr int32_t pullPiece = 1024;

void setRealTimeFactor(benchmark::State& state) {
    state.counters["xRealTime"] = benchmark::Counter(static_cast<double>(corpusFrames) / rate,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}

// Through the rendering core, block by block, as the output driver renders.
void renderCorpusSong(benchmark::State& state, const Song& song) {
    auto playback = std::make_unique<Playback>();
    if (!startPlayback(*playback, song, rate, ft2Rules)) {
        state.SkipWithError("the playback did not start");
        return;
    }
    std::vector<float> mix(2 * static_cast<size_t>(blockFrames));
    std::vector<int16_t> pcm(mix.size());
    for (auto _ : state) {
        rewindPlayback(*playback);
        for (int32_t block = 0; block < corpusBlocks; ++block) {
            renderBlock(*playback, mix.data(), pcm.data(), blockFrames);
        }
        benchmark::DoNotOptimize(pcm.data());
    }
    setRealTimeFactor(state);
}

// Through the public pull API, in pieces of 1024 frames.
void pullCorpusSong(benchmark::State& state, const Song& song) {
    Player* player = createPlayer(song, rate);
    if (player == nullptr) {
        state.SkipWithError("the player was not created");
        return;
    }
    std::vector<int16_t> frames(2 * static_cast<size_t>(pullPiece));
    for (auto _ : state) {
        restartPlayer(*player);
        for (int64_t done = 0; done < corpusFrames; done += pullPiece) {
            renderFrames(*player, frames.data(),
                         static_cast<int32_t>(std::min<int64_t>(pullPiece, corpusFrames - done)));
        }
        benchmark::DoNotOptimize(frames.data());
    }
    destroyPlayer(player);
    setRealTimeFactor(state);
}

// The corpus songs stay loaded while the benchmarks run; each is only read.
std::vector<Song*> loadedSongs;

void registerCorpusBenchmarks() {
    const auto folder = std::filesystem::path(CORPUS_DIR) / "songs";
    std::error_code error;
    bool found = false;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".xm") {
            paths.push_back(entry.path());
        }
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        std::string reason;
        Song* song = loadSongFile(path.string().c_str(), &reason);
        if (song == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.string().c_str(), reason.c_str());
            continue;
        }
        found = true;
        loadedSongs.push_back(song);
        const std::string name = path.filename().string();
        benchmark::RegisterBenchmark(
            ("renderCorpusSong/" + name).c_str(),
            [song](benchmark::State& state) { renderCorpusSong(state, *song); });
        benchmark::RegisterBenchmark(
            ("pullCorpusSong/" + name).c_str(),
            [song](benchmark::State& state) { pullCorpusSong(state, *song); });
    }
    if (!found) {
        std::fprintf(stderr,
                     "corpus folder %s not found: the corpus song benchmarks are left out\n",
                     folder.string().c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerMixBenchmarks();
    registerConversionBenchmarks();
    registerCorpusBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (Song* song : loadedSongs) {
        freeSong(song);
    }
    return 0;
}
