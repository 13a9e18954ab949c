#include "sysex/Manufacturers.h"

#include <algorithm>
#include <iterator>

namespace sysex {

namespace {

// From the published manufacturer ID lists.
constexpr ManufacturerEntry kTable[] = {
    {0x01, false, "Sequential Circuits"},
    {0x02, false, "IDP"},
    {0x03, false, "Voyetra Turtle Beach"},
    {0x04, false, "Moog Music"},
    {0x05, false, "Passport Designs"},
    {0x06, false, "Lexicon"},
    {0x07, false, "Kurzweil / Young Chang"},
    {0x08, false, "Fender"},
    {0x09, false, "MIDI9"},
    {0x0A, false, "AKG Acoustics"},
    {0x0B, false, "Voyce Music"},
    {0x0C, false, "WaveFrame"},
    {0x0D, false, "ADA Signal Processors"},
    {0x0E, false, "Garfield Electronics"},
    {0x0F, false, "Ensoniq"},
    {0x10, false, "Oberheim"},
    {0x11, false, "Apple"},
    {0x12, false, "Grey Matter Response"},
    {0x13, false, "Digidesign"},
    {0x14, false, "Palmtree Instruments"},
    {0x15, false, "JLCooper Electronics"},
    {0x16, false, "Lowrey Organ Company"},
    {0x17, false, "Adams-Smith"},
    {0x18, false, "E-mu"},
    {0x19, false, "Harmony Systems"},
    {0x1A, false, "ART"},
    {0x1B, false, "Baldwin"},
    {0x1C, false, "Eventide"},
    {0x1D, false, "Inventronics"},
    {0x1E, false, "Key Concepts"},
    {0x1F, false, "Clarity"},
    {0x20, false, "Passac"},
    {0x21, false, "Proel Labs (SIEL)"},
    {0x22, false, "Synthaxe"},
    {0x23, false, "Stepp"},
    {0x24, false, "Hohner"},
    {0x25, false, "Twister"},
    {0x26, false, "Ketron (Solton)"},
    {0x27, false, "Jellinghaus MS"},
    {0x28, false, "Southworth Music Systems"},
    {0x29, false, "PPG"},
    {0x2A, false, "JEN"},
    {0x2B, false, "Solid State Logic"},
    {0x2C, false, "Audio Veritrieb-P. Struven"},
    {0x2F, false, "Elka"},
    {0x30, false, "Dynacord"},
    {0x31, false, "Viscount International"},
    {0x33, false, "Clavia Digital Instruments"},
    {0x34, false, "Audio Architecture"},
    {0x35, false, "Generalmusic"},
    {0x36, false, "Cheetah Marketing"},
    {0x37, false, "C.T.M."},
    {0x38, false, "Simmons"},
    {0x39, false, "Soundcraft Electronics"},
    {0x3A, false, "Steinberg"},
    {0x3B, false, "Wersi"},
    {0x3C, false, "AVAB Niethammer"},
    {0x3D, false, "Digigram"},
    {0x3E, false, "Waldorf Electronics"},
    {0x3F, false, "Quasimidi"},
    {0x40, false, "Kawai"},
    {0x41, false, "Roland"},
    {0x42, false, "Korg"},
    {0x43, false, "Yamaha"},
    {0x44, false, "Casio"},
    {0x46, false, "Kamiya Studio"},
    {0x47, false, "Akai"},
    {0x48, false, "Victor (JVC)"},
    {0x4B, false, "Fujitsu"},
    {0x4C, false, "Sony"},
    {0x4E, false, "Teac"},
    {0x50, false, "Matsushita Electric (Panasonic)"},
    {0x51, false, "Fostex"},
    {0x52, false, "Zoom"},
    {0x54, false, "Matsushita Communication Industrial"},
    {0x55, false, "Suzuki Musical Instruments"},
    {0x56, false, "Fuji Sound"},
    {0x57, false, "Acoustic Technical Laboratory"},
    {0x7D, false, "Non-Commercial"},
    {0x7E, false, "Universal Non-Real Time"},
    {0x7F, false, "Universal Real Time"},
    {0x0001, true, "Time/Warner Interactive"},
    {0x0007, true, "Digital Music Corp."},
    {0x000E, true, "Alesis Studio Electronics"},
    {0x001B, true, "Peavey Electronics"},
    {0x001C, true, "360 Systems"},
    {0x003B, true, "Mark of the Unicorn (MOTU)"},
    {0x0041, true, "Microsoft"},
    {0x0066, true, "Mackie Designs"},
    {0x0105, true, "M-Audio (Midiman)"},
    {0x201F, true, "TC Electronic"},
    {0x2029, true, "Focusrite / Novation"},
    {0x2032, true, "Behringer"},
    {0x2033, true, "Access Music Electronics"},
    {0x203C, true, "Elektron"},
    {0x206B, true, "Arturia"},
    {0x2076, true, "Teenage Engineering"},
    {0x2109, true, "Native Instruments"},
};

constexpr bool Before(const ManufacturerEntry& a, const ManufacturerEntry& b) {
    return a.threeBytes != b.threeBytes ? b.threeBytes : a.id < b.id;
}

// Sorted with every ID once, so a look-up is a binary search and no ID can name two makers.
static_assert([] {
    for (std::size_t i = 1; i < std::size(kTable); ++i) {
        if (!Before(kTable[i - 1], kTable[i])) return false;
    }
    return true;
}());

}  // namespace

std::span<const ManufacturerEntry> ManufacturerTable() { return kTable; }

std::optional<std::string_view> ManufacturerName(const std::uint8_t* message, std::size_t size) {
    if (size < 2) return std::nullopt;
    ManufacturerEntry key{message[1], false, {}};
    if (message[1] == 0x00) {
        // A three-byte ID: 00 and two bytes, all before the F7.
        if (size < 5) return std::nullopt;
        key = {(std::uint32_t{message[2]} << 8) | message[3], true, {}};
    }
    const auto* found = std::lower_bound(std::begin(kTable), std::end(kTable), key, Before);
    if (found == std::end(kTable) || found->threeBytes != key.threeBytes || found->id != key.id) return std::nullopt;
    return found->name;
}

}  // namespace sysex
