#include "tools/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "player/player.h"

std::optional<int32_t> parseRate(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < xmplayer::minOutputRate ||
        value > xmplayer::maxOutputRate) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::optional<double> parseSeconds(const std::string& text, double maximum) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0.0 || value > maximum) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> parseCount(const std::string& text, int32_t maximum) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > maximum) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}
