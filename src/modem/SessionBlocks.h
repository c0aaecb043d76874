// The blocks two complexes exchange over the session link: the greeting each side sends
// first, the busy block of an answerer serving another complex, the identity of each
// complex, the scenario entry in two halves, and the result block of the exchange.
//
// No block carries its length or a version other than the greeting's version byte:
// each side knows the next block's length from the step it is in, and the result
// block's length from the scenario entry alone (resultLayout), so that both sides agree.
// The layouts are binding to the byte: plain structs of bytes and Le numbers, checked
// by static_assert.
#pragma once

#include "analyzer/Results.h"
#include "platform/LittleEndian.h"
#include "scenario/ScenarioEntry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace vetlina {

// The version of the session software, sent as the greeting's first byte ("2").
inline constexpr uint8_t kSessionVersion = 50;

// Sent by each side when the connection stands. All unused bytes are zero.
struct GreetingBlock {
    uint8_t version;          // kSessionVersion
    uint8_t resume;           // 1: a result exchange of the sender has begun and not finished
    char ident[10];           // the sender's own identifier, zero-terminated
    char wanted[12];          // caller: the identifier it dialled; answerer: the complex it serves
    Le<double> seriesTime;    // SeriesTime of the sender's current entry
    Le<int32_t> sessionsDone; // SessionsDone of the sender's current entry
    uint8_t reserved[4];      // zero
};

// Sent by an answerer that serves another complex, after its greeting.
struct BusyBlock {
    Le<int32_t> sessionsDone; // of the answerer's current entry
    Le<int32_t> numTotal;
};

// The operator, city and exchange of a complex, exchanged with the scenario.
struct IdentityBlock {
    char user[30]; // ownUser
    char city[20]; // ownCity
    char ats[8];   // ownAts
};

// The calling side's result block begins with the call counters of its entry.
struct CountersSection {
    Le<int32_t> calls;
    Le<int32_t> failNUS;
    Le<int32_t> failNUV;
    Le<int32_t> failOtb;
};

static_assert(std::is_trivially_copyable_v<GreetingBlock> && alignof(GreetingBlock) == 1);
static_assert(sizeof(GreetingBlock) == 40 && offsetof(GreetingBlock, resume) == 1 &&
              offsetof(GreetingBlock, ident) == 2 && offsetof(GreetingBlock, wanted) == 12 &&
              offsetof(GreetingBlock, seriesTime) == 24 &&
              offsetof(GreetingBlock, sessionsDone) == 32 &&
              offsetof(GreetingBlock, reserved) == 36);
static_assert(sizeof(BusyBlock) == 8 && offsetof(BusyBlock, numTotal) == 4);
static_assert(sizeof(IdentityBlock) == 58 && offsetof(IdentityBlock, city) == 30 &&
              offsetof(IdentityBlock, ats) == 50);
static_assert(sizeof(CountersSection) == 16 && offsetof(CountersSection, failNUS) == 4 &&
              offsetof(CountersSection, failNUV) == 8 && offsetof(CountersSection, failOtb) == 12);

// The scenario entry goes as two blocks: its identity, progress and statistics, then
// its settings.
inline constexpr std::size_t kEntryFirstBlock = kSettingsOffset; // 3095
inline constexpr std::size_t kEntrySecondBlock = kSettingsSize;  // 823

// The image of a block, to send or to receive into.
template <class Block>
std::span<const uint8_t> blockBytes(const Block& block) {
    static_assert(std::is_trivially_copyable_v<Block> && alignof(Block) == 1);
    return {reinterpret_cast<const uint8_t*>(&block), sizeof(Block)};
}
template <class Block>
std::span<uint8_t> blockBytes(Block& block) {
    static_assert(std::is_trivially_copyable_v<Block> && alignof(Block) == 1);
    return {reinterpret_cast<uint8_t*>(&block), sizeof(Block)};
}

// A text of a block: its characters up to the first zero, never past the field.
template <std::size_t N>
std::string blockText(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string(field, n);
}
// Puts a text into a field of a block: cut to N - 1 characters so that it is always
// zero-terminated, the rest zero.
template <std::size_t N>
void putBlockText(char (&field)[N], std::string_view text) {
    const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    for (std::size_t i = 0; i < N; ++i)
        field[i] = i < n ? text[i] : '\0';
}

// A text received from the far complex as it may stand in the protocol and the
// documents: control characters and the characters that open HTML markup ('<', '>',
// '&') become '?'. A valid identifier (digits and "X") is unchanged.
std::string farText(std::string_view text);

GreetingBlock makeGreeting(bool resume, std::string_view ownIdent, std::string_view wanted,
                           double seriesTime, int32_t sessionsDone);
BusyBlock makeBusy(int32_t sessionsDone, int32_t numTotal);
IdentityBlock makeIdentity(std::string_view user, std::string_view city, std::string_view ats);
CountersSection countersOf(const ScenarioEntry& entry);
void takeCounters(const CountersSection& counters, ScenarioEntry& entry);

// ---- The result block --------------------------------------------------------------

// The sections of a result block, in block order.
enum class ResultSection { Sine, O131, O132, Noise, Echo, Impedance, Mtts, O42, Throughput };
inline constexpr std::size_t kResultSectionCount = 9;

// Bytes of each section: the records of the analyzer, the two echo records together,
// and the throughput as one f32 (per cent).
std::size_t sectionSize(ResultSection section);

// Where the sections of an entry's result block stand: each section is present only
// when its measurement kind is enabled in the entry, in block order. Offsets count
// from the first section (after the caller's counters).
struct ResultLayout {
    struct Place {
        ResultSection section;
        std::size_t offset;
        std::size_t size;
    };
    std::array<Place, kResultSectionCount> places{};
    std::size_t count = 0;        // sections present
    std::size_t sectionBytes = 0; // their bytes together

    // The whole block: the caller's block has the 16 counter bytes in front.
    std::size_t size(bool withCounters) const {
        return sectionBytes + (withCounters ? sizeof(CountersSection) : 0);
    }
    bool has(ResultSection section) const;
};

// The layout from the entry alone, the same on both sides of a session.
ResultLayout resultLayout(const ScenarioEntry& entry);

// The largest result block there is (every kind enabled, counters in front).
inline constexpr std::size_t kLargestResultBlock =
    16 + 160 + 12 + 32 + 1032 + 16 + 460 + 464 + 20 + 4;

// Writes the result block into out: the counters when given (the caller's block), then
// the present sections from the records and the throughput. Returns its length, or 0
// when out is too small.
std::size_t buildResultBlock(const ResultLayout& layout, const CountersSection* counters,
                             const LiveResults& records, float throughput, std::span<uint8_t> out);

// Reads a result block of exactly layout.size(counters != nullptr) bytes: the counters
// when asked for, then the present sections into the records and the throughput.
// Records of kinds the block does not hold are left as they are. False (nothing
// changed) when the block has another length.
bool unpackResultBlock(const ResultLayout& layout, std::span<const uint8_t> block,
                       CountersSection* counters, LiveResults& records, float& throughput);

} // namespace vetlina
