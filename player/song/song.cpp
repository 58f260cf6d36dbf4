#include "player/song/song.h"

#include <cstdlib>
#include <limits>

namespace xmplayer {

const Sample emptySample{};

namespace {

// One value before data[0] and the eight spare values after the end.
constexpr uint64_t leadingValues = 1;
constexpr uint64_t trailingValues = 8;

}  // namespace

int16_t* allocateSampleData(uint32_t length) {
    const uint64_t count = uint64_t{length} + leadingValues + trailingValues;
    if (count > std::numeric_limits<size_t>::max() / sizeof(int16_t)) {
        return nullptr;
    }
    auto* block = static_cast<int16_t*>(std::calloc(static_cast<size_t>(count), sizeof(int16_t)));
    return block == nullptr ? nullptr : block + leadingValues;
}

void releaseSampleData(int16_t* data) {
    if (data != nullptr) {
        std::free(data - leadingValues);
    }
}

}  // namespace xmplayer
