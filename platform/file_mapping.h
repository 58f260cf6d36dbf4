// A whole file made readable as one block of memory, read-only.
#pragma once

#include <cstddef>
#include <cstdint>

struct MappedFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Maps all of a regular file for reading. False, with nothing held, when the
// file cannot be opened, is not a regular file, is empty or cannot be mapped.
bool mapFile(const char* fileName, MappedFile& file);

// Releases the view; the record is left empty. Safe on an empty record.
void unmapFile(MappedFile& file);
