#include "player/song/file_stream.h"

#include <cerrno>
#include <cstdio>
#include <limits>

#include "player/song/stream.h"

namespace xmplayer {

namespace {

std::FILE* fileOf(void* handle) {
    return static_cast<std::FILE*>(handle);
}

}  // namespace

void* openFileStream(void* /*context*/, const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // Positions are int32 in the stream contract; a larger file could not be
    // addressed, and a directory cannot be read at all. A pipe has no end to
    // seek to: the loader reads it through once.
    if (std::fseek(file, 0, SEEK_END) != 0) {
        if (errno == ESPIPE) {
            return file;
        }
        std::fclose(file);
        return nullptr;
    }
    const long size = std::ftell(file);
    if (size < 0 || size > std::numeric_limits<int32_t>::max() ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void closeFileStream(void* /*context*/, void* handle) {
    if (handle != nullptr) {
        std::fclose(fileOf(handle));
    }
}

int32_t readFileStream(void* /*context*/, void* handle, void* buffer, int32_t size) {
    if (handle == nullptr || buffer == nullptr || size <= 0) {
        return 0;
    }
    return static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(size), fileOf(handle)));
}

bool seekFileStream(void* /*context*/, void* handle, int32_t offset, int32_t mode) {
    if (handle == nullptr) {
        return false;
    }
    int origin = 0;
    switch (mode) {
        case seekSet:
            origin = SEEK_SET;
            break;
        case seekCurrent:
            origin = SEEK_CUR;
            break;
        case seekEnd:
            origin = SEEK_END;
            break;
        default:
            return false;
    }
    // A seek before the start fails and leaves the position where it was.
    return std::fseek(fileOf(handle), offset, origin) == 0;
}

int32_t tellFileStream(void* /*context*/, void* handle) {
    if (handle == nullptr) {
        return -1;
    }
    const long position = std::ftell(fileOf(handle));
    if (position < 0 || position > std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return static_cast<int32_t>(position);
}

StreamCallbacks fileStreamCallbacks() {
    return {openFileStream, closeFileStream, readFileStream,
            seekFileStream, tellFileStream,  nullptr};
}

}  // namespace xmplayer
