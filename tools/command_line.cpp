#include "tools/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "player/player.h"
#include "tools/tool_version.h"

namespace {

constexpr std::size_t lineWidth = 79;
constexpr std::size_t nameColumn = 24;

// The words of `text` in lines of at most `width` characters.
std::string wrapped(const std::string& text, std::size_t width) {
    std::string out;
    std::size_t lineStart = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t wordEnd = std::min(text.find(' ', at), text.size());
        // out ends in the space after the line's last word.
        if (out.size() > lineStart && out.size() - lineStart + (wordEnd - at) > width) {
            out.back() = '\n';
            lineStart = out.size();
        }
        out.append(text, at, wordEnd - at);
        if (wordEnd < text.size()) {
            out += ' ';
        }
        at = wordEnd + 1;
    }
    return out;
}

std::optional<long> wholeNumber(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", std::floor(value));
    return text;
}

}  // namespace

void setUpApp(CLI::App& app, const std::string& description, const std::string& footer) {
    app.description(wrapped(description, lineWidth) + "\n");
    app.footer(footer);
    app.set_help_flag("-h,--help", "show this help and exit");
    app.set_version_flag("--version", app.get_name() + " " + projectVersion,
                         "show the version and exit");
    app.get_formatter()->column_width(nameColumn);
    // Options are written the same way everywhere: built for Windows, CLI11
    // would also take /name for --name and so read a path such as /music/a.xm
    // as an unknown option.
    app.allow_windows_style_options(false);
}

std::string optionHelp(const std::string& text) {
    return wrapped(text, lineWidth - nameColumn);
}

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                     app.get_name().c_str(), error.what(), app.get_name().c_str());
        return 2;
    }
    return std::nullopt;
}

void addRulesOption(CLI::App& app, xmplayer::RuleSet& rules) {
    app.add_option_function<std::string>(
           "--rules",
           [&rules](const std::string& name) {
               rules = name == "own" ? xmplayer::RuleSet::Own : xmplayer::RuleSet::Ft2;
           },
           optionHelp("the rules the song plays by: ft2 (the default), as FastTracker 2 plays XM "
                      "files and their authors heard them, or own, the player's own older rules "
                      "that the demo keeps (mirrored stereo with a linear pan law, arpeggio by "
                      "the tick, and its own pattern loops, note delays, key-offs and tremor)"))
        ->type_name("RULES")
        ->check(CLI::IsMember({"ft2", "own"}).description(""));
}

CLI::Validator rateCheck() {
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            const auto value = wholeNumber(text);
            if (value && *value >= xmplayer::minOutputRate && *value <= xmplayer::maxOutputRate) {
                return {};
            }
            return text + " is not a rate from " + std::to_string(xmplayer::minOutputRate) +
                   " to " + std::to_string(xmplayer::maxOutputRate);
        },
        "");
}

CLI::Validator secondsCheck(double maximum) {
    return CLI::Validator(
        [maximum](const std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (!text.empty() && errno == 0 && *end == '\0' && std::isfinite(value) &&
                value > 0.0 && value <= maximum) {
                return {};
            }
            return text + " is not a length above 0 and up to " + numberText(maximum) + " seconds";
        },
        "");
}

CLI::Validator countCheck(int32_t maximum) {
    return CLI::Validator(
        [maximum](const std::string& text) -> std::string {
            const auto value = wholeNumber(text);
            if (value && *value >= 1 && *value <= maximum) {
                return {};
            }
            return text + " is not a count from 1 to " + std::to_string(maximum);
        },
        "");
}

std::string clockTime(int64_t milliseconds) {
    const auto total = static_cast<long long>(std::max<int64_t>(milliseconds, 0));
    const long long hours = total / 3600000;
    const long long minutes = total / 60000 % 60;
    const long long seconds = total / 1000 % 60;
    const long long thousandths = total % 1000;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", hours, minutes, seconds,
                      thousandths);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", minutes, seconds, thousandths);
    }
    return text;
}
