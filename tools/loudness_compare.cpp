// loudness_compare: compares the loudness over time of two 16-bit PCM WAV
// files, such as one song rendered by this player and by another player. It
// cuts both into windows of 20 ms, takes each window's RMS level (both
// channels together) and prints how well the two level curves correlate,
// linearly and in decibels, also at the best small time shift.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double defaultWindowMs = 20.0;
constexpr int maxShiftWindows = 10;  // a start offset of up to 200 ms
constexpr double silenceDb = -90.0;  // floor of the decibel curve

struct PcmFile {
    int32_t rate = 0;
    int32_t channels = 0;
    std::vector<int16_t> values;  // interleaved
};

uint32_t readLittle32(const unsigned char* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

uint16_t readLittle16(const unsigned char* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Reads a RIFF WAVE file of 16-bit integer PCM; on failure sets `reason`.
std::optional<PcmFile> readWav(const std::string& path, std::string& reason) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        reason = "cannot be opened";
        return std::nullopt;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
        std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
        reason = "is not a RIFF WAVE file";
        return std::nullopt;
    }
    PcmFile pcm;
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4);
        const uint64_t size = readLittle32(&bytes[at + 4]);
        const size_t body = at + 8;
        const size_t available = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - body));
        if (id == "fmt " && available >= 16) {
            const uint16_t format = readLittle16(&bytes[body]);
            pcm.channels = readLittle16(&bytes[body + 2]);
            pcm.rate = static_cast<int32_t>(readLittle32(&bytes[body + 4]));
            const uint16_t bits = readLittle16(&bytes[body + 14]);
            if ((format != 1 && format != 0xFFFE) || bits != 16 || pcm.channels < 1) {
                reason = "is not 16-bit integer PCM";
                return std::nullopt;
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) {
                reason = "has its data before its format";
                return std::nullopt;
            }
            pcm.values.resize(available / 2);
            for (size_t i = 0; i < pcm.values.size(); ++i) {
                pcm.values[i] = static_cast<int16_t>(readLittle16(&bytes[body + 2 * i]));
            }
            return pcm;
        }
        at = body + static_cast<size_t>(size) + (size & 1);
    }
    reason = haveFormat ? "has no data chunk" : "has no format chunk";
    return std::nullopt;
}

// The RMS level of every whole window, over all channels.
std::vector<double> loudnessCurve(const PcmFile& pcm, int32_t windowFrames) {
    std::vector<double> levels;
    const size_t windowValues = static_cast<size_t>(windowFrames) * pcm.channels;
    for (size_t start = 0; start + windowValues <= pcm.values.size(); start += windowValues) {
        double sum = 0.0;
        for (size_t i = start; i < start + windowValues; ++i) {
            sum += static_cast<double>(pcm.values[i]) * pcm.values[i];
        }
        levels.push_back(std::sqrt(sum / static_cast<double>(windowValues)));
    }
    return levels;
}

std::vector<double> inDecibels(const std::vector<double>& levels) {
    std::vector<double> decibels;
    decibels.reserve(levels.size());
    for (double level : levels) {
        decibels.push_back(level > 0.0 ? std::max(20.0 * std::log10(level / 32768.0), silenceDb)
                                       : silenceDb);
    }
    return decibels;
}

// Pearson correlation of a[i] and b[i + shift] over the windows both have;
// none when either curve is constant there.
std::optional<double> correlation(const std::vector<double>& a, const std::vector<double>& b,
                                  int shift) {
    const int64_t first = std::max<int64_t>(0, -shift);
    const int64_t last =
        std::min<int64_t>(static_cast<int64_t>(a.size()), static_cast<int64_t>(b.size()) - shift);
    if (last - first < 2) {
        return std::nullopt;
    }
    double meanA = 0.0;
    double meanB = 0.0;
    for (int64_t i = first; i < last; ++i) {
        meanA += a[i];
        meanB += b[i + shift];
    }
    const auto count = static_cast<double>(last - first);
    meanA /= count;
    meanB /= count;
    double covariance = 0.0;
    double varianceA = 0.0;
    double varianceB = 0.0;
    for (int64_t i = first; i < last; ++i) {
        const double da = a[i] - meanA;
        const double db = b[i + shift] - meanB;
        covariance += da * db;
        varianceA += da * da;
        varianceB += db * db;
    }
    if (varianceA <= 0.0 || varianceB <= 0.0) {
        return std::nullopt;
    }
    return covariance / std::sqrt(varianceA * varianceB);
}

std::string formatCorrelation(std::optional<double> value) {
    if (!value) {
        return "n/a (a constant level)";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", *value);
    return text;
}

void printUsage(std::FILE* to) {
    std::fputs(
        "Usage: loudness_compare A.wav B.wav [--window-ms MS]\n"
        "\n"
        "Compares the loudness curves of two 16-bit PCM WAV files of the same\n"
        "rate: the RMS level of every window (default 20 ms), correlated over\n"
        "the windows both files have, as levels and in decibels, at no shift\n"
        "and at the best shift of up to 10 windows either way.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    double windowMs = defaultWindowMs;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            printUsage(stdout);
            return 0;
        }
        if (argument == "--window-ms") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "loudness_compare: --window-ms needs a value\n");
                return 2;
            }
            char* end = nullptr;
            windowMs = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(windowMs >= 1.0 && windowMs <= 10000.0)) {
                std::fprintf(stderr, "loudness_compare: the window must be 1 to 10000 ms\n");
                return 2;
            }
        } else {
            paths.push_back(argument);
        }
    }
    if (paths.size() != 2) {
        printUsage(stderr);
        return 2;
    }
    PcmFile files[2];
    for (int f = 0; f < 2; ++f) {
        std::string reason;
        std::optional<PcmFile> pcm = readWav(paths[f], reason);
        if (!pcm) {
            std::fprintf(stderr, "loudness_compare: %s %s\n", paths[f].c_str(), reason.c_str());
            return 1;
        }
        files[f] = std::move(*pcm);
    }
    if (files[0].rate != files[1].rate || files[0].rate <= 0) {
        std::fprintf(stderr, "loudness_compare: the files' rates differ (%d and %d Hz)\n",
                     files[0].rate, files[1].rate);
        return 1;
    }
    const auto windowFrames = static_cast<int32_t>(files[0].rate * windowMs / 1000.0);
    if (windowFrames < 1) {
        std::fprintf(stderr, "loudness_compare: the window is shorter than one frame\n");
        return 1;
    }
    const std::vector<double> levels[2] = {loudnessCurve(files[0], windowFrames),
                                           loudnessCurve(files[1], windowFrames)};
    const std::vector<double> decibels[2] = {inDecibels(levels[0]), inDecibels(levels[1])};

    int bestShift = 0;
    std::optional<double> best = correlation(levels[0], levels[1], 0);
    for (int shift = -maxShiftWindows; shift <= maxShiftWindows; ++shift) {
        const std::optional<double> value = correlation(levels[0], levels[1], shift);
        if (value && (!best || *value > *best)) {
            best = value;
            bestShift = shift;
        }
    }
    const size_t compared = std::min(levels[0].size(), levels[1].size());
    std::printf("windows: %zu of %.0f ms (%zu and %zu)\n", compared, windowMs, levels[0].size(),
                levels[1].size());
    std::printf("correlation: %s\n",
                formatCorrelation(correlation(levels[0], levels[1], 0)).c_str());
    std::printf("correlation in dB: %s\n",
                formatCorrelation(correlation(decibels[0], decibels[1], 0)).c_str());
    std::printf("best shift: %+d windows, correlation %s\n", bestShift,
                formatCorrelation(best).c_str());
    return 0;
}
