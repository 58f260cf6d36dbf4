#include "player/player.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "player/playback/playback.h"
#include "player/playback/song_length.h"
#include "player/sequencer/playback_rules.h"
#include "player/song/file_stream.h"
#include "player/song/song.h"
#include "player/song/song_loading.h"

namespace xmplayer {

// Frames are rendered a block at a time, as the output ring renders them, and
// handed out from the block in whatever pieces the caller asks for: where the
// blocks begin does not depend on the caller's piece sizes, so every way of
// asking gives the same frames.
struct Player {
    Playback playback;
    int32_t blockFrames = 0;
    std::unique_ptr<float[]> mix;
    std::unique_ptr<int16_t[]> pcm;
    std::unique_ptr<RowMark[]> marks;
    int32_t markCount = 0;
    int64_t blockStart = 0;   // the frame the current block starts at
    int32_t blockOffset = 0;  // frames of the current block handed out
    int32_t blockFilled = 0;  // frames of the current block rendered
    int64_t framesRendered = 0;
    // Known once a pass limit is set: one pass, and the frame where the last
    // pass allowed ends (-1: none).
    SongLength length{};
    bool lengthKnown = false;
    int64_t endFrame = -1;
    // Where a seek that searches the song stood when it began, to be put back
    // when it finds nothing: the playback and the block it hands out.
    Playback savedPlayback;
    std::unique_ptr<float[]> savedMix;
    std::unique_ptr<int16_t[]> savedPcm;
    std::unique_ptr<RowMark[]> savedMarks;
};

namespace {

// 2^-15: exact in both directions, so the float frames carry the mix's bits.
constexpr float floatScale = 1.0f / 32768.0f;

// The frame after the current block: where the next one starts.
int64_t nextBlockStart(const Player& player) {
    return player.blockStart + player.blockFilled;
}

void nextBlock(Player& player) {
    player.blockStart = nextBlockStart(player);
    renderBlock(player.playback, player.mix.get(), player.pcm.get(), player.blockFrames,
                player.marks.get(), &player.markCount);
    player.blockOffset = 0;
    player.blockFilled = player.blockFrames;
}

// Plays the next block without mixing it.
void walkNextBlock(Player& player) {
    player.blockStart = nextBlockStart(player);
    walkBlock(player.playback, player.mix.get(), player.blockFrames, player.marks.get(),
              &player.markCount);
    player.blockOffset = player.blockFrames;
    player.blockFilled = player.blockFrames;
    player.framesRendered = player.blockStart + player.blockFrames;
}

// Hands out up to frameCount frames, block by block, through
// `take(done, first, count)` with the first frame's index in the current
// block; fewer where the pass limit ends the song.
template <typename Take>
int32_t handOut(Player& player, int32_t frameCount, Take take) {
    if (frameCount <= 0) {
        return 0;
    }
    if (player.endFrame >= 0) {
        frameCount = static_cast<int32_t>(
            std::clamp<int64_t>(player.endFrame - player.framesRendered, 0, frameCount));
    }
    int32_t done = 0;
    while (done < frameCount) {
        if (player.blockOffset == player.blockFilled) {
            nextBlock(player);
        }
        const int32_t count = std::min(frameCount - done, player.blockFilled - player.blockOffset);
        take(done, player.blockOffset, count);
        player.blockOffset += count;
        done += count;
    }
    player.framesRendered += frameCount;
    return frameCount;
}

// Puts the player where a render from the start would be after `frame`
// frames: whole blocks before it are played without mixing, the block that
// holds it is rendered.
void seekToFrame(Player& player, int64_t frame) {
    if (frame < player.blockStart) {
        restartPlayer(player);
    }
    if (player.blockFilled == 0 || frame >= nextBlockStart(player)) {
        while (nextBlockStart(player) + player.blockFrames <= frame) {
            walkNextBlock(player);
        }
        nextBlock(player);
    }
    player.blockOffset = static_cast<int32_t>(frame - player.blockStart);
    player.framesRendered = frame;
}

void measure(Player& player) {
    if (!player.lengthKnown) {
        player.length =
            measureSongLength(*player.playback.sequencer.song, player.playback.mixer.outputRate,
                              player.playback.sequencer.rules);
        player.lengthKnown = true;
    }
}

// The pass a frame belongs to, counted from 0: the first pass runs from the
// start, every later one from where the song comes back to.
int32_t passOf(const SongLength& length, int64_t frame) {
    const int64_t loopFrames = length.frames - length.loopStartFrames;
    if (frame < length.frames || loopFrames <= 0) {
        return 0;
    }
    return static_cast<int32_t>(
        std::min<int64_t>(1 + (frame - length.frames) / loopFrames, INT32_MAX));
}

int64_t millisecondsOf(const Player& player, int64_t frames) {
    return frames * 1000 / player.playback.mixer.outputRate;
}

}  // namespace

Song* loadSongFile(const char* path, std::string* reason) {
    return loadSongFile(path, reason, nullptr);
}

int32_t orderPattern(const Song& song, int32_t order) {
    return order >= 0 && order < std::clamp<int32_t>(song.songLength, 0, 256) ? song.orders[order]
                                                                              : -1;
}

int32_t orderRows(const Song& song, int32_t order) {
    const int32_t pattern = orderPattern(song, order);
    return pattern >= 0 && pattern < song.patternCount && song.patterns != nullptr
               ? song.patterns[pattern].rowCount
               : 0;
}

int32_t patternRows(const Song& song, int32_t pattern) {
    return pattern >= 0 && pattern < song.patternCount && song.patterns != nullptr
               ? song.patterns[pattern].rowCount
               : 0;
}

int32_t patternCells(const Song& song, int32_t pattern, PatternCell* cells, int32_t capacity) {
    const int32_t rows = patternRows(song, pattern);
    const int32_t count = rows * song.channelCount;
    const PatternNote* notes =
        song.patterns != nullptr && rows > 0 ? song.patterns[pattern].notes : nullptr;
    // The loader leaves no cells for a pattern of empty rows.
    constexpr uint8_t fileKeyOff = 97;
    for (int32_t i = 0; i < std::min(count, capacity); ++i) {
        const PatternNote note = notes != nullptr ? notes[i] : PatternNote{};
        cells[i] = {note.note == keyOffNote ? fileKeyOff : note.note, note.instrument,
                    note.volumeColumn, note.effect, note.effectParam};
    }
    return count;
}

SongSummary describeSong(const Song& song) {
    SongSummary summary{
        {},
        song.channelCount,
        song.songLength,
        song.restartPosition,
        song.patternCount,
        song.instrumentCount,
        song.defaultSpeed,
        song.defaultTempo,
        (song.flags & linearFrequencyTable) != 0 ? FrequencyTable::Linear : FrequencyTable::Amiga};
    // Up to the first zero, without the spaces that pad it.
    std::size_t length = 0;
    for (const char c : song.title) {
        if (c == '\0') {
            break;
        }
        const auto code = static_cast<unsigned char>(c);
        summary.title[length++] = code >= 0x20 && code < 0x7f ? c : '?';
    }
    while (length > 0 && summary.title[length - 1] == ' ') {
        --length;
    }
    summary.title[length] = '\0';
    const std::size_t start = std::strspn(summary.title, " ");
    std::memmove(summary.title, summary.title + start, length + 1 - start);
    return summary;
}

Player* createPlayer(const Song& song, int32_t rate, RuleSet rules) {
    auto player = std::unique_ptr<Player>(new (std::nothrow) Player);
    if (player == nullptr || rate < minOutputRate || rate > maxOutputRate) {
        return nullptr;
    }
    const int32_t frames = blockFramesForRate(rate);
    player->blockFrames = frames;
    player->mix.reset(new (std::nothrow) float[2 * static_cast<std::size_t>(frames)]);
    player->pcm.reset(new (std::nothrow) int16_t[2 * static_cast<std::size_t>(frames)]);
    player->marks.reset(new (std::nothrow) RowMark[static_cast<std::size_t>(frames) + 1]);
    player->savedMix.reset(new (std::nothrow) float[2 * static_cast<std::size_t>(frames)]);
    player->savedPcm.reset(new (std::nothrow) int16_t[2 * static_cast<std::size_t>(frames)]);
    player->savedMarks.reset(new (std::nothrow) RowMark[static_cast<std::size_t>(frames) + 1]);
    if (player->mix == nullptr || player->pcm == nullptr || player->marks == nullptr ||
        player->savedMix == nullptr || player->savedPcm == nullptr ||
        player->savedMarks == nullptr ||
        !startPlayback(player->playback, song, rate, playbackRules(rules))) {
        return nullptr;
    }
    // Copied once here, so that a seek's copy reuses what this allocates.
    try {
        player->savedPlayback = player->playback;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return player.release();
}

void destroyPlayer(Player* player) {
    delete player;
}

const Song& playerSong(const Player& player) {
    return *player.playback.sequencer.song;
}

int32_t renderFrames(Player& player, int16_t* frames, int32_t frameCount) {
    return handOut(player, frameCount, [&](int32_t done, int32_t first, int32_t count) {
        std::copy_n(player.pcm.get() + 2 * static_cast<int64_t>(first), 2 * count,
                    frames + 2 * static_cast<int64_t>(done));
    });
}

int32_t renderFloatFrames(Player& player, float* frames, int32_t frameCount) {
    return handOut(player, frameCount, [&](int32_t done, int32_t first, int32_t count) {
        const float* mix = player.mix.get() + 2 * static_cast<int64_t>(first);
        float* out = frames + 2 * static_cast<int64_t>(done);
        for (int32_t i = 0; i < 2 * count; ++i) {
            out[i] = mix[i] * floatScale;
        }
    });
}

Position renderedPosition(const Player& player) {
    if (player.framesRendered == 0) {
        return {0, 0, 0, 0, 0};
    }
    // Right after a seek to a block's start the last frame is the previous
    // block's, whose row the first mark holds.
    const int32_t lastFrame = player.blockOffset - 1;
    const RowMark* mark = player.marks.get();
    for (int32_t i = 1; i < player.markCount && player.marks[i].frame <= lastFrame; ++i) {
        mark = &player.marks[i];
    }
    const int32_t pass = player.lengthKnown ? passOf(player.length, player.framesRendered - 1) : 0;
    return {mark->orderPos, mark->row, millisecondsOf(player, player.framesRendered),
            player.framesRendered, pass};
}

void restartPlayer(Player& player) {
    rewindPlayback(player.playback);
    player.blockStart = 0;
    player.blockOffset = 0;
    player.blockFilled = 0;
    player.framesRendered = 0;
}

void setUnheardChannels(Player& player, uint32_t channels) {
    // A channel plays on its voice slot and on the twin that takes over a
    // new note.
    const uint64_t slots = uint64_t{channels} | (uint64_t{channels} << twinVoiceOffset);
    player.playback.mixer.unheardSlots = slots;
}

int32_t viewChannels(const Player& player, ChannelView* views, int32_t capacity) {
    const Sequencer& sequencer = player.playback.sequencer;
    const int32_t channels = std::clamp<int32_t>(sequencer.song->channelCount, 0, maxChannels);
    constexpr float fullVolume = 127.0f;  // every factor at its full scale
    for (int32_t c = 0; c < std::min(channels, capacity); ++c) {
        const MusicChannel& channel = sequencer.channels[c];
        const MixVoice* voice = channel.voice;
        const bool playing = voice != nullptr && voice->sample != nullptr;
        views[c] = {playing ? channel.instrumentIndex + 1 : 0,
                    playing ? std::clamp(static_cast<float>(voice->volume) / fullVolume, 0.0f, 1.0f)
                            : 0.0f};
    }
    return channels;
}

SongDuration measureSong(const Song& song, int32_t rate, RuleSet rules) {
    rate = std::clamp(rate, minOutputRate, maxOutputRate);
    const SongLength length = measureSongLength(song, rate, playbackRules(rules));
    return {length.frames * 1000 / rate,
            length.loopStartFrames * 1000 / rate,
            length.loopTarget.orderPos,
            length.loopTarget.row,
            length.comesBack,
            length.frames,
            length.loopStartFrames};
}

void setPassLimit(Player& player, int32_t passes) {
    measure(player);
    if (passes <= 0) {
        player.endFrame = -1;
        return;
    }
    const SongLength& length = player.length;
    const int64_t loopFrames = std::max<int64_t>(length.frames - length.loopStartFrames, 1);
    player.endFrame = length.frames + (passes - 1) * loopFrames;
}

bool seekToTime(Player& player, int64_t milliseconds) {
    // The first frame at or after the time, counted whole seconds apart so
    // that nothing overflows before the frame count itself would.
    const int64_t rate = player.playback.mixer.outputRate;
    const int64_t time = std::max<int64_t>(milliseconds, 0);
    const int64_t seconds = time / 1000;
    const bool fits = seconds <= (INT64_MAX - rate) / rate;
    if (!fits && player.endFrame < 0) {
        return false;
    }
    const int64_t target = fits ? seconds * rate + ((time % 1000) * rate + 999) / 1000 : INT64_MAX;
    seekToFrame(player, player.endFrame >= 0 ? std::min(target, player.endFrame) : target);
    return true;
}

namespace {

// What a seek that searches puts back when it finds nothing: the playback as
// it stood, and the block it was handing out. The buffers are swapped, not
// copied: the search renders into the spare ones.
struct SavedPlace {
    int64_t blockStart;
    int32_t blockOffset;
    int32_t blockFilled;
    int32_t markCount;
    int64_t framesRendered;
};

SavedPlace savePlace(Player& player) {
    player.savedPlayback = player.playback;
    std::swap(player.mix, player.savedMix);
    std::swap(player.pcm, player.savedPcm);
    std::swap(player.marks, player.savedMarks);
    return {player.blockStart, player.blockOffset, player.blockFilled, player.markCount,
            player.framesRendered};
}

void putBack(Player& player, const SavedPlace& place) {
    player.playback = player.savedPlayback;
    std::swap(player.mix, player.savedMix);
    std::swap(player.pcm, player.savedPcm);
    std::swap(player.marks, player.savedMarks);
    player.blockStart = place.blockStart;
    player.blockOffset = place.blockOffset;
    player.blockFilled = place.blockFilled;
    player.markCount = place.markCount;
    player.framesRendered = place.framesRendered;
}

}  // namespace

bool seekToOrder(Player& player, int32_t order, int32_t row) {
    if (row < 0 || row >= orderRows(*player.playback.sequencer.song, order)) {
        return false;
    }
    measure(player);
    const SavedPlace place = savePlace(player);
    // Looked for through one pass and the block that ends it, played ahead
    // without mixing; then played ahead again to the block where it was
    // found, which is heard.
    const int64_t searched = player.length.frames + player.blockFrames;
    restartPlayer(player);
    while (nextBlockStart(player) < searched) {
        const bool songStart = nextBlockStart(player) == 0;
        walkNextBlock(player);
        for (int32_t i = songStart ? 0 : 1; i < player.markCount; ++i) {
            const RowMark& mark = player.marks[i];
            if (mark.orderPos == order && mark.row == row) {
                const int64_t found = player.blockStart + mark.frame;
                restartPlayer(player);
                seekToFrame(player, found);
                return true;
            }
        }
    }
    putBack(player, place);
    return false;
}

}  // namespace xmplayer
