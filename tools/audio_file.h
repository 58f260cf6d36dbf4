// Writing rendered frames to an audio file whose format its name gives, or
// as raw little-endian PCM to standard output. Files are written through
// libsndfile, loaded when the first one is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class AudioFormat { Wav, Flac, Vorbis, Opus, Raw };

// The format that a file name's extension asks for (.wav, .flac, .ogg,
// .opus, any case); nothing for another or no extension.
std::optional<AudioFormat> formatOfName(const std::string& path);
// The extension files of a format get, with its dot.
const char* extensionOf(AudioFormat format);
// The format's name for messages: "WAV", "FLAC", "Ogg Vorbis", "Opus", "raw PCM".
const char* nameOf(AudioFormat format);
// Whether a format stores frames at `rate`; Opus takes only five rates.
bool formatTakesRate(AudioFormat format, int32_t rate);
// The rate a format is rendered at unless one is asked for.
int32_t defaultRateOf(AudioFormat format);

struct AudioEncoding {
    AudioFormat format;
    int32_t rate;
    bool floatValues;  // 32-bit floats in WAV or raw output; else 16-bit integers
};

// An audio file being written: stereo frames go in as floats at full scale
// 1.0 and are stored as the encoding says. Integer encodings take each value
// as the player converts its own 16-bit frames (rounded half to even,
// clamped), so that they equal the player's 16-bit frames bit for bit.
class AudioFile {
  public:
    AudioFile() = default;
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // Creates `path` ("-" for raw PCM to standard output); false with the
    // reason in `error`.
    bool open(const std::string& path, const AudioEncoding& encoding, std::string& error);
    // Writes frameCount interleaved stereo frames; false with the reason.
    bool write(const float* frames, int32_t frameCount, std::string& error);
    // The same from the player's own 16-bit frames, for an encoding that
    // stores integers.
    bool write(const int16_t* frames, int32_t frameCount, std::string& error);
    // Whether the encoding stores 16-bit integers, which the player's 16-bit
    // frames then give directly.
    bool takesIntegers() const;
    // Finishes the file; false with the reason, and the file is removed.
    bool close(std::string& error);
    // Closes and removes a file that will not be finished.
    void discard();

  private:
    template <typename Value>
    bool store(const Value* frames, int32_t frameCount, std::string& error);

    struct Sink;
    Sink* sink_ = nullptr;
};
