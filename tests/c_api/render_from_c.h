/* A song rendered through the C API by C code, for the C API's tests. */
#ifndef TESTS_C_API_RENDER_FROM_C_H
#define TESTS_C_API_RENDER_FROM_C_H

#include "player/c_api/xmplayer.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Renders up to frameCount frames of the song at `path` by FT2's rules,
 * ending after `passes` passes (0: never); the frames rendered, or -1 with
 * the library's message in `message`. */
int32_t renderFromC(const char* path, int32_t rate, int32_t passes, int16_t* frames,
                    int32_t frameCount, char* message, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif
