#include "generators/xm_writer.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace xm {
namespace {

constexpr std::string_view kIdentification = "Extended Module: ";
constexpr uint32_t kSongHeaderSize = 276;
constexpr uint32_t kPatternHeaderSize = 9;
constexpr uint32_t kShortPatternHeaderSize = 8;  // version 0x0102
constexpr uint32_t kInstrumentHeaderSize = 263;
constexpr uint32_t kShortInstrumentHeaderSize = 243;  // version 0x0102
constexpr uint8_t kCompressedMark = 0xAD;             // the reserved byte of a compressed sample
constexpr size_t kCompressionTableSize = 16;
constexpr int kMaxTempo = 1000;
constexpr uint32_t kSampleHeaderSize = 40;
constexpr size_t kNameLength = 20;
constexpr size_t kItemNameLength = 22;

[[noreturn]] void fail(const std::string& what) {
    throw std::invalid_argument(what);
}

void put8(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
}
void put16(std::vector<uint8_t>& out, uint32_t v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putText(std::vector<uint8_t>& out, std::string_view text, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        put8(out, i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
    }
}

// 8-bit steps from value to value, the first from 0.
std::vector<uint8_t> eightBitSteps(const Sample& s) {
    std::vector<uint8_t> steps;
    steps.reserve(s.values.size());
    uint8_t previous = 0;
    for (const int16_t v : s.values) {
        const auto value = static_cast<uint8_t>(v);
        steps.push_back(static_cast<uint8_t>(value - previous));
        previous = value;
    }
    return steps;
}

// The different steps, in ascending order.
std::vector<uint8_t> distinctSteps(std::vector<uint8_t> steps) {
    std::sort(steps.begin(), steps.end());
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    return steps;
}

std::vector<uint8_t> encodeCompressed(const Sample& s) {
    const std::vector<uint8_t> steps = eightBitSteps(s);
    std::vector<uint8_t> table = distinctSteps(steps);
    if (table.size() > kCompressionTableSize) {
        fail("a compressed sample steps by more than 16 different amounts");
    }
    table.resize(kCompressionTableSize, 0);
    std::vector<uint8_t> out = table;
    for (size_t i = 0; i < steps.size(); i += 2) {
        uint8_t pair = 0;
        for (size_t k = 0; k < 2 && i + k < steps.size(); ++k) {
            const auto index = std::find(table.begin(), table.end(), steps[i + k]) - table.begin();
            pair = static_cast<uint8_t>(pair | index << (4 * k));
        }
        out.push_back(pair);
    }
    return out;
}

void validateEnvelope(const Envelope& e, const std::string& where) {
    const size_t n = e.points.size();
    if (n > kMaxEnvelopePoints) {
        fail(where + ": more than 12 envelope points");
    }
    if (n == 1) {
        fail(where + ": an envelope needs at least 2 points");
    }
    for (size_t i = 0; i < n; ++i) {
        if (e.points[i].value > 64) {
            fail(where + ": envelope value above 64");
        }
        if (i == 0 ? e.points[i].tick != 0 : e.points[i].tick <= e.points[i - 1].tick) {
            fail(where + ": envelope ticks must start at 0 and rise");
        }
    }
    if (e.sustain && e.sustainPoint >= n) {
        fail(where + ": sustain point beyond the envelope");
    }
    if (e.loop && (e.loopStart > e.loopEnd || e.loopEnd >= n)) {
        fail(where + ": envelope loop outside the envelope");
    }
}

void validateSample(const Sample& s, const std::string& where) {
    if (s.name.size() > kItemNameLength) {
        fail(where + ": name longer than 22 characters");
    }
    if (s.volume > 64) {
        fail(where + ": volume above 64");
    }
    const size_t bytesPerValue = s.depth == Depth::Bits16 ? 2 : 1;
    if (s.values.size() * bytesPerValue > 0x7FFFFFFFu) {
        fail(where + ": sample too long");
    }
    if (s.depth == Depth::Bits8) {
        for (const int16_t v : s.values) {
            if (v < -128 || v > 127) {
                fail(where + ": 8-bit sample value out of range");
            }
        }
    }
    if (s.compressed && s.depth != Depth::Bits8) {
        fail(where + ": only 8-bit samples are stored compressed");
    }
    if (s.compressed && distinctSteps(eightBitSteps(s)).size() > kCompressionTableSize) {
        fail(where + ": a compressed sample steps by more than 16 different amounts");
    }
    if (s.loop != LoopKind::None) {
        if (s.loopLength == 0 || s.loopStart + uint64_t{s.loopLength} > s.values.size()) {
            fail(where + ": loop outside the sample");
        }
    }
}

void validateInstrument(const Instrument& in, const std::string& where) {
    if (in.name.size() > kItemNameLength) {
        fail(where + ": name longer than 22 characters");
    }
    if (in.samples.size() > kMaxSamplesPerInstrument) {
        fail(where + ": more than 256 samples");
    }
    for (const uint8_t slot : in.noteSamples) {
        if (!in.samples.empty() && slot >= in.samples.size()) {
            fail(where + ": note map names a missing sample");
        }
    }
    validateEnvelope(in.volumeEnvelope, where + " volume envelope");
    validateEnvelope(in.panningEnvelope, where + " panning envelope");
    if (in.vibratoType > 3) {
        fail(where + ": unknown auto-vibrato waveform");
    }
    if (in.fadeOut > 0x7FFF) {
        fail(where + ": fade-out above 32767");
    }
    for (size_t j = 0; j < in.samples.size(); ++j) {
        validateSample(in.samples[j], where + " sample " + std::to_string(j));
    }
}

void appendPattern(std::vector<uint8_t>& out, const Pattern& p, uint16_t version) {
    std::vector<uint8_t> packed;
    for (const Cell& cell : p.cells) {
        appendPackedCell(packed, cell);
    }
    if (packed.size() > 0xFFFF) {
        fail("pattern data does not fit its 16-bit size field");
    }
    if (version == kVersion0102) {
        put32(out, kShortPatternHeaderSize);
        put8(out, 0);  // packing type: always 0
        put8(out, static_cast<uint32_t>(p.rows - 1));
    } else {
        put32(out, kPatternHeaderSize);
        put8(out, 0);
        put16(out, static_cast<uint32_t>(p.rows));
    }
    put16(out, static_cast<uint32_t>(packed.size()));
    out.insert(out.end(), packed.begin(), packed.end());
}

void appendEnvelopePoints(std::vector<uint8_t>& out, const Envelope& e) {
    for (size_t i = 0; i < kMaxEnvelopePoints; ++i) {
        const EnvelopePoint p = i < e.points.size() ? e.points[i] : EnvelopePoint{};
        put16(out, p.tick);
        put16(out, p.value);
    }
}

uint8_t envelopeFlags(const Envelope& e) {
    if (e.points.empty()) {
        return 0;
    }
    return static_cast<uint8_t>(1 | (e.sustain ? 2 : 0) | (e.loop ? 4 : 0));
}

// The instrument's header and its sample headers; its sample data follows at
// once from version 0x0104 on, after the patterns before.
void appendInstrumentHeaders(std::vector<uint8_t>& out, const Instrument& in, uint16_t version) {
    const size_t start = out.size();
    const uint32_t headerSize =
        version == kVersion0102 ? kShortInstrumentHeaderSize : kInstrumentHeaderSize;
    put32(out, headerSize);
    putText(out, in.name, kItemNameLength);
    put8(out, 0);  // instrument type
    put16(out, static_cast<uint32_t>(in.samples.size()));
    put32(out, kSampleHeaderSize);
    for (const uint8_t slot : in.noteSamples) {
        put8(out, slot);
    }
    appendEnvelopePoints(out, in.volumeEnvelope);
    appendEnvelopePoints(out, in.panningEnvelope);
    put8(out, static_cast<uint32_t>(in.volumeEnvelope.points.size()));
    put8(out, static_cast<uint32_t>(in.panningEnvelope.points.size()));
    put8(out, in.volumeEnvelope.sustainPoint);
    put8(out, in.volumeEnvelope.loopStart);
    put8(out, in.volumeEnvelope.loopEnd);
    put8(out, in.panningEnvelope.sustainPoint);
    put8(out, in.panningEnvelope.loopStart);
    put8(out, in.panningEnvelope.loopEnd);
    put8(out, envelopeFlags(in.volumeEnvelope));
    put8(out, envelopeFlags(in.panningEnvelope));
    put8(out, in.vibratoType);
    put8(out, in.vibratoSweep);
    put8(out, in.vibratoDepth);
    put8(out, in.vibratoRate);
    put16(out, in.fadeOut);
    out.resize(start + headerSize, 0);  // reserved bytes

    for (const Sample& s : in.samples) {
        const uint32_t width = s.depth == Depth::Bits16 ? 2 : 1;
        const bool looped = s.loop != LoopKind::None;
        put32(out, static_cast<uint32_t>(s.values.size()) * width);
        put32(out, looped ? s.loopStart * width : 0);
        put32(out, looped ? s.loopLength * width : 0);
        put8(out, s.volume);
        put8(out, static_cast<uint8_t>(s.finetune));
        const uint32_t loopBits = s.loop == LoopKind::Forward    ? 1
                                  : s.loop == LoopKind::PingPong ? 2
                                                                 : 0;
        put8(out, loopBits | (s.depth == Depth::Bits16 ? 0x10 : 0));
        put8(out, s.panning);
        put8(out, static_cast<uint8_t>(s.relativeNote));
        put8(out, s.compressed ? kCompressedMark : 0);  // otherwise reserved
        putText(out, s.name, kItemNameLength);
    }
}

void appendSampleData(std::vector<uint8_t>& out, const Instrument& in) {
    for (const Sample& s : in.samples) {
        const std::vector<uint8_t> data = encodeSampleData(s);
        out.insert(out.end(), data.begin(), data.end());
    }
}

}  // namespace

Pattern makePattern(int rows, int channels) {
    Pattern p;
    p.rows = rows;
    p.cells.assign(static_cast<size_t>(rows) * static_cast<size_t>(channels), Cell{});
    return p;
}

Cell& cellAt(Pattern& pattern, int channels, int row, int channel) {
    if (row < 0 || row >= pattern.rows || channel < 0 || channel >= channels) {
        throw std::out_of_range("cell outside the pattern");
    }
    return pattern.cells[static_cast<size_t>(row) * static_cast<size_t>(channels) +
                         static_cast<size_t>(channel)];
}

const Cell& cellAt(const Pattern& pattern, int channels, int row, int channel) {
    return cellAt(const_cast<Pattern&>(pattern), channels, row, channel);
}

void validate(const Module& m) {
    if (m.name.size() > kNameLength || m.trackerName.size() > kNameLength) {
        fail("song or tracker name longer than 20 characters");
    }
    if (m.channels < 1 || m.channels > kMaxChannels) {
        fail("channel count outside 1..32");
    }
    if (m.orders.empty() || m.orders.size() > kMaxOrders) {
        fail("order list length outside 1..256");
    }
    if (m.restartPosition < 0 || static_cast<size_t>(m.restartPosition) >= m.orders.size()) {
        fail("restart position outside the order list");
    }
    if (m.patterns.empty() || m.patterns.size() > kMaxOrders) {
        fail("pattern count outside 1..256");
    }
    for (const uint8_t order : m.orders) {
        if (order >= m.patterns.size()) {
            fail("order list names pattern " + std::to_string(order) + ", which is not stored");
        }
    }
    if (m.version != kVersion0102 && m.version != kVersion0103 && m.version != kVersion0104) {
        fail("version other than 0x0102, 0x0103 or 0x0104");
    }
    if (m.defaultSpeed < 1 || m.defaultSpeed > 31 || m.defaultTempo < 32 ||
        m.defaultTempo > kMaxTempo) {
        fail("default speed or tempo out of range");
    }
    if (m.instruments.size() > kMaxInstruments) {
        fail("more than 128 instruments");
    }
    for (size_t p = 0; p < m.patterns.size(); ++p) {
        const Pattern& pattern = m.patterns[p];
        const std::string where = "pattern " + std::to_string(p);
        if (pattern.rows < 1 || pattern.rows > kMaxRows) {
            fail(where + ": row count outside 1..256");
        }
        if (pattern.cells.size() != static_cast<size_t>(pattern.rows) * m.channels) {
            fail(where + ": cell count does not match rows x channels");
        }
        for (const Cell& c : pattern.cells) {
            if (c.note > kKeyOff || c.instrument > m.instruments.size()) {
                fail(where + ": note or instrument out of range");
            }
        }
    }
    for (size_t i = 0; i < m.instruments.size(); ++i) {
        validateInstrument(m.instruments[i], "instrument " + std::to_string(i + 1));
    }
}

std::vector<uint8_t> writeModule(const Module& m) {
    validate(m);
    std::vector<uint8_t> out;
    putText(out, kIdentification, kIdentification.size());
    putText(out, m.name, kNameLength);
    put8(out, 0x1A);
    putText(out, m.trackerName, kNameLength);
    put16(out, m.version);
    put32(out, kSongHeaderSize);
    put16(out, static_cast<uint32_t>(m.orders.size()));
    put16(out, static_cast<uint32_t>(m.restartPosition));
    put16(out, static_cast<uint32_t>(m.channels));
    put16(out, static_cast<uint32_t>(m.patterns.size()));
    put16(out, static_cast<uint32_t>(m.instruments.size()));
    put16(out, m.linearFrequencies ? 1 : 0);
    put16(out, static_cast<uint32_t>(m.defaultSpeed));
    put16(out, static_cast<uint32_t>(m.defaultTempo));
    for (size_t i = 0; i < kMaxOrders; ++i) {
        put8(out, i < m.orders.size() ? m.orders[i] : 0);
    }
    if (m.version == kVersion0104) {
        for (const Pattern& p : m.patterns) {
            appendPattern(out, p, m.version);
        }
        for (const Instrument& in : m.instruments) {
            appendInstrumentHeaders(out, in, m.version);
            appendSampleData(out, in);
        }
    } else {
        for (const Instrument& in : m.instruments) {
            appendInstrumentHeaders(out, in, m.version);
        }
        for (const Pattern& p : m.patterns) {
            appendPattern(out, p, m.version);
        }
        for (const Instrument& in : m.instruments) {
            appendSampleData(out, in);
        }
    }
    out.insert(out.end(), m.trailingData.begin(), m.trailingData.end());
    return out;
}

void appendPackedCell(std::vector<uint8_t>& out, const Cell& c) {
    if (c.note != 0 && c.instrument != 0 && c.volume != 0 && c.effect != 0 && c.param != 0) {
        for (const uint8_t b : {c.note, c.instrument, c.volume, c.effect, c.param}) {
            out.push_back(b);
        }
        return;
    }
    const uint8_t mask =
        static_cast<uint8_t>(0x80 | (c.note ? 0x01 : 0) | (c.instrument ? 0x02 : 0) |
                             (c.volume ? 0x04 : 0) | (c.effect ? 0x08 : 0) | (c.param ? 0x10 : 0));
    out.push_back(mask);
    for (const uint8_t b : {c.note, c.instrument, c.volume, c.effect, c.param}) {
        if (b != 0) {
            out.push_back(b);
        }
    }
}

std::vector<uint8_t> encodeSampleData(const Sample& s) {
    std::vector<uint8_t> out;
    if (s.compressed) {
        return encodeCompressed(s);
    }
    if (s.depth == Depth::Bits16) {
        out.reserve(s.values.size() * 2);
        uint16_t previous = 0;
        for (const int16_t v : s.values) {
            const auto value = static_cast<uint16_t>(v);
            put16(out, static_cast<uint16_t>(value - previous));
            previous = value;
        }
    } else {
        out = eightBitSteps(s);
    }
    return out;
}

}  // namespace xm
