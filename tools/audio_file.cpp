#include "tools/audio_file.h"

#include "tools/sndfile_calls.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr int32_t channels = 2;
constexpr std::array<int32_t, 5> opusRates{8000, 12000, 16000, 24000, 48000};

struct FormatTraits {
    AudioFormat format;
    const char* extension;
    const char* name;
};

constexpr std::array<FormatTraits, 5> formatTraits{{
    {AudioFormat::Wav, ".wav", "WAV"},
    {AudioFormat::Flac, ".flac", "FLAC"},
    {AudioFormat::Vorbis, ".ogg", "Ogg Vorbis"},
    {AudioFormat::Opus, ".opus", "Opus"},
    {AudioFormat::Raw, ".raw", "raw PCM"},
}};

const FormatTraits& traitsOf(AudioFormat format) {
    return *std::find_if(formatTraits.begin(), formatTraits.end(),
                         [format](const FormatTraits& traits) { return traits.format == format; });
}

int16_t toPcm16(float value) {
    // The float frames are the mix divided by 32768; the default rounding
    // mode rounds half to even, as the player's own conversion does.
    const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
    return static_cast<int16_t>(std::lrintf(scaled));
}

template <typename Value>
void appendLittleEndian(std::vector<unsigned char>& bytes, Value value) {
    auto raw = std::bit_cast<std::array<unsigned char, sizeof(Value)>>(value);
    if constexpr (std::endian::native == std::endian::big) {
        std::reverse(raw.begin(), raw.end());
    }
    bytes.insert(bytes.end(), raw.begin(), raw.end());
}

int sndfileFormat(const AudioEncoding& encoding) {
    switch (encoding.format) {
        case AudioFormat::Wav:
            return SF_FORMAT_WAV | (encoding.floatValues ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
        case AudioFormat::Flac:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        case AudioFormat::Vorbis:
            return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case AudioFormat::Opus:
            return SF_FORMAT_OGG | SF_FORMAT_OPUS;
        case AudioFormat::Raw:
            break;
    }
    return 0;
}

// Whether libsndfile lists the container and the encoding among those it
// writes: one built without the Xiph codecs (as for Windows) has no FLAC,
// Ogg, Vorbis or Opus.
bool libraryWrites(const SndfileCalls& sndfile, int format) {
    const auto listed = [&sndfile](int countCommand, int formatCommand, int wanted) {
        int count = 0;
        sndfile.command(nullptr, countCommand, &count, sizeof count);
        for (int i = 0; i < count; ++i) {
            SF_FORMAT_INFO info{};
            info.format = i;
            if (sndfile.command(nullptr, formatCommand, &info, sizeof info) == 0 &&
                info.format == wanted) {
                return true;
            }
        }
        return false;
    };
    return listed(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR, format & SF_FORMAT_TYPEMASK) &&
           listed(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE, format & SF_FORMAT_SUBMASK);
}

// libsndfile writes through these over a standard C file, so that a failed
// write keeps the system's reason.
struct FileIo {
    std::FILE* file;
    int error;  // errno of the first failed call
};

sf_count_t fileLength(void* data) {
    auto* io = static_cast<FileIo*>(data);
    const long at = std::ftell(io->file);
    std::fseek(io->file, 0, SEEK_END);
    const long end = std::ftell(io->file);
    std::fseek(io->file, at, SEEK_SET);
    return end;
}

sf_count_t fileSeek(sf_count_t offset, int whence, void* data) {
    auto* io = static_cast<FileIo*>(data);
    if (std::fseek(io->file, static_cast<long>(offset), whence) != 0) {
        io->error = io->error != 0 ? io->error : errno;
        return -1;
    }
    return std::ftell(io->file);
}

sf_count_t fileRead(void* buffer, sf_count_t count, void* data) {
    auto* io = static_cast<FileIo*>(data);
    return static_cast<sf_count_t>(
        std::fread(buffer, 1, static_cast<std::size_t>(count), io->file));
}

sf_count_t fileWrite(const void* buffer, sf_count_t count, void* data) {
    auto* io = static_cast<FileIo*>(data);
    const std::size_t written = std::fwrite(buffer, 1, static_cast<std::size_t>(count), io->file);
    if (written != static_cast<std::size_t>(count) && io->error == 0) {
        io->error = errno != 0 ? errno : EIO;
    }
    return static_cast<sf_count_t>(written);
}

sf_count_t fileTell(void* data) {
    return std::ftell(static_cast<FileIo*>(data)->file);
}

}  // namespace

struct AudioFile::Sink {
    const SndfileCalls* sndfile = nullptr;  // none for raw output
    AudioEncoding encoding{};
    std::string path;
    FileIo io{nullptr, 0};
    SF_VIRTUAL_IO callbacks{fileLength, fileSeek, fileRead, fileWrite, fileTell};
    SNDFILE* sound = nullptr;
    std::vector<int16_t> values;
    std::vector<unsigned char> bytes;

    bool raw() const { return encoding.format == AudioFormat::Raw; }
    // WAV, FLAC and raw output hold 16-bit integers unless floats are asked
    // for; the lossy encoders take floats.
    bool integerValues() const {
        return !encoding.floatValues && encoding.format != AudioFormat::Vorbis &&
               encoding.format != AudioFormat::Opus;
    }

    // The system's reason where there is one, else libsndfile's.
    std::string reason() const {
        if (io.error != 0) {
            return std::strerror(io.error);
        }
        return sound != nullptr ? sndfile->describeError(sound) : "unknown error";
    }
};

std::optional<AudioFormat> formatOfName(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const FormatTraits& traits : formatTraits) {
        if (traits.format != AudioFormat::Raw && extension == traits.extension) {
            return traits.format;
        }
    }
    return std::nullopt;
}

const char* extensionOf(AudioFormat format) {
    return traitsOf(format).extension;
}

const char* nameOf(AudioFormat format) {
    return traitsOf(format).name;
}

bool formatTakesRate(AudioFormat format, int32_t rate) {
    return format != AudioFormat::Opus ||
           std::find(opusRates.begin(), opusRates.end(), rate) != opusRates.end();
}

int32_t defaultRateOf(AudioFormat format) {
    return format == AudioFormat::Opus ? 48000 : 44100;
}

AudioFile::~AudioFile() {
    discard();
}

bool AudioFile::open(const std::string& path, const AudioEncoding& encoding, std::string& error) {
    discard();
    auto sink = std::make_unique<Sink>();
    sink->encoding = encoding;
    sink->path = path;
    if (sink->raw()) {
        sink->io.file = stdout;
        sink_ = sink.release();
        return true;
    }
    sink->sndfile = sndfileCalls(error);
    if (sink->sndfile == nullptr) {
        return false;
    }
    const SndfileCalls& sndfile = *sink->sndfile;
    if (!libraryWrites(sndfile, sndfileFormat(encoding))) {
        error = std::string("this build does not write ") + nameOf(encoding.format) +
                " (its libsndfile has no such encoder)";
        return false;
    }
    sink->io.file = std::fopen(path.c_str(), "w+b");
    if (sink->io.file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    SF_INFO info{};
    info.samplerate = encoding.rate;
    info.channels = channels;
    info.format = sndfileFormat(encoding);
    sink->sound = sndfile.openVirtual(&sink->callbacks, SFM_WRITE, &info, &sink->io);
    if (sink->sound == nullptr) {
        error =
            sink->io.error != 0 ? std::strerror(sink->io.error) : sndfile.describeError(nullptr);
        std::fclose(sink->io.file);
        std::remove(path.c_str());
        return false;
    }
    sink_ = sink.release();
    return true;
}

bool AudioFile::takesIntegers() const {
    return sink_->integerValues();
}

namespace {

sf_count_t writeFrames(const SndfileCalls& sndfile, SNDFILE* sound, const float* frames,
                       sf_count_t frameCount) {
    return sndfile.writeFloatFrames(sound, frames, frameCount);
}

sf_count_t writeFrames(const SndfileCalls& sndfile, SNDFILE* sound, const int16_t* frames,
                       sf_count_t frameCount) {
    return sndfile.writeShortFrames(sound, frames, frameCount);
}

}  // namespace

// Raw output as little-endian values, any other through libsndfile.
template <typename Value>
bool AudioFile::store(const Value* frames, int32_t frameCount, std::string& error) {
    Sink& sink = *sink_;
    bool written = true;
    if (sink.raw()) {
        const std::size_t valueCount = channels * static_cast<std::size_t>(frameCount);
        const void* data = frames;
        if constexpr (std::endian::native == std::endian::big) {
            sink.bytes.clear();
            std::for_each(frames, frames + valueCount,
                          [&](Value value) { appendLittleEndian(sink.bytes, value); });
            data = sink.bytes.data();
        }
        const auto size = static_cast<sf_count_t>(valueCount * sizeof(Value));
        written = fileWrite(data, size, &sink.io) == size;
    } else {
        written = writeFrames(*sink.sndfile, sink.sound, frames, frameCount) == frameCount;
    }
    if (!written) {
        error = sink.reason();
    }
    return written;
}

bool AudioFile::write(const float* frames, int32_t frameCount, std::string& error) {
    Sink& sink = *sink_;
    if (sink.integerValues()) {
        const std::size_t valueCount = channels * static_cast<std::size_t>(frameCount);
        sink.values.resize(valueCount);
        std::transform(frames, frames + valueCount, sink.values.begin(), toPcm16);
        return store(sink.values.data(), frameCount, error);
    }
    return store(frames, frameCount, error);
}

bool AudioFile::write(const int16_t* frames, int32_t frameCount, std::string& error) {
    return store(frames, frameCount, error);
}

bool AudioFile::close(std::string& error) {
    if (sink_ == nullptr) {
        return true;
    }
    const std::unique_ptr<Sink> sink(sink_);
    sink_ = nullptr;
    bool finished = true;
    if (sink->sound != nullptr) {
        // Closing writes the header's lengths and the encoder's last pages.
        finished = sink->sndfile->close(sink->sound) == 0 && sink->io.error == 0;
        if (!finished) {
            error = sink->io.error != 0 ? std::strerror(sink->io.error) : "the encoder failed";
        }
        sink->sound = nullptr;
    }
    if (finished && std::fflush(sink->io.file) != 0) {
        error = std::strerror(errno);
        finished = false;
    }
    if (!sink->raw()) {
        if (std::fclose(sink->io.file) != 0 && finished) {
            error = std::strerror(errno);
            finished = false;
        }
        if (!finished) {
            std::remove(sink->path.c_str());
        }
    }
    return finished;
}

void AudioFile::discard() {
    if (sink_ == nullptr) {
        return;
    }
    const std::unique_ptr<Sink> sink(sink_);
    sink_ = nullptr;
    if (sink->sound != nullptr) {
        sink->sndfile->close(sink->sound);
    }
    if (!sink->raw()) {
        std::fclose(sink->io.file);
        std::remove(sink->path.c_str());
    }
}
