#include <windows.h>

#include "platform/file_mapping.h"

bool mapFile(const char* fileName, MappedFile& file) {
    file = MappedFile{};
    if (fileName == nullptr) {
        return false;
    }
    const HANDLE handle = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Pipes, consoles and devices have no size to map; a folder does not
    // open without FILE_FLAG_BACKUP_SEMANTICS.
    LARGE_INTEGER size{};
    const bool mappable = GetFileType(handle) == FILE_TYPE_DISK &&
                          GetFileSizeEx(handle, &size) != 0 && size.QuadPart > 0 &&
                          static_cast<unsigned long long>(size.QuadPart) <= SIZE_MAX;
    HANDLE mapping = nullptr;
    if (mappable) {
        mapping = CreateFileMappingA(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    }
    const void* view = nullptr;
    if (mapping != nullptr) {
        view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        // The view keeps the mapping and the file open until it is unmapped.
        CloseHandle(mapping);
    }
    CloseHandle(handle);
    if (view == nullptr) {
        return false;
    }
    file.data = static_cast<const uint8_t*>(view);
    file.size = static_cast<size_t>(size.QuadPart);
    return true;
}

void unmapFile(MappedFile& file) {
    if (file.data != nullptr) {
        UnmapViewOfFile(file.data);
    }
    file = MappedFile{};
}
