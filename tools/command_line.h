// The command-line conventions the player's tools share, over CLI11: --help
// and --version on standard output, and a refusal of bad arguments as
// "TOOL: what is wrong" with a pointer to --help and exit status 2.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "player/sequencer/rule_set.h"

// Sets up a tool's app: its description, wrapped, and the text after the
// options; -h/--help and --version (the project's version).
void setUpApp(CLI::App& app, const std::string& description, const std::string& footer);

// An option's help wrapped to the column beside the option names.
std::string optionHelp(const std::string& text);

// Parses the arguments: nothing when the tool goes on, else the status to
// exit with once help, the version or the refusal has been printed.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv);

// --rules ft2|own: the rules the song plays by, FastTracker 2's by default.
void addRulesOption(CLI::App& app, xmplayer::RuleSet& rules);

// Checks of the numbers the tools take; each refusal names the value.
// A whole number of frames per second that the player accepts.
CLI::Validator rateCheck();
// A finite number of seconds above 0 and at most `maximum`.
CLI::Validator secondsCheck(double maximum);
// A whole number from 1 to `maximum`.
CLI::Validator countCheck(int32_t maximum);

// A time as m:ss.mmm, or h:mm:ss.mmm from an hour on.
std::string clockTime(int64_t milliseconds);
