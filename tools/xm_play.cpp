// xm_play: plays an XM song on the sound card, pulled from the player in
// SDL's audio callback, with a live display of where the song is and what
// each channel plays; keys pause, jump between orders and set the volume.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pull_audio.h"
#include "platform/terminal.h"
#include "platform/terminal_keys.h"
#include "platform/terminal_screen.h"
#include "player/player.h"
#include "tools/command_line.h"
#include "tools/play_display.h"
#include "tools/song_title.h"

namespace {

using namespace xmplayer;

constexpr int32_t defaultRate = 44100;
constexpr double maxSeconds = 1.0e7;
constexpr int refreshMilliseconds = 50;
constexpr auto plainLineInterval = std::chrono::seconds(1);
constexpr int32_t volumeStep = 10;
constexpr int32_t maxVolumePercent = 200;
// Meters fall back this much of their height each refresh, so that a short
// note stays visible.
constexpr float meterFall = 0.7f;
// After the last frame the device still plays what it was given.
constexpr auto drainTime = std::chrono::milliseconds(150);

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int) {
    interrupted = 1;
}

constexpr char description[] =
    "Plays an XM song on the sound card with a live display: title, order, "
    "pattern and row, time and duration, and a level meter and the instrument "
    "of each channel. It stops at the end of the song (when it comes back to a "
    "row it has played) unless --loop is given. On a dumb terminal (TERM=dumb) "
    "or when standard output is not a terminal it prints plain lines instead, "
    "one a second and one for each key's effect.";

constexpr char footer[] =
    "Keys:\n"
    "  space         pause and resume\n"
    "  left, right   jump to the previous or the next order\n"
    "  +, -          volume up or down by 10% (0% to 200%)\n"
    "  q, Escape     quit\n"
    "\n"
    "Examples:\n"
    "  xm_play song.xm          play the song to its end\n"
    "  xm_play song.xm --loop   play it until q is pressed\n"
    "\n"
    "SDL chooses the sound device: SDL_AUDIODRIVER=disk writes the sound to a\n"
    "file instead, SDL_AUDIODRIVER=dummy plays it to nothing.\n";

struct Options {
    std::string songPath;
    int32_t rate = defaultRate;
    std::optional<double> seconds;
    bool loop = false;
    RuleSet rules = RuleSet::Ft2;
};

struct PlayerRelease {
    void operator()(Player* player) const { destroyPlayer(player); }
};
struct SongRelease {
    void operator()(Song* song) const { freeSong(song); }
};
using PlayerHandle = std::unique_ptr<Player, PlayerRelease>;

// What the audio callback uses; the main thread touches it only under the
// device's lock.
struct Shared {
    PlayerHandle player;
    int32_t volumePercent = 100;
    bool ended = false;
};

void fillFrames(void* context, int16_t* frames, int32_t frameCount) {
    auto& shared = *static_cast<Shared*>(context);
    const int32_t rendered = renderFrames(*shared.player, frames, frameCount);
    if (rendered < frameCount) {
        std::fill(frames + 2 * rendered, frames + 2 * frameCount, int16_t{0});
        shared.ended = true;
    }
    if (shared.volumePercent != 100) {
        for (int32_t i = 0; i < 2 * rendered; ++i) {
            const int32_t scaled = frames[i] * shared.volumePercent / 100;
            frames[i] = static_cast<int16_t>(std::clamp(scaled, -32768, 32767));
        }
    }
}

// Everything the main loop keeps between refreshes.
class Session {
  public:
    Session(const Options& options, const Song& song, PullAudioDevice& device, Shared& shared,
            PlayerHandle spare)
        : options_(options),
          song_(song),
          orders_(describeSong(song).songLength),
          device_(device),
          shared_(shared),
          spare_(std::move(spare)),
          fancy_(takesCursorMovements()) {
        screen_.title = readSongTitle(options.songPath);
        if (screen_.title.empty()) {
            screen_.title = std::filesystem::path(options.songPath).filename().string();
        }
        screen_.orderCount = orders_;
        screen_.durationMilliseconds = measureSong(song, options.rate, options.rules).milliseconds;
        screen_.channels.resize(static_cast<std::size_t>(describeSong(song).channels));
        screen_.levels.assign(screen_.channels.size(), 0.0f);
    }

    // Plays until the song ends or the listener quits.
    void run() {
        if (!fancy_) {
            std::printf("Playing \"%s\" (%s); q or Escape stops\n", screen_.title.c_str(),
                        options_.songPath.c_str());
            std::fflush(stdout);
        }
        bool inputOpen = true;
        RawKeyboard keyboard;
        auto lastPlain = std::chrono::steady_clock::now() - plainLineInterval;
        while (interrupted == 0 && !quit_) {
            const bool ended = look();
            if (ended || (options_.seconds && screen_.milliseconds >= *options_.seconds * 1000)) {
                std::this_thread::sleep_for(drainTime);
                break;
            }
            const auto now = std::chrono::steady_clock::now();
            if (fancy_) {
                show(display_.redraw(screenLines(screen_, terminalSize().columns)));
            } else if (now - lastPlain >= plainLineInterval) {
                show(plainLine(screen_) + "\n");
                lastPlain = now;
            }
            for (const Key& key : decodeKeys(readKeys(refreshMilliseconds, inputOpen))) {
                press(key);
            }
        }
        look();
        if (fancy_) {
            show(display_.redraw(screenLines(screen_, terminalSize().columns)) + display_.close());
        } else {
            show(plainLine(screen_) + "\n");
        }
    }

  private:
    // Reads where the song is and what its channels play; true once it ended.
    bool look() {
        Position at{};
        bool ended = false;
        {
            const std::lock_guard<PullAudioDevice> lock(device_);
            at = renderedPosition(*shared_.player);
            viewChannels(*shared_.player, screen_.channels.data(),
                         static_cast<int32_t>(screen_.channels.size()));
            ended = shared_.ended;
            screen_.volumePercent = shared_.volumePercent;
        }
        // Right after a jump nothing of the new order has been heard yet.
        const bool justJumped = jump_ && at.frames == jump_->frames;
        screen_.order = justJumped ? jump_->order : at.order;
        screen_.row = justJumped ? jump_->row : at.row;
        screen_.milliseconds = at.milliseconds;
        screen_.pattern = orderPattern(song_, screen_.order);
        screen_.rowCount = orderRows(song_, screen_.order);
        for (std::size_t c = 0; c < screen_.channels.size(); ++c) {
            screen_.levels[c] = std::max(screen_.channels[c].volume, screen_.levels[c] * meterFall);
        }
        return ended;
    }

    void press(const Key& key) {
        if (key.name == KeyName::Escape ||
            (key.name == KeyName::Character && (key.character == 'q' || key.character == 'Q'))) {
            quit_ = true;
        } else if (key.name == KeyName::Character && key.character == ' ') {
            screen_.paused = !screen_.paused;
            device_.setPaused(screen_.paused);
            note(screen_.paused ? "paused" : "playing");
        } else if (key.name == KeyName::Right || key.name == KeyName::Left) {
            jump(key.name == KeyName::Right ? 1 : -1);
        } else if (key.name == KeyName::Character &&
                   (key.character == '+' || key.character == '=' || key.character == '-')) {
            const int32_t step = key.character == '-' ? -volumeStep : volumeStep;
            int32_t volume = 0;
            {
                const std::lock_guard<PullAudioDevice> lock(device_);
                shared_.volumePercent =
                    std::clamp(shared_.volumePercent + step, 0, maxVolumePercent);
                volume = shared_.volumePercent;
            }
            note("volume " + std::to_string(volume) + "%");
        }
    }

    // Moves to the next order the song plays, forward or back. The spare
    // player seeks while the other one plays on, and the two change places
    // under the lock, so that the sound does not stop while it seeks.
    void jump(int32_t direction) {
        look();
        const int32_t order = screen_.order;
        for (int32_t target = std::max(order + direction, 0); target >= 0 && target < orders_;
             target += direction) {
            if (seekToOrder(*spare_, target, 0)) {
                jump_ = Position{target, 0, 0, renderedPosition(*spare_).frames, 0};
                {
                    const std::lock_guard<PullAudioDevice> lock(device_);
                    std::swap(shared_.player, spare_);
                    shared_.ended = false;
                }
                note("order " + std::to_string(target));
                return;
            }
            if (direction < 0 && target == 0) {
                break;
            }
        }
    }

    // A key's effect, on its own line where the display is plain.
    void note(const std::string& what) {
        if (!fancy_) {
            look();
            show(plainLine(screen_) + "  " + what + "\n");
        }
    }

    static void show(const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }

    const Options& options_;
    const Song& song_;
    int32_t orders_;
    PullAudioDevice& device_;
    Shared& shared_;
    PlayerHandle spare_;
    bool fancy_;
    bool quit_ = false;
    std::optional<Position> jump_;  // where the last jump went, and its frame
    PlayScreen screen_;
    LiveDisplay display_;
};

PlayerHandle newPlayer(const Song& song, const Options& options) {
    PlayerHandle player(createPlayer(song, options.rate, options.rules));
    if (player != nullptr) {
        setPassLimit(*player, options.loop ? 0 : 1);
    }
    return player;
}

int play(const Options& options) {
    std::string reason;
    const std::unique_ptr<Song, SongRelease> song(loadSongFile(options.songPath.c_str(), &reason));
    if (song == nullptr) {
        std::fprintf(stderr, "xm_play: cannot load %s: %s\n", options.songPath.c_str(),
                     reason.c_str());
        return 1;
    }
    // Declared before the device, so that the device closes first.
    Shared shared;
    shared.player = newPlayer(*song, options);
    PlayerHandle spare = newPlayer(*song, options);
    if (shared.player == nullptr || spare == nullptr) {
        std::fputs("xm_play: out of memory for the players\n", stderr);
        return 1;
    }
    PullAudioDevice device;
    if (!device.open(options.rate, fillFrames, &shared, reason)) {
        std::fprintf(stderr, "xm_play: cannot open the sound device at %d Hz: %s\n", options.rate,
                     reason.c_str());
        return 1;
    }
    onStopRequest(onSignal);
    device.setPaused(false);
    Session session(options, *song, device, shared, std::move(spare));
    session.run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("", "xm_play");
    setUpApp(app, description, footer);
    Options options;
    app.add_option("SONG", options.songPath, optionHelp("the XM song to play"))
        ->required()
        ->type_name("");
    app.add_option("--rate", options.rate,
                   optionHelp("frames per second, 1000 to 384000 (default 44100)"))
        ->type_name("HZ")
        ->check(rateCheck());
    addRulesOption(app, options.rules);
    app.add_option("--seconds", options.seconds,
                   optionHelp("stop after S seconds of the song (default: at its end)"))
        ->type_name("S")
        ->check(secondsCheck(maxSeconds));
    app.add_flag("--loop", options.loop,
                 optionHelp("play on from where the song loops back to, until stopped"));
    if (const auto status = parseCommandLine(app, argc, argv)) {
        return *status;
    }
    return play(options);
}
