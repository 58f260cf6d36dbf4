#include "player/song/file_stream.h"

#include <cstdio>
#include <limits>

#include "player/song/stream.h"

namespace xmplayer {

namespace {

std::FILE* fileOf(void* handle) {
    return static_cast<std::FILE*>(handle);
}

}  // namespace

void* openFileStream(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    // Positions are int32 in the stream contract; a larger file could not be
    // addressed, and a directory cannot be read at all.
    const bool measured = std::fseek(file, 0, SEEK_END) == 0;
    const long size = measured ? std::ftell(file) : -1;
    if (size < 0 || size > std::numeric_limits<int32_t>::max() ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void closeFileStream(void* handle) {
    if (handle != nullptr) {
        std::fclose(fileOf(handle));
    }
}

int32_t readFileStream(void* buffer, int32_t size, void* handle) {
    if (handle == nullptr || buffer == nullptr || size <= 0) {
        return 0;
    }
    return static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(size), fileOf(handle)));
}

void seekFileStream(void* handle, int32_t offset, int8_t mode) {
    if (handle == nullptr) {
        return;
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
            return;
    }
    // A seek before the start fails and leaves the position where it was.
    std::fseek(fileOf(handle), offset, origin);
}

int32_t tellFileStream(void* handle) {
    if (handle == nullptr) {
        return 0;
    }
    const long position = std::ftell(fileOf(handle));
    if (position < 0) {
        return 0;
    }
    return position > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                          : static_cast<int32_t>(position);
}

StreamCallbacks fileStreamCallbacks() {
    return {openFileStream, closeFileStream, readFileStream, seekFileStream, tellFileStream};
}

}  // namespace xmplayer
