#include "tools/sndfile_calls.h"

#include "platform/shared_library.h"

namespace {

constexpr const char* libraryName = "libsndfile.so.1";

struct LoadedCalls {
    SndfileCalls calls{};
    std::string error;  // empty when every call was found
};

template <typename Call>
bool bind(const SharedLibrary& library, const char* name, Call& call, std::string& error) {
    call = reinterpret_cast<Call>(findSharedSymbol(library, name));
    if (call == nullptr && error.empty()) {
        error = std::string(libraryName) + " has no " + name;
    }
    return call != nullptr;
}

LoadedCalls load() {
    LoadedCalls loaded;
    SharedLibrary library;
    std::string reason;
    if (!openSharedLibrary(libraryName, library, reason)) {
        loaded.error = "cannot load libsndfile, which writes audio files (" + reason +
                       "; Debian's package libsndfile1 holds it)";
        return loaded;
    }
    SndfileCalls& calls = loaded.calls;
    bool found = bind(library, "sf_command", calls.command, loaded.error);
    found = bind(library, "sf_open_virtual", calls.openVirtual, loaded.error) && found;
    found = bind(library, "sf_strerror", calls.describeError, loaded.error) && found;
    found = bind(library, "sf_writef_float", calls.writeFloatFrames, loaded.error) && found;
    found = bind(library, "sf_writef_short", calls.writeShortFrames, loaded.error) && found;
    found = bind(library, "sf_close", calls.close, loaded.error) && found;
    if (!found) {
        closeSharedLibrary(library);
    }
    return loaded;
}

}  // namespace

const SndfileCalls* sndfileCalls(std::string& error) {
    static const LoadedCalls loaded = load();
    if (!loaded.error.empty()) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.calls;
}
