#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool mapFile(const char* fileName, MappedFile& file) {
    file = MappedFile{};
    if (fileName == nullptr) {
        return false;
    }
    // Non-blocking so that a named pipe cannot stall the open; it is then
    // refused as not a regular file.
    const int descriptor = open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        return false;
    }
    struct stat status {};
    void* view = MAP_FAILED;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
        view = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE,
                    descriptor, 0);
    }
    // The view keeps the file's pages; the descriptor is no longer needed.
    close(descriptor);
    if (view == MAP_FAILED) {
        return false;
    }
    file.data = static_cast<const uint8_t*>(view);
    file.size = static_cast<size_t>(status.st_size);
    return true;
}

void unmapFile(MappedFile& file) {
    if (file.data != nullptr) {
        munmap(const_cast<uint8_t*>(file.data), file.size);
    }
    file = MappedFile{};
}
