#include "platform/wrapping_count.h"

uint64_t extendCount(WrappingCount& count, uint32_t now) {
    if (now < count.last) {
        ++count.wraps;
    }
    count.last = now;
    return (count.wraps << 32) | now;
}
