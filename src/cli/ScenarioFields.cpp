#include "cli/ScenarioFields.h"

#include "scenario/ScenarioEntry.h"

#include <cstdint>

namespace vetlina {
namespace {

template <typename T>
constexpr FieldKind kindOf() {
    if constexpr (std::is_same_v<T, uint8_t>)
        return FieldKind::U8;
    else if constexpr (std::is_same_v<T, Le<int32_t>>)
        return FieldKind::I32;
    else if constexpr (std::is_same_v<T, Le<float>>)
        return FieldKind::F32;
    else if constexpr (std::is_same_v<T, Le<double>>)
        return FieldKind::F64;
    else
        static_assert(sizeof(T) == 0, "no JSON kind for this member type");
}

class Builder {
public:
    explicit Builder(std::vector<FieldRow>& fields) : fields_(fields) {}

    // A member of the record; arrays of numbers become JSON arrays.
    template <typename Member>
    void add(std::vector<std::string> path, const Member& member, bool dateTime = false) {
        const std::size_t offset = offsetOf(&member);
        if constexpr (std::is_array_v<Member>) {
            using Element = std::remove_extent_t<Member>;
            if constexpr (std::is_same_v<Element, char>)
                fields_.push_back(
                    {std::move(path), offset, FieldKind::Text, sizeof(Member), 1, false});
            else
                fields_.push_back({std::move(path), offset, kindOf<Element>(), sizeof(Element),
                                   std::extent_v<Member>, false});
        } else {
            fields_.push_back(
                {std::move(path), offset, kindOf<Member>(), sizeof(Member), 1, dateTime});
        }
    }

    // One quantity of the statistics: {"last", "sum", "sumSq"}.
    void addItem(const std::vector<std::string>& at, const StatRef& ref) {
        add(with(at, "last"), ref.last);
        add(with(at, "sum"), ref.sum);
        add(with(at, "sumSq"), ref.sumSq);
    }

    template <typename Block>
    void addBlock(const std::vector<std::string>& at, Block& block) {
        for (int row = 0; row < Block::kItems; ++row)
            addItem(with(at, Block::kItemNames[row]), block.item(row));
    }

    static std::vector<std::string> with(std::vector<std::string> path, const std::string& name) {
        path.push_back(name);
        return path;
    }

    ScenarioEntry probe{};

private:
    std::size_t offsetOf(const void* member) const {
        return static_cast<std::size_t>(static_cast<const char*>(member) -
                                        reinterpret_cast<const char*>(&probe));
    }

    std::vector<FieldRow>& fields_;
};

std::vector<FieldRow> buildFields() {
    std::vector<FieldRow> fields;
    Builder b(fields);
    ScenarioEntry& e = b.probe;

    b.add({"Id"}, e.Id);
    b.add({"Number"}, e.Number);
    b.add({"Finished"}, e.Finished);
    b.add({"SeriesTime"}, e.SeriesTime, true);
    b.add({"SessionsDone"}, e.SessionsDone);
    b.add({"RunCounters"}, e.RunCounters);
    b.add({"Calls"}, e.Calls);
    b.add({"FailNUS"}, e.FailNUS);
    b.add({"FailNUV"}, e.FailNUV);
    b.add({"FailOtb"}, e.FailOtb);
    b.add({"EvalCounterA"}, e.EvalCounterA);
    b.add({"EvalCounterB"}, e.EvalCounterB);

    b.add({"ComplexType"}, e.ComplexType);
    b.add({"AT"}, e.AT);
    b.add({"DiscrAT"}, e.DiscrAT);
    b.add({"NumMin"}, e.NumMin);
    b.add({"NumTotal"}, e.NumTotal);
    b.add({"Busy"}, e.Busy);
    b.add({"Carr"}, e.Carr);
    b.add({"Break"}, e.Break);
    b.add({"BegTime"}, e.BegTime, true);
    b.add({"EndTime"}, e.EndTime, true);
    b.add({"NextTime"}, e.NextTime, true);
    b.add({"LocalPaus"}, e.LocalPaus);
    b.add({"LocalCall"}, e.LocalCall);
    b.add({"TrunkPaus"}, e.TrunkPaus);
    b.add({"TrunkCall"}, e.TrunkCall);
    b.add({"Trunk8W"}, e.Trunk8W);
    b.add({"Analog"}, e.Analog);

#define NORM(key)                                                                                  \
    b.add({"norms", #key, "on"}, e.key##On);                                                       \
    b.add({"norms", #key, "value"}, e.key)
    NORM(sinSNR);
    NORM(sinSNRps);
    NORM(sinJitPh);
    NORM(sinJitAm);
    NORM(sinShift);
    NORM(sinPulPrc);
    NORM(sinPulCnt);
    NORM(sinPulRel);
    NORM(sinIntPrc);
    NORM(sinIntCnt);
    NORM(sinIntRel);
    NORM(sinSumPrc);
    NORM(sinSumCnt);
    NORM(sinSumRel);
    NORM(sinHitPh);
    NORM(sinHitAm);
    NORM(sinMod);
    NORM(sinAtt);
    NORM(sinDis2);
    NORM(sinDis3);
    NORM(sinDis23);
    NORM(o132SNR);
    NORM(o132SNRps);
    NORM(o132JitPh);
    NORM(o132JitAm);
    NORM(o132Shift);
    NORM(o131SNR);
    NORM(blkNoise);
    NORM(blkNoisePs);
    NORM(blkNoiseSel);
    NORM(echoTalk);
    NORM(echoList);
    NORM(impImped);
    b.add({"norms", "ImpedFreq", "value"}, e.ImpedFreq);
    NORM(impCapac);
    b.add({"norms", "CapacFreq", "value"}, e.CapacFreq);
    b.add({"norms", "mttAtt", "on"}, e.mttAttOn);
    b.add({"norms", "mttDel", "on"}, e.mttDelOn);
    NORM(o42Dis2);
    NORM(o42Dis3);
    NORM(o42Dis23);
    NORM(disPass);
#undef NORM
    b.add({"Att"}, e.Att);
    b.add({"AttF"}, e.AttF);
    b.add({"AttNotch"}, e.AttNotch);
    b.add({"Del"}, e.Del);
    b.add({"DelF"}, e.DelF);
    b.add({"DelNotch"}, e.DelNotch);

#define GENERATOR(name)                                                                            \
    b.add({#name "Time"}, e.name##Time);                                                           \
    b.add({#name "Lev"}, e.name##Lev);                                                             \
    b.add({#name "LevR"}, e.name##LevR)
    GENERATOR(Echo);
    b.add({"EchoFreq"}, e.EchoFreq);
    b.add({"EchoT1"}, e.EchoT1);
    b.add({"EchoT2"}, e.EchoT2);
    b.add({"EchoT"}, e.EchoT);
    GENERATOR(Sin);
    b.add({"SinFreq"}, e.SinFreq);
    GENERATOR(O132);
    b.add({"O132Freq"}, e.O132Freq);
    GENERATOR(O131);
    GENERATOR(MTTS);
    GENERATOR(O42);
    GENERATOR(Imp);
#undef GENERATOR
    b.add({"BlkTime"}, e.BlkTime);
    b.add({"DiscrTime"}, e.DiscrTime);

    b.add({"SincTime"}, e.SincTime);
    b.add({"DeadTime"}, e.DeadTime);
    b.add({"MaxLev"}, e.MaxLev);
    b.add({"MinLev"}, e.MinLev);
    b.add({"MinSNR"}, e.MinSNR);
    b.add({"ThHitPh"}, e.ThHitPh);
    b.add({"ThHitAm"}, e.ThHitAm);
    b.add({"ThAbs"}, e.ThAbs);
    b.add({"ThAbsPul"}, e.ThAbsPul);
    b.add({"ThAbsInt"}, e.ThAbsInt);
    b.add({"ThRelPul"}, e.ThRelPul);
    b.add({"ThRelInt"}, e.ThRelInt);

    // Statistics by direction and group, the quantities named by the data-file keys.
    struct Direction {
        const char* name;
        SineStats& sine;
        O132Stats& o132;
        O131Stats& o131;
        NoiseStats& noise;
        EchoStats& echo;
        ImpedanceStats& impedance;
        MultiFrequencyStats& mtt;
        O42Stats& o42;
        ThroughputStats& throughput;
    };
    const Direction directions[] = {
        {"A", e.sineA, e.o132A, e.o131A, e.noiseA, e.echoA, e.impedanceA, e.mttA, e.o42A,
         e.throughputA},
        {"B", e.sineB, e.o132B, e.o131B, e.noiseB, e.echoB, e.impedanceB, e.mttB, e.o42B,
         e.throughputB},
    };
    for (const Direction& d : directions) {
        const std::vector<std::string> at = {"Statistics", d.name};
        auto group = [&](const char* name) { return Builder::with(at, name); };
        b.addBlock(group("sine"), d.sine);
        b.add(Builder::with(group("sine"), "count"), d.sine.count);
        b.addBlock(group("o132"), d.o132);
        b.add(Builder::with(group("o132"), "count"), d.o132.count);
        b.addBlock(group("o131"), d.o131);
        b.add(Builder::with(group("o131"), "count"), d.o131.count);
        b.addBlock(group("noise"), d.noise);
        b.add(Builder::with(group("noise"), "count"), d.noise.count);
        b.addBlock(group("echo"), d.echo);
        b.add(Builder::with(group("echo"), "echoTalkCount"), d.echo.echoTalkCount);
        b.add(Builder::with(group("echo"), "echoListCount"), d.echo.echoListCount);
        b.addBlock(group("impedance"), d.impedance);
        b.add(Builder::with(group("impedance"), "count"), d.impedance.count);

        const auto mtt = group("multiFrequency");
        b.addItem(Builder::with(mtt, "level"), d.mtt.level());
        b.add(Builder::with(Builder::with(mtt, "mttAtt"), "last"), d.mtt.mttAttLast);
        b.add(Builder::with(Builder::with(mtt, "mttAtt"), "sum"), d.mtt.mttAttSum);
        b.add(Builder::with(Builder::with(mtt, "mttAtt"), "sumSq"), d.mtt.mttAttSumSq);
        b.add(Builder::with(Builder::with(mtt, "mttDel"), "last"), d.mtt.mttDelLast);
        b.add(Builder::with(Builder::with(mtt, "mttDel"), "sum"), d.mtt.mttDelSum);
        b.add(Builder::with(Builder::with(mtt, "mttDel"), "sumSq"), d.mtt.mttDelSumSq);
        b.add(Builder::with(mtt, "count"), d.mtt.count);

        b.addBlock(group("o42"), d.o42);
        b.add(Builder::with(group("o42"), "count"), d.o42.count);
        b.addBlock(group("throughput"), d.throughput);
        b.add(Builder::with(group("throughput"), "count"), d.throughput.count);
    }
    return fields;
}

} // namespace

std::string FieldRow::name() const {
    std::string joined;
    for (const std::string& part : path) {
        if (!joined.empty())
            joined += '.';
        joined += part;
    }
    return joined;
}

const std::vector<FieldRow>& scenarioFields() {
    static const std::vector<FieldRow> fields = buildFields();
    return fields;
}

const std::vector<FieldRow>& templateFields() {
    static const std::vector<FieldRow> fields = [] {
        std::vector<FieldRow> settings;
        for (const FieldRow& f : scenarioFields())
            if (f.offset >= kSettingsOffset)
                settings.push_back(f);
        return settings;
    }();
    return fields;
}

} // namespace vetlina
