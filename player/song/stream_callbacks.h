// What an application supplies to a load: the five functions through which
// every byte of a song is read (a file, a song in memory or one inside an
// archive all go behind them), and an optional source of sample data.
#pragma once

#include <cstdint>

namespace xmplayer {

// Opens the stream that `name` means to the application; null on failure.
using StreamOpenFunction = void* (*)(const char* name);
using StreamCloseFunction = void (*)(void* handle);
using StreamReadFunction = int32_t (*)(void* buffer, int32_t size, void* handle);
using StreamSeekFunction = void (*)(void* handle, int32_t offset, int8_t mode);
using StreamTellFunction = int32_t (*)(void* handle);

// Seek modes.
constexpr int8_t seekSet = 0;
constexpr int8_t seekCurrent = 1;
constexpr int8_t seekEnd = 2;

struct StreamCallbacks {
    StreamOpenFunction open;
    StreamCloseFunction close;
    StreamReadFunction read;
    StreamSeekFunction seek;
    StreamTellFunction tell;
};

// Fills buffer with byteLength bytes of final (not delta coded) sample data in
// place of the file's.
using SampleDataCallback = void (*)(void* buffer, int32_t byteLength, int32_t bits,
                                    int32_t instrumentIndex, int32_t sampleIndex);

}  // namespace xmplayer
