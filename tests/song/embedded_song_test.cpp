#include <gtest/gtest.h>

#include <string>

#include "app/song_stream.h"
#include "player/song/song_loading.h"

using namespace xmplayer;

namespace {

TEST(EmbeddedSong, StreamsReadTheSameImageIndependently) {
    ASSERT_GT(embeddedSongLength, 336);
    void* first = openMemoryStream(nullptr, nullptr);
    char text[17];
    ASSERT_EQ(readMemoryStream(nullptr, first, text, 17), 17);
    EXPECT_EQ(std::string(text, 17), "Extended Module: ");
    void* second = openMemoryStream(nullptr, "ignored");
    EXPECT_EQ(tellMemoryStream(nullptr, second), 0);
    seekMemoryStream(nullptr, second, 0, 2);
    EXPECT_EQ(tellMemoryStream(nullptr, second), embeddedSongLength);
    EXPECT_EQ(tellMemoryStream(nullptr, first), 17);
    closeMemoryStream(nullptr, first);
    closeMemoryStream(nullptr, second);

    void* again = openMemoryStream(nullptr, nullptr);
    ASSERT_EQ(readMemoryStream(nullptr, again, text, 17), 17);
    EXPECT_EQ(std::string(text, 17), "Extended Module: ") << "closing left the image intact";
    closeMemoryStream(nullptr, again);
}

TEST(EmbeddedSong, LoadsThroughItsStreamCallbacks) {
    std::string reason;
    Song* song = loadSong(songStreamCallbacks(), nullptr, nullptr, &reason);
    ASSERT_NE(song, nullptr) << reason;
    EXPECT_GE(song->channelCount, 1);
    EXPECT_GE(song->instrumentCount, 1);
    freeSong(song);
}

}  // namespace
