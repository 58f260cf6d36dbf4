// A shared library opened while the program runs, so that a program pays for
// loading a library (and everything it depends on) only on the paths that
// use it.
#pragma once

#include <string>

struct SharedLibrary {
    void* handle = nullptr;
};

// Opens the library the system's loader finds under `name` (a file name such
// as "libsndfile.so.1", or a path). False, with the loader's reason in
// `error` and nothing held, when it cannot be opened.
bool openSharedLibrary(const char* name, SharedLibrary& library, std::string& error);

// The address of a symbol the library exports; null where it has none.
void* findSharedSymbol(const SharedLibrary& library, const char* name);

// Releases the library; the record is left empty. Safe on an empty record.
void closeSharedLibrary(SharedLibrary& library);
