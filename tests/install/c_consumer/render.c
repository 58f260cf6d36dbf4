/* Renders one pass of an XM song through the installed C API, as a C program
 * built with pkg-config alone would: 16-bit stereo at 44100 Hz by FastTracker
 * 2's rules, raw to a file (the machine's byte order). The README's C example
 * is this program: keep the two in step.
 *
 *   render SONG.xm OUT.raw
 */
#include <stdio.h>

#include <xmplayer/xmplayer.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("Usage: render SONG.xm OUT.raw\n", stderr);
        return 2;
    }
    XmplayerError error;
    XmplayerSong* song = NULL;
    XmplayerPlayer* player = NULL;
    if (xmplayerLoadFile(argv[1], &song, &error) != xmplayerStatusOk ||
        xmplayerCreatePlayer(song, 44100, xmplayerRulesFt2, &player, &error) != xmplayerStatusOk) {
        fprintf(stderr, "render: %s: %s\n", argv[1], error.message);
        xmplayerFreeSong(song);
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    if (out == NULL) {
        perror(argv[2]);
        xmplayerDestroyPlayer(player);
        xmplayerFreeSong(song);
        return 1;
    }
    xmplayerSetPassLimit(player, 1);
    int16_t frames[2 * 4096];
    int64_t total = 0;
    int32_t rendered;
    while ((rendered = xmplayerRenderFrames(player, frames, 4096)) > 0) {
        fwrite(frames, 2 * sizeof frames[0], (size_t)rendered, out);
        total += rendered;
    }
    XmplayerPosition at;
    xmplayerRenderedPosition(player, &at, NULL);
    printf("%lld frames, %.3f s, through xmplayer %s\n", (long long)total,
           (double)at.milliseconds / 1000.0, xmplayerVersionText());
    xmplayerDestroyPlayer(player);
    xmplayerFreeSong(song);
    return fclose(out) == 0 ? 0 : 1;
}
