// The mixer and block rendering under load: voice-frames per second for
// mixVoices with 1 and 32 voices and values per second for the PCM
// conversion, with every kernel set the processor runs, and blocks per second
// for renderBlock, with voices set up here and with the corpus songs played
// by the sequencer.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "player/output/block_render.h"
#include "player/output/mix_kernels.h"
#include "player/output/mixer.h"
#include "player/output/wave_output.h"
#include "player/sequencer/channel.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "tests/output/test_ring.h"

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t blockFrames = ringSizesForRate(rate).blockFrames;

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

enum class Scene { ForwardLoops, PingPongLoops, Ramping, Silent };

// Voices at assorted pitches (about 0.2 to 2.3 samples per frame) on
// samples of 4000 to 20000 values.
void setUpVoices(const std::vector<std::unique_ptr<BenchSample>>& samples, int voiceCount,
                 Scene scene) {
    resetMixer(rate);
    std::mt19937 random(static_cast<uint32_t>(voiceCount));
    for (int slot = 0; slot < voiceCount; ++slot) {
        MixVoice& voice = mixerState.voices[slot];
        voice.sample = &samples[slot % samples.size()]->sample;
        voice.stepInt = static_cast<int32_t>(random() % 2);
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
    setUpVoices(samples, voiceCount, scene);
    // Ramping: every call changes the targets and is one ramp long, so every
    // frame is mixed by the ramp kernel.
    const int32_t frames = scene == Scene::Ramping ? mixerState.rampLength : blockFrames;
    std::vector<float> buffer(2 * static_cast<size_t>(frames));
    int flip = 0;
    for (auto _ : state) {
        if (scene == Scene::Ramping) {
            flip ^= 1;
            for (int slot = 0; slot < voiceCount; ++slot) {
                mixerState.voices[slot].targetLeft = flip ? 20 + slot : 100;
                mixerState.voices[slot].targetRight = flip ? 100 : 20 + slot;
            }
        }
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        mixVoicesWith(kernels, buffer.data(), frames);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.counters["voiceFrames/s"] = benchmark::Counter(
        static_cast<double>(voiceCount) * frames, benchmark::Counter::kIsIterationInvariantRate);
    resetMixer(rate);
}

// Every scene with every kernel set this processor runs, named
// mixScene/kernels/voices.
void registerMixBenchmarks() {
    const std::pair<const char*, Scene> scenes[] = {{"mixForwardLoops", Scene::ForwardLoops},
                                                    {"mixPingPongLoops", Scene::PingPongLoops},
                                                    {"mixRamping", Scene::Ramping},
                                                    {"mixSilent", Scene::Silent}};
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

// Every tick of this song moves the 32 steady voices' targets a little and
// starts a new note on one of them, as busy music does.
std::vector<std::unique_ptr<BenchSample>>* tickSamples = nullptr;
void busyTick(Song* song) {
    const int32_t slot = song->tick % 32;
    ++song->tick;
    MixVoice& voice = mixerState.voices[slot];
    voice.sample = &(*tickSamples)[slot % tickSamples->size()]->sample;
    voice.positionInt = 0;
    voice.positionFrac = 0;
    voice.direction = Forward;
    voice.currentLeft = 0;
    voice.currentRight = 0;
    voice.rampFramesLeft = 0;
}

void renderBusyBlocks(benchmark::State& state) {
    auto samples = makeSamples(ForwardLoop);
    tickSamples = &samples;
    setUpVoices(samples, 32, Scene::ForwardLoops);
    Song song{};
    song.tickFunction = busyTick;
    setTempo(&song, 125);
    TestRing ring(rate);
    outputDevice.currentSong = &song;
    for (auto _ : state) {
        renderBlock();
    }
    state.counters["blocks/s"] =
        benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
    outputDevice.currentSong = nullptr;
    tickSamples = nullptr;
    resetMixer(rate);
}
BENCHMARK(renderBusyBlocks);

// The first 30 seconds of a corpus song, played by the sequencer from its
// start as playback does; the counter is the real-time factor.
constexpr int32_t corpusBlocks = 1500;

void renderCorpusSong(benchmark::State& state, const std::string& path) {
    registerFileStream();
    std::string reason;
    Song* song = loadSong(path.c_str(), nullptr, &reason);
    if (song == nullptr) {
        state.SkipWithError(("cannot load " + path + ": " + reason).c_str());
        return;
    }
    resetMixer(rate);
    {
        TestRing ring(rate);
        outputDevice.currentSong = song;
        for (auto _ : state) {
            rewindSong(song);
            for (int32_t block = 0; block < corpusBlocks; ++block) {
                renderBlock();
            }
        }
        outputDevice.currentSong = nullptr;
    }
    state.counters["xRealTime"] =
        benchmark::Counter(static_cast<double>(corpusBlocks) * blockFrames / rate,
                           benchmark::Counter::kIsIterationInvariantRate);
    resetMixer(rate);
    freeSong(song);
}

void registerCorpusBenchmarks() {
    const auto folder = std::filesystem::path(CORPUS_DIR) / "songs";
    std::error_code error;
    bool found = false;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".xm") {
            found = true;
            benchmark::RegisterBenchmark(
                ("renderCorpusSong/" + entry.path().filename().string()).c_str(),
                [path = entry.path().string()](benchmark::State& state) {
                    renderCorpusSong(state, path);
                });
        }
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
    return 0;
}
