// Parsing the numbers that the command-line tools take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A whole number of frames per second that the output driver accepts.
std::optional<int32_t> parseRate(const std::string& text);

// A finite number of seconds above 0 and at most `maximum`.
std::optional<double> parseSeconds(const std::string& text, double maximum);

// A whole number from 1 to `maximum`.
std::optional<int32_t> parseCount(const std::string& text, int32_t maximum);
