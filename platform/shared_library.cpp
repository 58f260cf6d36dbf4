#include "platform/shared_library.h"

#include <dlfcn.h>

bool openSharedLibrary(const char* name, SharedLibrary& library, std::string& error) {
    library = SharedLibrary{};
    // Bound at once, so that a library lacking a call fails here and not in
    // the middle of the work; kept local so that its names never stand in
    // for the program's own.
    library.handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library.handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : std::string("cannot open ") + name;
        return false;
    }
    return true;
}

void* findSharedSymbol(const SharedLibrary& library, const char* name) {
    return library.handle != nullptr ? dlsym(library.handle, name) : nullptr;
}

void closeSharedLibrary(SharedLibrary& library) {
    if (library.handle != nullptr) {
        dlclose(library.handle);
    }
    library = SharedLibrary{};
}
