#include "platform/terminal_keys.h"

namespace {

constexpr char escape = '\x1b';

KeyName arrowOf(char final) {
    switch (final) {
        case 'A':
            return KeyName::Up;
        case 'B':
            return KeyName::Down;
        case 'C':
            return KeyName::Right;
        case 'D':
            return KeyName::Left;
        default:
            return KeyName::Other;
    }
}

bool isFinalByte(char c) {
    return c >= 0x40 && c <= 0x7e;
}

}  // namespace

std::vector<Key> decodeKeys(const std::string& bytes) {
    std::vector<Key> keys;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != escape) {
            keys.push_back({KeyName::Character, c});
            continue;
        }
        const bool sequence = i + 1 < bytes.size() && (bytes[i + 1] == '[' || bytes[i + 1] == 'O');
        if (!sequence) {
            keys.push_back({KeyName::Escape, c});
            continue;
        }
        // CSI: parameters and intermediates up to a final byte; SS3: one byte.
        std::size_t end = i + 2;
        if (bytes[i + 1] == '[') {
            while (end < bytes.size() && !isFinalByte(bytes[end])) {
                ++end;
            }
        }
        if (end >= bytes.size()) {
            keys.push_back({KeyName::Other, c});
            break;
        }
        keys.push_back({arrowOf(bytes[end]), c});
        i = end;
    }
    return keys;
}
