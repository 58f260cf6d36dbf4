// The five caller-supplied stream functions through which every byte of a song
// is read, and the thin wrapper the loader calls them through.
#pragma once

#include <cstdint>

using StreamOpenFunction = void* (*)(const char* name);
using StreamCloseFunction = void (*)(void* handle);
using StreamReadFunction = int32_t (*)(void* buffer, int32_t size, void* handle);
using StreamSeekFunction = void (*)(void* handle, int32_t offset, int8_t mode);
using StreamTellFunction = int32_t (*)(void* handle);

// Seek modes.
constexpr int8_t seekSet = 0;
constexpr int8_t seekCurrent = 1;
constexpr int8_t seekEnd = 2;

// Either all five members are set or all five are null.
struct StreamCallbacks {
    StreamOpenFunction open;
    StreamCloseFunction close;
    StreamReadFunction read;
    StreamSeekFunction seek;
    StreamTellFunction tell;
};

struct SongStream {
    void* handle;
};

extern StreamCallbacks streamCallbacks;

void setStreamCallbacks(StreamOpenFunction open, StreamCloseFunction close,
                        StreamReadFunction read, StreamSeekFunction seek,
                        StreamTellFunction tell);
bool streamCallbacksRegistered();

SongStream* streamOpen(const char* name);
void streamClose(SongStream* stream);
int32_t streamRead(void* buffer, int32_t size, SongStream* stream);
void streamSeek(SongStream* stream, int32_t offset, int8_t mode);
int32_t streamTell(SongStream* stream);
