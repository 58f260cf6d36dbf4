// "Pyramid Sunrise", the demo's song.
//
// A minor, 125 beats per minute at 6 ticks per row, 16 rows to a 4/4 bar.
// Ten channels: kick, snare, hats, bass, three pad voices, lead, echo, and a
// pluck that plays the intro motif and later the chord arpeggios.
//
// Order list (restart at order 1, so the intro plays once):
//   0 intro    Am F C G   pads swell in (volume slide) under a global fade-in
//                         (G00, then H10); pluck motif with its echo; hats, then
//                         kick and a snare build.
//   1 groove   Am F C G   drums with swung 16th hats (note delay ED2), delayed
//                         and offset ghost snares (ED3, 9xx), staccato bass
//                         (note cut EC); resets speed, tempo and global volume
//                         (F06, F7D, G40) for every pass of the loop; E93
//                         retrigger on a hat.
//   2 verse A  Am F C G   lead melody: scoop (E2x/E1x), tone portamento (3xx),
//                         vibrato (4xy and the volume column), vibrato with
//                         volume slide (6xy); echo channel with panning (8xx)
//                         and panning slides (Pxy).
//   3 verse B  Am F C G   pluck arpeggios (0xy) join; portamento with volume
//                         slide (5xy), fine volume slides (EAx); the last bar
//                         is cut to two beats by a pattern break (D00).
//   4 break    Dm Em G    pads with tremolo (7xy), panning slides in the volume
//                         column, then a 16th gate by tremor (Txy); bass rises
//                         by portamento up (1xx); snare roll by multi-retrigger
//                         (Rxy); pads released by the key-off effect (Kxx);
//                         the row before the chorus is held by a pattern delay
//                         (EE1) and a position jump (B05) ends the section after
//                         three bars.
//   5 chorus A F G Em Am  pads restart past their swell (envelope position
//                         L10) and rise by volume-column slides; open hats set
//                         by Cxx; four-on-the-floor kick.
//   6 chorus B F G Am E   lead climbs by tone portamento and ends with a dive
//                         (portamento down 2xx with a volume-column fade).
//   7 fill     E          a one-beat figure repeated by a pattern loop (E60,
//                         E63), a tom run on the snare, then double speed (F03)
//                         for a 32nd snare roll and a ritardando (F78..F69)
//                         before the song loops back to the groove.
#include "generators/song_arrangement.h"

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "generators/song_instruments.h"

namespace song {
namespace {

using xm::Cell;
using xm::Effect;
using xm::ExtendedCommand;
using xm::Pattern;

constexpr int kChannels = 10;
enum Channel : int {
    KickChannel,
    SnareChannel,
    HatChannel,
    BassChannel,
    PadLow,
    PadMid,
    PadHigh,
    LeadChannel,
    EchoChannel,
    ArpChannel,
};
constexpr std::array<int, 3> kPadChannels = {PadLow, PadMid, PadHigh};

constexpr int kRowsPerBar = 16;
constexpr int kBarsPerPattern = 4;
constexpr int kPatternRows = kRowsPerBar * kBarsPerPattern;

// Order positions; each plays the pattern of the same number.
enum OrderPosition : uint8_t {
    IntroOrder,
    GrooveOrder,
    VerseAOrder,
    VerseBOrder,
    BreakOrder,
    ChorusAOrder,
    ChorusBOrder,
    FillOrder,
    OrderCount,
};

constexpr int kInitialSpeed = 6;
constexpr int kInitialTempo = 125;

// Volume-column commands.
constexpr uint8_t volume(int v) {
    return static_cast<uint8_t>(0x10 + v);
}
constexpr uint8_t volumeSlideDown(int y) {
    return static_cast<uint8_t>(0x60 + y);
}
constexpr uint8_t volumeSlideUp(int y) {
    return static_cast<uint8_t>(0x70 + y);
}
constexpr uint8_t fineVolumeDown(int y) {
    return static_cast<uint8_t>(0x80 + y);
}
constexpr uint8_t vibratoSpeed(int y) {
    return static_cast<uint8_t>(0xA0 + y);
}
constexpr uint8_t vibratoDepth(int y) {
    return static_cast<uint8_t>(0xB0 + y);
}
constexpr uint8_t panning(int y) {
    return static_cast<uint8_t>(0xC0 + y);
}
constexpr uint8_t panSlideLeft(int y) {
    return static_cast<uint8_t>(0xD0 + y);
}
constexpr uint8_t panSlideRight(int y) {
    return static_cast<uint8_t>(0xE0 + y);
}
constexpr uint8_t legato = 0xFF;  // tone portamento at full speed: a pitch change without restart

constexpr uint8_t extended(ExtendedCommand sub, int y) {
    return static_cast<uint8_t>((static_cast<int>(sub) << 4) | y);
}

// "C-4", "F#2": the cell value of a note name, C-0 being 1.
uint8_t pitch(std::string_view name) {
    constexpr std::string_view kNames = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (name.size() == 3 && name[2] >= '0' && name[2] <= '7') {
        for (int semitone = 0; semitone < 12; ++semitone) {
            if (kNames.substr(static_cast<size_t>(semitone) * 2, 2) == name.substr(0, 2)) {
                return static_cast<uint8_t>(1 + 12 * (name[2] - '0') + semitone);
            }
        }
    }
    throw std::invalid_argument("bad note name: " + std::string(name));
}

// Writing into a pattern. Every setter refuses to overwrite what another part
// of the arrangement has already put into the cell, so that two ideas never
// silently collide in one channel.
struct Sheet {
    Pattern pattern;
    int playedRows;  // rows before a pattern break ends the pattern early
    Cell& at(int row, int channel) { return xm::cellAt(pattern, kChannels, row, channel); }
    int rows() const { return playedRows; }
};

void fail(const char* what, int row, int channel) {
    throw std::logic_error(std::string(what) + " at row " + std::to_string(row) + ", channel " +
                           std::to_string(channel));
}

void putNote(Sheet& s, int row, int channel, uint8_t note, uint8_t instrument, uint8_t vol = 0) {
    Cell& c = s.at(row, channel);
    if (c.note != 0 || c.instrument != 0 || (vol != 0 && c.volume != 0)) {
        fail("two notes collide", row, channel);
    }
    c.note = note;
    c.instrument = instrument;
    if (vol != 0) {
        c.volume = vol;
    }
}

void putVolume(Sheet& s, int row, int channel, uint8_t vol) {
    Cell& c = s.at(row, channel);
    if (c.volume != 0) {
        fail("two volume-column commands collide", row, channel);
    }
    c.volume = vol;
}

void putEffect(Sheet& s, int row, int channel, Effect effect, uint8_t param) {
    Cell& c = s.at(row, channel);
    if (c.effect != 0 || c.param != 0) {
        fail("two effects collide", row, channel);
    }
    c.effect = static_cast<uint8_t>(effect);
    c.param = param;
}

void putKeyOff(Sheet& s, int row, int channel) {
    putNote(s, row, channel, xm::kKeyOff, 0);
}

Sheet newSheet(int rows = kPatternRows) {
    return Sheet{xm::makePattern(rows, kChannels), rows};
}

// ---------------------------------------------------------------- harmony

struct Chord {
    uint8_t bass;
    std::array<uint8_t, 3> pad;
    uint8_t arpBase;
    uint8_t arpIntervals;  // arpeggio parameter: semitones above the base
};

Chord chord(std::string_view name) {
    if (name == "Am")
        return {pitch("A-1"), {pitch("C-4"), pitch("E-4"), pitch("A-4")}, pitch("A-4"), 0x37};
    if (name == "F")
        return {pitch("F-1"), {pitch("C-4"), pitch("F-4"), pitch("A-4")}, pitch("F-4"), 0x47};
    if (name == "C")
        return {pitch("C-2"), {pitch("C-4"), pitch("E-4"), pitch("G-4")}, pitch("C-5"), 0x47};
    if (name == "G")
        return {pitch("G-1"), {pitch("B-3"), pitch("D-4"), pitch("G-4")}, pitch("G-4"), 0x47};
    if (name == "Dm")
        return {pitch("D-2"), {pitch("D-4"), pitch("F-4"), pitch("A-4")}, pitch("D-5"), 0x37};
    if (name == "Em")
        return {pitch("E-2"), {pitch("B-3"), pitch("E-4"), pitch("G-4")}, pitch("E-5"), 0x37};
    if (name == "E")
        return {pitch("E-2"), {pitch("B-3"), pitch("E-4"), pitch("G#4")}, pitch("E-5"), 0x47};
    throw std::invalid_argument("unknown chord: " + std::string(name));
}

using Progression = std::array<std::string_view, kBarsPerPattern>;
constexpr Progression kVerseChords = {"Am", "F", "C", "G"};
constexpr Progression kChorusAChords = {"F", "G", "Em", "Am"};
constexpr Progression kChorusBChords = {"F", "G", "Am", "E"};

// ---------------------------------------------------------------- drums

// One character per row from `row` on; '.' is a rest.
//   kick:  X accent, x normal
//   snare: X accent, x normal, g ghost delayed by half a row (swing),
//          h ghost started past its attack (sample offset)
//   hats:  x closed on the beat, s swung closed 16th, c quiet closed,
//          r closed with a 32nd retrigger, o open, O open at a set volume
void kickLine(Sheet& s, int row, std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const int r = row + static_cast<int>(i);
        if (line[i] == 'X')
            putNote(s, r, KickChannel, pitch("C-4"), Kick, volume(64));
        if (line[i] == 'x')
            putNote(s, r, KickChannel, pitch("C-4"), Kick, volume(44));
    }
}

void snareLine(Sheet& s, int row, std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const int r = row + static_cast<int>(i);
        switch (line[i]) {
            case 'X':
                putNote(s, r, SnareChannel, pitch("C-4"), Snare, volume(58));
                break;
            case 'x':
                putNote(s, r, SnareChannel, pitch("C-4"), Snare, volume(36));
                break;
            case 'g':
                putNote(s, r, SnareChannel, pitch("C-4"), Snare, volume(14));
                putEffect(s, r, SnareChannel, Effect::Extended,
                          extended(ExtendedCommand::NoteDelay, 3));
                break;
            case 'h':
                putNote(s, r, SnareChannel, pitch("D-4"), Snare, volume(20));
                putEffect(s, r, SnareChannel, Effect::SampleOffset, 0x04);
                break;
            default:
                break;
        }
    }
}

void hatLine(Sheet& s, int row, std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const int r = row + static_cast<int>(i);
        switch (line[i]) {
            case 'x':
                putNote(s, r, HatChannel, pitch("C-4"), Hats, volume(40));
                break;
            case 's':
                putNote(s, r, HatChannel, pitch("C-4"), Hats, volume(20));
                putEffect(s, r, HatChannel, Effect::Extended,
                          extended(ExtendedCommand::NoteDelay, 2));
                break;
            case 'c':
                putNote(s, r, HatChannel, pitch("C-4"), Hats, volume(24));
                break;
            case 'r':
                putNote(s, r, HatChannel, pitch("C-4"), Hats, volume(32));
                putEffect(s, r, HatChannel, Effect::Extended,
                          extended(ExtendedCommand::RetriggerNote, 3));
                break;
            case 'o':
                putNote(s, r, HatChannel, pitch("C-5"), Hats, volume(32));
                break;
            case 'O':
                putNote(s, r, HatChannel, pitch("C-5"), Hats);
                putEffect(s, r, HatChannel, Effect::SetVolume, 0x24);
                break;
            default:
                break;
        }
    }
}

void grooveDrums(Sheet& s, bool lastBarFill) {
    for (int bar = 0; bar < kBarsPerPattern; ++bar) {
        const int row = bar * kRowsPerBar;
        const bool fill = lastBarFill && bar == kBarsPerPattern - 1;
        kickLine(s, row, fill ? "X.....x.X.x..x.." : "X.....x.X.......");
        snareLine(s, row, fill ? "....X..g....X.xx" : "....X..g....X..h");
        hatLine(s, row, fill ? "xsxsxsxsxsxsrsos" : "xsxsxsxsxsxsxsos");
    }
}

void chorusDrums(Sheet& s, bool endsInFill) {
    for (int bar = 0; bar < kBarsPerPattern; ++bar) {
        const int row = bar * kRowsPerBar;
        const bool fill = endsInFill && bar == kBarsPerPattern - 1;
        kickLine(s, row, fill ? "X...X...X...X.x." : "X...X...X...X...");
        snareLine(s, row, fill ? "....X..g....X.xX" : "....X..g....X..h");
        hatLine(s, row, "xsOsxsOsxsOsxsOs");
    }
}

// ---------------------------------------------------------------- bass

// One character per row relative to the chord's root: R root, r staccato
// root, O octave, o staccato octave, F fifth.
void bassLine(Sheet& s, int row, const Chord& c, std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        const int r = row + static_cast<int>(i);
        const char k = line[i];
        if (k == '.') {
            continue;
        }
        const int offset = (k == 'O' || k == 'o') ? 12 : (k == 'F' ? 7 : 0);
        const uint8_t vol = k == 'R' ? volume(36) : (k == 'O' ? volume(34) : volume(30));
        putNote(s, r, BassChannel, static_cast<uint8_t>(c.bass + offset), Bass, vol);
        if (k == 'r' || k == 'o') {
            putEffect(s, r, BassChannel, Effect::Extended, extended(ExtendedCommand::NoteCut, 3));
        }
    }
}

void bassBars(Sheet& s, const Progression& chords, std::string_view line, int bars = 4) {
    for (int bar = 0; bar < bars; ++bar) {
        bassLine(s, bar * kRowsPerBar, chord(chords[bar]), line);
    }
}

// ---------------------------------------------------------------- pads

void padsRestart(Sheet& s, int row, const Chord& c, int vol) {
    for (size_t v = 0; v < kPadChannels.size(); ++v) {
        putNote(s, row, kPadChannels[v], c.pad[v], Pad, volume(vol));
    }
}

// A chord change that keeps the pads' envelopes and sample positions running.
void padsLegato(Sheet& s, int row, const Chord& c) {
    for (size_t v = 0; v < kPadChannels.size(); ++v) {
        putNote(s, row, kPadChannels[v], c.pad[v], 0, legato);
    }
}

void padsEffect(Sheet& s, int row, Effect effect, uint8_t param) {
    for (const int channel : kPadChannels) {
        putEffect(s, row, channel, effect, param);
    }
}

void padsLegatoBars(Sheet& s, const Progression& chords, int firstBar, int bars = 4) {
    for (int bar = firstBar; bar < bars; ++bar) {
        padsLegato(s, bar * kRowsPerBar, chord(chords[bar]));
    }
}

// ---------------------------------------------------------------- melody

enum class Style {
    Plain,
    Scoop,          // starts a quarter tone flat and bends up (fine portamento)
    Slide,          // glides from the previous note (tone portamento)
    SlideFade,      // glides and fades (tone portamento with volume slide)
    Vibrato,        // vibrato effect after the attack
    ColumnVibrato,  // vibrato from the volume column
    FadeVibrato,    // vibrato, then vibrato with volume slide
    Swell,          // starts soft and grows by fine volume slides
    Dive,           // vibrato, then a portamento dive with a fade
};

struct Note {
    int row;
    std::string_view name;
    int length;  // rows until the key-off (none when the next note starts there)
    Style style = Style::Plain;
};

void placeLead(Sheet& s, const std::vector<Note>& notes, int velocity) {
    constexpr int ch = LeadChannel;
    for (size_t i = 0; i < notes.size(); ++i) {
        const Note& n = notes[i];
        const int end = std::min(n.row + n.length, s.rows());
        const int next = i + 1 < notes.size() ? notes[i + 1].row : s.rows();
        const uint8_t p = pitch(n.name);
        switch (n.style) {
            case Style::Slide:
            case Style::SlideFade:
                putNote(s, n.row, ch, p, 0);
                putEffect(s, n.row, ch, Effect::TonePortamento, 0x0C);
                break;
            case Style::Swell:
                putNote(s, n.row, ch, p, Lead, volume(velocity - 12));
                break;
            default:
                putNote(s, n.row, ch, p, Lead, volume(velocity));
                break;
        }
        for (int r = n.row + 1; r < end; ++r) {
            const int k = r - n.row;  // rows since the note started
            switch (n.style) {
                case Style::Scoop:
                    if (k == 1)
                        putEffect(s, r, ch, Effect::Extended,
                                  extended(ExtendedCommand::FinePortamentoUp, 2));
                    if (k == 2)
                        putEffect(s, r, ch, Effect::Extended,
                                  extended(ExtendedCommand::FinePortamentoUp, 0));
                    break;
                case Style::Slide:
                    if (k <= 2)
                        putEffect(s, r, ch, Effect::TonePortamento, 0);
                    break;
                case Style::SlideFade:
                    putEffect(s, r, ch, Effect::TonePortamentoVolumeSlide, k == 1 ? 0x01 : 0);
                    break;
                case Style::Vibrato:
                    if (k >= 2)
                        putEffect(s, r, ch, Effect::Vibrato, k == 2 ? 0x53 : 0);
                    break;
                case Style::ColumnVibrato:
                    putVolume(s, r, ch, k == 1 ? vibratoSpeed(6) : vibratoDepth(3));
                    break;
                case Style::FadeVibrato:
                    if (k >= 2 && k < n.length / 2) {
                        putEffect(s, r, ch, Effect::Vibrato, k == 2 ? 0x63 : 0);
                    } else if (k >= n.length / 2) {
                        putEffect(s, r, ch, Effect::VibratoVolumeSlide,
                                  k == n.length / 2 ? 0x02 : 0);
                    }
                    break;
                case Style::Swell:
                    if (k <= 4)
                        putEffect(s, r, ch, Effect::Extended,
                                  extended(ExtendedCommand::FineVolumeUp, 3));
                    break;
                case Style::Dive:
                    if (k >= 2 && k < n.length - 4) {
                        putEffect(s, r, ch, Effect::Vibrato, k == 2 ? 0x43 : 0);
                    } else if (k >= n.length - 4) {
                        putEffect(s, r, ch, Effect::PortamentoDown, 0x08);
                        putVolume(s, r, ch, volumeSlideDown(3));
                    }
                    break;
                case Style::Plain:
                    break;
            }
        }
        if (n.style == Style::Scoop) {
            putEffect(s, n.row, ch, Effect::Extended,
                      extended(ExtendedCommand::FinePortamentoDown, 4));
        }
        if (end < next && end < s.rows()) {
            putKeyOff(s, end, ch);
        }
    }
}

// The melody again, `delay` rows later, softer and thrown from side to side:
// each repeat sets its panning and drifts back toward the centre.
void placeEcho(Sheet& s, const std::vector<Note>& notes, uint8_t instrument, int velocity,
               int delay) {
    constexpr int ch = EchoChannel;
    for (size_t i = 0; i < notes.size(); ++i) {
        const Note& n = notes[i];
        const int row = n.row + delay;
        if (row >= s.rows()) {
            break;
        }
        const int end = n.row + n.length + delay;
        const int next = i + 1 < notes.size() ? notes[i + 1].row + delay : s.rows();
        const bool left = i % 2 == 0;
        putNote(s, row, ch, pitch(n.name), instrument, volume(velocity));
        putEffect(s, row, ch, Effect::SetPanning, left ? 0x40 : 0xC0);
        if (row + 1 < std::min(next, s.rows())) {
            putEffect(s, row + 1, ch, Effect::PanningSlide, left ? 0x20 : 0x02);
        }
        if (n.length > 0 && end < next && end < s.rows()) {
            putKeyOff(s, end, ch);
        }
    }
}

// The pluck's motif: short notes, alternately placed left and right.
void placeMotif(Sheet& s, const std::vector<Note>& notes) {
    for (size_t i = 0; i < notes.size(); ++i) {
        putNote(s, notes[i].row, ArpChannel, pitch(notes[i].name), Pluck,
                panning(i % 2 == 0 ? 3 : 12));
    }
}

const std::vector<Note>& motif() {
    static const std::vector<Note> notes = {
        {0, "A-5", 0},  {3, "E-5", 0},  {6, "C-6", 0},  {10, "E-5", 0}, {12, "A-5", 0},
        {16, "A-5", 0}, {19, "F-5", 0}, {22, "C-6", 0}, {26, "F-5", 0}, {28, "A-5", 0},
        {32, "G-5", 0}, {35, "E-5", 0}, {38, "C-6", 0}, {42, "E-5", 0}, {44, "G-5", 0},
        {48, "G-5", 0}, {51, "D-5", 0}, {54, "B-5", 0}, {58, "D-5", 0}, {60, "G-5", 0},
    };
    return notes;
}

void placeArpeggioRows(Sheet& s, int row, int rows, const Chord& c, int vol) {
    for (int r = 0; r < rows; ++r) {
        if (r % 2 == 0) {
            putNote(s, row + r, ArpChannel, c.arpBase, Pluck, volume(vol));
        }
        putEffect(s, row + r, ArpChannel, Effect::Arpeggio, c.arpIntervals);
    }
}

// Chord arpeggios on the pluck: an 8th-note pulse, the arpeggio running on
// every row in between. They sit under the lead.
constexpr int kArpVolume = 22;

void placeArpeggios(Sheet& s, const Progression& chords, int bars, int vol) {
    for (int bar = 0; bar < bars; ++bar) {
        placeArpeggioRows(s, bar * kRowsPerBar, kRowsPerBar, chord(chords[bar]), vol);
    }
}

// ---------------------------------------------------------------- sections

Sheet intro() {
    Sheet s = newSheet();
    // Global fade-in over the first bar: silence, then +1 per tick.
    putEffect(s, 0, KickChannel, Effect::SetGlobalVolume, 0x00);
    for (int row = 0; row <= 12; ++row) {
        putEffect(s, row, SnareChannel, Effect::GlobalVolumeSlide, row == 0 ? 0x10 : 0);
    }
    putEffect(s, 0, EchoChannel, Effect::SpeedTempo, kInitialSpeed);
    putEffect(s, 0, ArpChannel, Effect::SpeedTempo, kInitialTempo);

    padsRestart(s, 0, chord("Am"), 4);
    for (int row = 0; row <= 5; ++row) {
        padsEffect(s, row, Effect::VolumeSlide, row == 0 ? 0x10 : 0);
    }
    padsLegatoBars(s, kVerseChords, 1);
    for (int row = 56; row < kPatternRows; ++row) {
        for (const int channel : kPadChannels) {
            putVolume(s, row, channel, fineVolumeDown(1));
        }
    }

    placeMotif(s, motif());
    placeEcho(s, motif(), Pluck, 16, 3);

    hatLine(s, 16, "c.c.c.c.c.c.c.c.");
    hatLine(s, 32, "xsxsxsxsxsxsxsxs");
    hatLine(s, 48, "xsxsxsxsxsxsxsos");
    bassLine(s, 32, chord("C"), "R...............");
    bassLine(s, 48, chord("G"), "R...........F...");
    kickLine(s, 48, "X...X...X...X...");
    for (int i = 0; i < 8; ++i) {
        putNote(s, 56 + i, SnareChannel, pitch("C-4"), Snare, volume(16 + 4 * i));
    }
    return s;
}

// The groove that the song loops back to: it restores speed, tempo and
// global volume, which the fill and the intro change.
Sheet groove() {
    Sheet s = newSheet();
    putEffect(s, 0, KickChannel, Effect::SetGlobalVolume, 0x40);
    putEffect(s, 0, EchoChannel, Effect::SpeedTempo, kInitialSpeed);
    putEffect(s, 0, ArpChannel, Effect::SpeedTempo, kInitialTempo);
    grooveDrums(s, true);
    bassBars(s, kVerseChords, "R..r..O.R.r.F.o.");
    padsRestart(s, 0, chord("Am"), 26);
    padsLegatoBars(s, kVerseChords, 1);
    placeMotif(s, motif());
    placeEcho(s, motif(), Pluck, 14, 3);
    return s;
}

const std::vector<Note>& verseAMelody() {
    static const std::vector<Note> notes = {
        {0, "E-5", 6, Style::Scoop},
        {6, "D-5", 2},
        {8, "C-5", 4},
        {12, "A-4", 4},
        {16, "C-5", 6},
        {22, "A-4", 2},
        {24, "C-5", 4},
        {28, "F-5", 4, Style::Slide},
        {32, "E-5", 8, Style::ColumnVibrato},
        {40, "G-5", 4},
        {44, "E-5", 4},
        {48, "D-5", 10, Style::FadeVibrato},
        {60, "B-4", 2},
        {62, "D-5", 2},
    };
    return notes;
}

const std::vector<Note>& verseBMelody() {
    static const std::vector<Note> notes = {
        {0, "E-5", 4},  {4, "A-5", 4, Style::Slide},
        {8, "G-5", 2},  {10, "E-5", 2},
        {12, "D-5", 4}, {16, "C-5", 6, Style::Swell},
        {22, "D-5", 2}, {24, "E-5", 6, Style::SlideFade},
        {32, "G-4", 4}, {36, "C-5", 4},
        {40, "E-5", 4}, {44, "D-5", 2},
        {46, "C-5", 2}, {48, "D-5", 4, Style::Vibrato},
        {52, "B-4", 4},
    };
    return notes;
}

Sheet verse(const std::vector<Note>& melody, bool arpeggios, bool halfLastBar) {
    Sheet s = newSheet();
    const int bars = kBarsPerPattern;
    // The drums come first: they decide where a shortened pattern ends.
    for (int bar = 0; bar < bars; ++bar) {
        const int row = bar * kRowsPerBar;
        if (halfLastBar && bar == bars - 1) {
            // Two beats of G, then straight into the break.
            kickLine(s, row, "X.....x.");
            snareLine(s, row, "....X..x");
            hatLine(s, row, "xsxsxsxs");
            bassLine(s, row, chord("G"), "R..r..O.");
            putEffect(s, row + 7, KickChannel, Effect::PatternBreak, 0x00);
            s.playedRows = row + 8;
        } else {
            kickLine(s, row, "X.....x.X.......");
            snareLine(s, row, "....X..g....X..h");
            hatLine(s, row, "xsxsxsxsxsxsxsos");
            bassLine(s, row, chord(kVerseChords[bar]), "R..r..O.R.r.F.o.");
        }
    }
    padsLegatoBars(s, kVerseChords, 0);
    placeLead(s, melody, 48);
    placeEcho(s, melody, Lead, 16, 3);
    if (arpeggios) {
        placeArpeggios(s, kVerseChords, halfLastBar ? 3 : 4, kArpVolume);
        if (halfLastBar) {
            placeArpeggioRows(s, 48, 8, chord("G"), kArpVolume);
        }
    }
    return s;
}

Sheet breakdown() {
    Sheet s = newSheet();
    constexpr Progression kChords = {"Dm", "Em", "G", "G"};
    putKeyOff(s, 0, LeadChannel);
    putKeyOff(s, 0, EchoChannel);
    for (int bar = 0; bar < 3; ++bar) {
        kickLine(s, bar * kRowsPerBar, "X...............");
    }
    // Pads: tremolo over Dm and Em, spreading apart, then a 16th gate over G.
    padsRestart(s, 0, chord("Dm"), 28);
    padsLegato(s, 16, chord("Em"));
    padsLegato(s, 32, chord("G"));
    for (int row = 0; row < 32; ++row) {
        padsEffect(s, row, Effect::Tremolo, row == 0 ? 0x44 : 0);
    }
    for (int row = 17; row < 25; ++row) {
        putVolume(s, row, PadLow, panSlideLeft(1));
        putVolume(s, row, PadHigh, panSlideRight(1));
    }
    for (int row = 32; row < 40; ++row) {
        padsEffect(s, row, Effect::Tremor, row == 32 ? 0x22 : 0);
    }
    padsEffect(s, 40, Effect::KeyOff, 0);

    bassLine(s, 0, chord("Dm"), "R...............");
    putKeyOff(s, 14, BassChannel);
    bassLine(s, 16, chord("Em"), "R...............");
    putKeyOff(s, 30, BassChannel);
    bassLine(s, 32, chord("G"), "R...............");
    for (int row = 32; row < 48; ++row) {
        putEffect(s, row, BassChannel, Effect::PortamentoUp, row == 32 ? 0x02 : 0);
    }

    placeArpeggios(s, kChords, 3, kArpVolume - 2);

    // Snare roll over the last bar: 16ths growing louder, doubled to 32nds
    // by the retrigger for the last two beats.
    hatLine(s, 32, "c.c.c.c.xsxsxsxs");
    for (int i = 0; i < 16; ++i) {
        const int row = 32 + i;
        putNote(s, row, SnareChannel, pitch("C-4"), Snare, volume(12 + 2 * i));
        if (i >= 8) {
            putEffect(s, row, SnareChannel, Effect::MultiRetrigger, i == 8 ? 0x93 : 0);
        }
    }
    putEffect(s, 47, PadMid, Effect::PositionJump, ChorusAOrder);
    s.playedRows = 48;
    putEffect(s, 47, PadHigh, Effect::Extended, extended(ExtendedCommand::PatternDelay, 1));
    return s;
}

const std::vector<Note>& chorusAMelody() {
    static const std::vector<Note> notes = {
        {0, "A-5", 6, Style::Scoop},
        {6, "G-5", 2},
        {8, "F-5", 4},
        {12, "E-5", 2},
        {14, "F-5", 2},
        {16, "G-5", 6},
        {22, "F-5", 2},
        {24, "E-5", 4},
        {28, "D-5", 4},
        {32, "E-5", 4},
        {36, "G-5", 4},
        {40, "B-5", 4, Style::Slide},
        {44, "G-5", 4},
        {48, "A-5", 12, Style::FadeVibrato},
        {60, "E-5", 2},
        {62, "G-5", 2},
    };
    return notes;
}

const std::vector<Note>& chorusBMelody() {
    static const std::vector<Note> notes = {
        {0, "A-5", 6},
        {6, "G-5", 2},
        {8, "F-5", 4},
        {12, "A-5", 4},
        {16, "B-5", 6, Style::Vibrato},
        {22, "A-5", 2},
        {24, "G-5", 4},
        {28, "A-5", 4},
        {32, "C-6", 8, Style::Slide},
        {40, "B-5", 4},
        {44, "A-5", 4},
        {48, "G#5", 16, Style::Dive},
    };
    return notes;
}

Sheet chorus(const Progression& chords, const std::vector<Note>& melody, bool first) {
    Sheet s = newSheet();
    chorusDrums(s, !first);
    bassBars(s, chords, "R.o.R.o.R.o.F.o.");
    if (first) {
        // The pads come back past their swell and rise quickly.
        padsRestart(s, 0, chord(chords[0]), 8);
        padsEffect(s, 0, Effect::SetEnvelopePosition, 0x10);
        for (int row = 1; row <= 2; ++row) {
            for (const int channel : kPadChannels) {
                putVolume(s, row, channel, volumeSlideUp(2));
            }
        }
        padsLegatoBars(s, chords, 1);
    } else {
        padsLegatoBars(s, chords, 0);
    }
    placeLead(s, melody, 50);
    placeEcho(s, melody, Lead, 16, 3);
    placeArpeggios(s, chords, 4, kArpVolume);
    return s;
}

constexpr int kFillRows = 28;

Sheet fill() {
    Sheet s = newSheet(kFillRows);
    const Chord e = chord("E");
    putKeyOff(s, 0, LeadChannel);
    putKeyOff(s, 0, EchoChannel);
    // One beat played four times by a pattern loop.
    putEffect(s, 0, KickChannel, Effect::Extended, extended(ExtendedCommand::PatternLoop, 0));
    putEffect(s, 3, KickChannel, Effect::Extended, extended(ExtendedCommand::PatternLoop, 3));
    kickLine(s, 0, "X...");
    snareLine(s, 0, "..x.");
    hatLine(s, 0, "xsxs");
    bassLine(s, 0, e, "r.o.");
    // A tom run played on the snare, half a bar.
    kickLine(s, 4, "X...X...");
    const char* toms[] = {"A-3", "F-3", "D-3", "C-3", "C-3"};
    const int tomRows[] = {4, 6, 8, 10, 11};
    for (int i = 0; i < 5; ++i) {
        putNote(s, tomRows[i], SnareChannel, pitch(toms[i]), Snare, volume(40 + 4 * i));
    }
    bassLine(s, 4, e, "R.......");
    // Double speed: the last half bar is a 32nd roll, slowing at its end.
    putEffect(s, 12, EchoChannel, Effect::SpeedTempo, 3);
    for (int i = 0; i < 16; ++i) {
        putNote(s, 12 + i, SnareChannel, pitch("C-4"), Snare, volume(16 + 3 * i));
    }
    kickLine(s, 12, "X...X...X...X...");
    bassLine(s, 12, e, "R");
    for (int row = 16; row < kFillRows; ++row) {
        putEffect(s, row, BassChannel, Effect::PortamentoDown, row == 16 ? 0x01 : 0);
    }
    for (const int channel : kPadChannels) {
        putKeyOff(s, 20, channel);
    }
    const uint8_t ritardando[] = {120, 115, 110, 105};
    for (int i = 0; i < 4; ++i) {
        putEffect(s, 24 + i, ArpChannel, Effect::SpeedTempo, ritardando[i]);
    }
    return s;
}

}  // namespace

xm::Module composeSong() {
    xm::Module m;
    m.name = "Pyramid Sunrise";
    m.trackerName = "Vorodoze make_song";
    m.channels = kChannels;
    m.linearFrequencies = true;
    m.defaultSpeed = kInitialSpeed;
    m.defaultTempo = kInitialTempo;
    m.instruments = makeInstruments();

    m.patterns.resize(OrderCount);
    m.patterns[IntroOrder] = intro().pattern;
    m.patterns[GrooveOrder] = groove().pattern;
    m.patterns[VerseAOrder] = verse(verseAMelody(), false, false).pattern;
    m.patterns[VerseBOrder] = verse(verseBMelody(), true, true).pattern;
    m.patterns[BreakOrder] = breakdown().pattern;
    m.patterns[ChorusAOrder] = chorus(kChorusAChords, chorusAMelody(), true).pattern;
    m.patterns[ChorusBOrder] = chorus(kChorusBChords, chorusBMelody(), false).pattern;
    m.patterns[FillOrder] = fill().pattern;
    for (uint8_t order = IntroOrder; order < OrderCount; ++order) {
        m.orders.push_back(order);
    }
    m.restartPosition = GrooveOrder;
    return m;
}

}  // namespace song
