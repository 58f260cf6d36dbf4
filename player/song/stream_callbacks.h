// What an application supplies to a load: the five functions through which
// every byte of a song is read (a file, a song in memory or one inside an
// archive all go behind them), and an optional source of sample data.
#pragma once

#include <cstdint>

namespace xmplayer {

// Every callback receives the `context` of the StreamCallbacks record it came
// in, so that a load needs no global state of the application's; open returns
// the handle of an open stream, which the other four receive.
//
// Opens the stream that `name` means to the application; null on failure.
using StreamOpenFunction = void* (*)(void* context, const char* name);
using StreamCloseFunction = void (*)(void* context, void* handle);
// Reads up to `size` bytes; the number read, 0 at the end or on failure.
using StreamReadFunction = int32_t (*)(void* context, void* handle, void* buffer, int32_t size);
// Moves to `offset` from where `mode` says (seekSet, seekCurrent, seekEnd);
// false, with the position unchanged, when the stream cannot go there or
// cannot seek at all.
using StreamSeekFunction = bool (*)(void* context, void* handle, int32_t offset, int32_t mode);
// The position, in bytes from the start; negative when the stream cannot say.
using StreamTellFunction = int32_t (*)(void* context, void* handle);

// Seek modes.
constexpr int32_t seekSet = 0;
constexpr int32_t seekCurrent = 1;
constexpr int32_t seekEnd = 2;

// A stream that cannot seek (a pipe, a socket, a decompressor: its first seek
// or tell fails) is read once from where open left it to its end and loaded
// from that copy in memory. A stream that could seek and fails a later seek
// fails the load.
struct StreamCallbacks {
    StreamOpenFunction open;
    StreamCloseFunction close;
    StreamReadFunction read;
    StreamSeekFunction seek;
    StreamTellFunction tell;
    void* context;  // passed to every call, as the application wishes; may be null
};

// Fills buffer with byteLength bytes of final (not delta coded) sample data in
// place of the file's.
using SampleDataCallback = void (*)(void* buffer, int32_t byteLength, int32_t bits,
                                    int32_t instrumentIndex, int32_t sampleIndex);

}  // namespace xmplayer
