// Keys pressed on a terminal, from the bytes it sends: characters as they
// are, arrows as the escape sequences that terminals send for them, and a
// lone Escape.
#pragma once

#include <string>
#include <vector>

enum class KeyName { Character, Up, Down, Right, Left, Escape, Other };

struct Key {
    KeyName name;
    char character;  // for KeyName::Character
};

// Decodes what one read of the terminal gave. An Escape byte that does not
// start a sequence (the last byte, or one before another Escape) is the
// Escape key itself.
std::vector<Key> decodeKeys(const std::string& bytes);
