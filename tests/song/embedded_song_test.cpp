#include <gtest/gtest.h>

#include <string>

#include "app/song_stream.h"
#include "player/song/song_loading.h"

using namespace xmplayer;

namespace {

TEST(EmbeddedSong, StreamsReadTheSameImageIndependently) {
    ASSERT_GT(embeddedSongLength, 336);
    void* first = openMemoryStream(nullptr);
    char text[17];
    ASSERT_EQ(readMemoryStream(text, 17, first), 17);
    EXPECT_EQ(std::string(text, 17), "Extended Module: ");
    void* second = openMemoryStream("ignored");
    EXPECT_EQ(tellMemoryStream(second), 0);
    seekMemoryStream(second, 0, 2);
    EXPECT_EQ(tellMemoryStream(second), embeddedSongLength);
    EXPECT_EQ(tellMemoryStream(first), 17);
    closeMemoryStream(first);
    closeMemoryStream(second);

    void* again = openMemoryStream(nullptr);
    ASSERT_EQ(readMemoryStream(text, 17, again), 17);
    EXPECT_EQ(std::string(text, 17), "Extended Module: ") << "closing left the image intact";
    closeMemoryStream(again);
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
