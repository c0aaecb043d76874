// Fuzz target: the blocks of the far complex. A greeting, busy or identity block of any
// bytes gives texts within their fields and safe for the documents; a result block is
// unpacked by the layout of a scenario entry whose settings come from the input: one of
// another length changes nothing, one of the layout's length unpacks and packs again to
// the same bytes.
//
// Input: one byte of block kind and options, two bytes of a settings length, that many
// bytes laid over the settings of a new entry, then the block.
#include "modem/SessionBlocks.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using namespace vetlina;

void checkFarText(const std::string& text, std::size_t field) {
    if (text.size() >= field)
        std::abort();
    const std::string safe = farText(text);
    if (safe.size() != text.size())
        std::abort();
    for (char c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127 || c == '<' || c == '>' || c == '&')
            std::abort();
    }
}

template <class Block>
Block blockFrom(const uint8_t* data, std::size_t size) {
    Block block{};
    std::memcpy(static_cast<void*>(&block), data, std::min(size, sizeof(Block)));
    return block;
}

void checkResultBlock(uint8_t options, const uint8_t* settings, std::size_t settingsSize,
                      const uint8_t* data, std::size_t size) {
    ScenarioEntry entry = defaultEntry(45000.0);
    std::memcpy(bytesOf(entry) + kSettingsOffset, settings, settingsSize);
    const ResultLayout layout = resultLayout(entry);
    const bool withCounters = (options & 2) != 0;
    const std::size_t length = layout.size(withCounters);
    if (length > kLargestResultBlock || layout.count > kResultSectionCount)
        std::abort();
    std::vector<uint8_t> block(data, data + size);
    if (options & 4)
        block.resize(length); // the layout's length, so that it unpacks
    LiveResults records{};
    std::memset(static_cast<void*>(&records), 0x3C, sizeof records);
    const LiveResults before = records;
    CountersSection counters{};
    float throughput = -999.0f;
    const bool unpacked =
        unpackResultBlock(layout, block, withCounters ? &counters : nullptr, records, throughput);
    if (unpacked != (block.size() == length))
        std::abort();
    if (!unpacked) {
        if (std::memcmp(&records, &before, sizeof records) != 0 || throughput != -999.0f)
            std::abort();
        return;
    }
    std::vector<uint8_t> again(kLargestResultBlock + 1);
    const std::size_t built =
        buildResultBlock(layout, withCounters ? &counters : nullptr, records, throughput, again);
    if (built != length || (length > 0 && std::memcmp(again.data(), block.data(), length) != 0))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t options = data[0];
    const std::size_t settingsSize = std::min<std::size_t>(data[1] | (data[2] << 8), kSettingsSize);
    data += 3;
    size -= 3;
    const std::size_t taken = std::min(settingsSize, size);
    const uint8_t* settings = data;
    data += taken;
    size -= taken;

    switch ((options >> 4) % 4) {
    case 0: {
        const auto g = blockFrom<GreetingBlock>(data, size);
        checkFarText(blockText(g.ident), sizeof g.ident + 1);
        checkFarText(blockText(g.wanted), sizeof g.wanted + 1);
        (void)formatDateTime(g.seriesTime.get());
        (void)formatStamp(g.seriesTime.get());
        break;
    }
    case 1: {
        const auto b = blockFrom<BusyBlock>(data, size);
        (void)b.sessionsDone.get();
        (void)b.numTotal.get();
        break;
    }
    case 2: {
        const auto id = blockFrom<IdentityBlock>(data, size);
        checkFarText(blockText(id.user), sizeof id.user + 1);
        checkFarText(blockText(id.city), sizeof id.city + 1);
        checkFarText(blockText(id.ats), sizeof id.ats + 1);
        break;
    }
    default:
        checkResultBlock(options, settings, taken, data, size);
        break;
    }
    return 0;
}
