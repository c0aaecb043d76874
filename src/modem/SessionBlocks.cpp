#include "modem/SessionBlocks.h"

#include "reports/ResultRecords.h"

#include <cstring>

namespace vetlina {

std::string farText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127 || c == '<' || c == '>' || c == '&')
            c = '?';
    }
    return out;
}

GreetingBlock makeGreeting(bool resume, std::string_view ownIdent, std::string_view wanted,
                           double seriesTime, int32_t sessionsDone) {
    GreetingBlock g{};
    g.version = kSessionVersion;
    g.resume = resume ? 1 : 0;
    putBlockText(g.ident, ownIdent);
    putBlockText(g.wanted, wanted);
    g.seriesTime = seriesTime;
    g.sessionsDone = sessionsDone;
    return g;
}

BusyBlock makeBusy(int32_t sessionsDone, int32_t numTotal) {
    BusyBlock b{};
    b.sessionsDone = sessionsDone;
    b.numTotal = numTotal;
    return b;
}

IdentityBlock makeIdentity(std::string_view user, std::string_view city, std::string_view ats) {
    IdentityBlock id{};
    putBlockText(id.user, user);
    putBlockText(id.city, city);
    putBlockText(id.ats, ats);
    return id;
}

CountersSection countersOf(const ScenarioEntry& entry) {
    CountersSection c{};
    c.calls = entry.Calls.get();
    c.failNUS = entry.FailNUS.get();
    c.failNUV = entry.FailNUV.get();
    c.failOtb = entry.FailOtb.get();
    return c;
}

void takeCounters(const CountersSection& counters, ScenarioEntry& entry) {
    entry.Calls = counters.calls.get();
    entry.FailNUS = counters.failNUS.get();
    entry.FailNUV = counters.failNUV.get();
    entry.FailOtb = counters.failOtb.get();
}

// ---- The result block --------------------------------------------------------------

std::size_t sectionSize(ResultSection section) {
    switch (section) {
    case ResultSection::Sine:
        return sizeof(SineResult);
    case ResultSection::O131:
        return sizeof(O131Result);
    case ResultSection::O132:
        return sizeof(O132Result);
    case ResultSection::Noise:
        return sizeof(NoiseResult);
    case ResultSection::Echo:
        return 2 * sizeof(EchoResult);
    case ResultSection::Impedance:
        return sizeof(ImpedanceResult);
    case ResultSection::Mtts:
        return sizeof(MttsResult);
    case ResultSection::O42:
        return sizeof(O42Result);
    case ResultSection::Throughput:
        return sizeof(float);
    }
    return 0;
}

static_assert(kLargestResultBlock == 2216);

bool ResultLayout::has(ResultSection section) const {
    for (std::size_t i = 0; i < count; ++i)
        if (places[i].section == section)
            return true;
    return false;
}

ResultLayout resultLayout(const ScenarioEntry& entry) {
    const struct {
        ResultSection section;
        bool present;
    } order[kResultSectionCount] = {
        {ResultSection::Sine, performsSine(entry)},
        {ResultSection::O131, performsO131(entry)},
        {ResultSection::O132, performsO132(entry)},
        {ResultSection::Noise, performsNoise(entry)},
        {ResultSection::Echo, performsEcho(entry)},
        {ResultSection::Impedance, performsImpedance(entry)},
        {ResultSection::Mtts, performsMultiFrequency(entry)},
        {ResultSection::O42, performsO42(entry)},
        {ResultSection::Throughput, performsThroughput(entry)},
    };
    ResultLayout layout;
    for (const auto& s : order) {
        if (!s.present)
            continue;
        const std::size_t size = sectionSize(s.section);
        layout.places[layout.count++] = {s.section, layout.sectionBytes, size};
        layout.sectionBytes += size;
    }
    return layout;
}

namespace {

void writeSection(ResultSection section, const LiveResults& r, float throughput, uint8_t* out) {
    switch (section) {
    case ResultSection::Sine:
        toBytes(r.sine, out);
        return;
    case ResultSection::O131:
        toBytes(r.o131, out);
        return;
    case ResultSection::O132:
        toBytes(r.o132, out);
        return;
    case ResultSection::Noise:
        toBytes(r.noise, out);
        return;
    case ResultSection::Echo:
        toBytes(r.talkerEcho, out);
        toBytes(r.listenerEcho, out + sizeof(EchoResult));
        return;
    case ResultSection::Impedance:
        toBytes(r.impedance, out);
        return;
    case ResultSection::Mtts:
        toBytes(r.mtts, out);
        return;
    case ResultSection::O42:
        toBytes(r.o42, out);
        return;
    case ResultSection::Throughput:
        storeLe<float>(out, throughput);
        return;
    }
}

void readSection(ResultSection section, const uint8_t* in, LiveResults& r, float& throughput) {
    switch (section) {
    case ResultSection::Sine:
        fromBytes(in, r.sine);
        return;
    case ResultSection::O131:
        fromBytes(in, r.o131);
        return;
    case ResultSection::O132:
        fromBytes(in, r.o132);
        return;
    case ResultSection::Noise:
        fromBytes(in, r.noise);
        return;
    case ResultSection::Echo:
        fromBytes(in, r.talkerEcho);
        fromBytes(in + sizeof(EchoResult), r.listenerEcho);
        return;
    case ResultSection::Impedance:
        fromBytes(in, r.impedance);
        return;
    case ResultSection::Mtts:
        fromBytes(in, r.mtts);
        return;
    case ResultSection::O42:
        fromBytes(in, r.o42);
        return;
    case ResultSection::Throughput:
        throughput = loadLe<float>(in);
        return;
    }
}

} // namespace

std::size_t buildResultBlock(const ResultLayout& layout, const CountersSection* counters,
                             const LiveResults& records, float throughput, std::span<uint8_t> out) {
    const std::size_t size = layout.size(counters != nullptr);
    if (out.size() < size)
        return 0;
    uint8_t* at = out.data();
    if (counters != nullptr) {
        std::memcpy(at, counters, sizeof(CountersSection));
        at += sizeof(CountersSection);
    }
    for (std::size_t i = 0; i < layout.count; ++i)
        writeSection(layout.places[i].section, records, throughput, at + layout.places[i].offset);
    return size;
}

bool unpackResultBlock(const ResultLayout& layout, std::span<const uint8_t> block,
                       CountersSection* counters, LiveResults& records, float& throughput) {
    if (block.size() != layout.size(counters != nullptr))
        return false;
    const uint8_t* at = block.data();
    if (counters != nullptr) {
        std::memcpy(counters, at, sizeof(CountersSection));
        at += sizeof(CountersSection);
    }
    for (std::size_t i = 0; i < layout.count; ++i)
        readSection(layout.places[i].section, at + layout.places[i].offset, records, throughput);
    return true;
}

} // namespace vetlina
