/* The C API as a C program uses it, compiled as C99. */
#include "tests/c_api/render_from_c.h"

#include <string.h>

int32_t renderFromC(const char* path, int32_t rate, int32_t passes, int16_t* frames,
                    int32_t frameCount, char* message, size_t capacity) {
    XmplayerError error;
    XmplayerSong* song = NULL;
    XmplayerPlayer* player = NULL;
    int32_t rendered = -1;
    if (xmplayerLoadFile(path, &song, &error) == xmplayerStatusOk &&
        xmplayerCreatePlayer(song, rate, xmplayerRulesFt2, &player, &error) == xmplayerStatusOk) {
        xmplayerSetPassLimit(player, passes);
        rendered = xmplayerRenderFrames(player, frames, frameCount);
    }
    if (rendered < 0 && capacity > 0) {
        strncpy(message, error.message, capacity - 1);
        message[capacity - 1] = '\0';
    }
    xmplayerDestroyPlayer(player);
    xmplayerFreeSong(song);
    return rendered;
}
