// The files of DATA as written: byte-exact data and norms files of a scripted entry
// (the expected bytes composed here from the item table), their numbering, the gates and
// the cut harmonics, the failures, the cycle-end mark and the cycle statistics.
#include "reports/DataFiles.h"

#include "EntryKinds.h"
#include "FileSizeLimit.h"
#include "IdleDevice.h"
#include "TempFolder.h"
#include "TestUi.h"
#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "reports/CycleStatistics.h"
#include "reports/DataFileFormat.h"
#include "reports/DataFileReader.h"
#include "reports/LiveResults.h"
#include "ui/RunMessages.h"

#include <cstring>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

// Bytes as the item table describes them, composed independently of the writers.
struct Bytes {
    std::string s;
    Bytes& c(char v) {
        s.push_back(v);
        return *this;
    }
    template <typename T>
    Bytes& le(T v) {
        char b[sizeof(T)];
        storeLe<T>(b, v);
        s.append(b, sizeof b);
        return *this;
    }
    Bytes& f32(float v) { return le<float>(v); }
    Bytes& f64(double v) { return le<double>(v); }
    Bytes& i32(int32_t v) { return le<int32_t>(v); }
    Bytes& ident(std::string_view id) {
        std::string field(id);
        field.resize(8, '\0');
        s += field;
        return *this;
    }
    Bytes& key(std::string_view k) {
        s.append(k);
        s.push_back('\0');
        return *this;
    }
    Bytes& item(std::string_view k, float v) { return key(k).f32(v); }
    Bytes& list(std::string_view k, std::initializer_list<std::pair<float, float>> points) {
        key(k).i32(static_cast<int32_t>(points.size()));
        for (auto [value, hz] : points)
            f32(value).f32(hz);
        return *this;
    }
};

// A worker thread whose operations the test calls; it has no port.
class TestThread : public test::IdleDevice {
public:
    explicit TestThread(UiBridge& ui) : IdleDevice(ui, nullptr) {}
};

constexpr double kCycleStart = 45000.25;

// A complex at the far end; sine at 1020 Hz, O.131, noise (no block counted), impedance,
// multi-frequency with three attenuation and two group-delay points, throughput.
ScenarioEntry scriptedEntry() {
    ScenarioEntry e = defaultEntry(45000.0);
    setText(e.Id, "ANSWER02");
    test::setEveryKindTime(e, 0.0);
    // No parameter selected and every norm 0 until chosen below.
    std::memset(bytesOf(e) + offsetof(ScenarioEntry, sinSNROn), 0,
                offsetof(ScenarioEntry, EchoTime) - offsetof(ScenarioEntry, sinSNROn));
    e.SeriesTime = kCycleStart;
    e.SessionsDone = 2;
    e.Finished = 0;
    e.Calls = 4;
    e.FailNUS = 1;
    e.FailNUV = 1;
    e.FailOtb = 0;
    e.ComplexType = kFullComplexType;
    e.Analog = 1;
    e.Busy = 10.0f;
    e.Carr = kNoNorm;
    e.Break = 5.0f;
    // Sine: four items selected; sinMod without a norm.
    e.SinTime = 30.0;
    e.SinFreq = 1020;
    e.sinSNROn = 1;
    e.sinSNR = 30.0f;
    e.sinPulCntOn = 1;
    e.sinPulCnt = 5;
    e.sinPulRelOn = 1;
    e.sinPulRel = -5;
    e.sinModOn = 1;
    e.sinMod = kNoNorm;
    e.sinDis2On = e.sinDis3On = e.sinDis23On = 1;
    e.sinDis2 = 2.0f;
    e.sinDis3 = 3.0f;
    e.sinDis23 = 4.0f;
    // O.132 selected but not timed; echo timed but nothing selected.
    e.o132SNROn = 1;
    e.o132SNR = kNoNorm;
    e.EchoTime = 30.0;
    e.echoTalkOn = e.echoListOn = 0;
    e.O131Time = 30.0;
    e.o131SNROn = 1;
    e.o131SNR = 25.0f;
    e.BlkTime = 30.0;
    e.blkNoiseOn = 1;
    e.blkNoise = -40.0f;
    e.blkNoisePsOn = 0;
    e.blkNoiseSelOn = 1;
    e.blkNoiseSel = kNoNorm;
    e.ImpTime = 30.0;
    e.impImpedOn = e.impCapacOn = 1;
    e.impImped = 50;
    e.ImpedFreq = 1050.0f;
    e.impCapac = 600;
    e.CapacFreq = 1000.0f;
    e.MTTSTime = 30.0;
    e.MTTSLev = -3.0f;
    e.MTTSLevR = -7.0f;
    e.mttAttOn = e.mttDelOn = 1;
    for (int i = 0; i < kMttPoints; ++i) {
        e.AttF[i] = 0.0f;
        e.DelF[i] = 0.0f;
        e.Att[i] = kNoNorm;
        e.Del[i] = -999;
    }
    e.AttF[0] = 500.0f;
    e.Att[0] = 1.5f;
    e.AttF[2] = 1000.0f;
    e.Att[2] = 2.5f;
    e.AttF[5] = 1050.0f;
    e.Att[5] = 3.5f;
    e.DelF[1] = 1000.0f;
    e.Del[1] = 300;
    e.DelF[3] = 2000.0f;
    e.Del[3] = 600;
    e.AttNotch = 0.0f;
    e.DelNotch = 1000.0f;
    e.DiscrTime = 30.0;
    e.disPassOn = 1;
    e.disPass = 80.0f;
    return e;
}

LiveResults scriptedResults() {
    LiveResults r{};
    r.sine.counter = 5;
    r.sine.snr = 40.5f;
    r.sine.pulCnt = 3;
    r.sine.pulRel = 0.0625f;
    for (int j = 0; j < 17; ++j)
        r.sine.mod[j] = static_cast<float>(j % 5);
    r.sine.mod[3] = 12.0f;
    r.sine.dis2 = 0.5f;
    r.sine.dis3 = 0.25f;
    r.sine.dis23 = 0.75f;
    r.o131.counter = 2;
    r.o131.snr = 35.0f;
    r.noise.counter = 0;
    r.noise.noise = -50.0f;
    for (int i = 0; i < 38; ++i) {
        const float hz = 100.0f * (i + 1);
        r.impedance.freq[i] = hz;
        r.impedance.imped[i] = 2.0f * i - 20.0f;
        r.impedance.capac[i] = 0.0625f * i;
        r.mtts.freq[i] = hz;
        r.mtts.att[i] = 0.5f * i;
        r.mtts.del[i] = 0.25f * i;
    }
    r.impedance.counter = 4;
    r.mtts.counter = 3;
    return r;
}

const CycleParties kCaller{true, "CALLER01", "ANSWER02"};

class DataFilesTest : public ::testing::Test {
protected:
    std::vector<std::string> dataNames() { return listFiles("DATA", "*"); }
    std::string read(const std::string& path) { return readWholeFile(path).value_or(""); }

    test::TempFolder folder;
    test::CurrentDirectory here{folder.path()};
    test::TestUi ui;
    TestThread thread{ui.bridge};
    std::string dataFileName, previousDataFileName;
};

TEST_F(DataFilesTest, DataFileOfEachDirectionByteForByte) {
    // The caller's own direction (it measured: block B, generator level LevR) and the far
    // side's (roles reversed, level Lev: attenuation 4 dB higher).
    struct Case {
        bool localMeter;
        char callerRole, answererRole;
        float levelShift;
    } cases[] = {{true, 'M', 'G', 0.0f}, {false, 'G', 'M', 4.0f}};
    for (const Case& c : cases) {
        ScenarioEntry e = scriptedEntry();
        const LiveResults r = scriptedResults();
        const DateTime before = now();
        ASSERT_TRUE(writeDataFile(thread, e, kCaller, MeasuredDirection{r, 87.5f, c.localMeter},
                                  dataFileName, previousDataFileName));
        const DateTime after = now();
        const std::string bytes = read(dataFileName);
        ASSERT_GE(bytes.size(), 41u);
        const double written = loadLe<double>(bytes.data() + 10);
        EXPECT_TRUE(written >= before && written <= after);

        const float s = c.levelShift;
        Bytes want;
        want.c('D').c(1).f64(kCycleStart).f64(written).c(c.callerRole).ident("CALLER01");
        want.c(c.answererRole).ident("ANSWER02").i32(3).c(0);
        want.item("Busy", 25.0f).item("Carr", 25.0f).item("Break", 0.0f);
        want.item("sinSNR", 40.5f).item("sinPulCnt", 3.0f).item("sinPulRel", 0.0625f);
        want.item("sinMod", 12.0f).item("sinDis2", 0.5f).item("sinDis3", 0.25f);
        want.item("sinDis23", 0.75f);
        want.item("o131SNR", 35.0f);
        want.item("blkNoise", -999.0f).item("blkNoiseSel", -999.0f);
        want.item("impImped", -1.0f).item("impCapac", 562.5f);
        want.list("mttAtt", {{-5.0f + s, 500.0f}, {-2.5f + s, 1000.0f}, {-2.25f + s, 1050.0f}});
        want.list("mttDel", {{0.0f, 1000.0f}, {2500.0f, 2000.0f}});
        want.item("disPass", 87.5f).key("end");
        EXPECT_EQ(bytes, want.s) << "localMeter " << c.localMeter;
    }
    EXPECT_EQ(previousDataFileName, "DATA/zmk00000.dat");
    EXPECT_EQ(dataFileName, "DATA/zmk00001.dat");
}

TEST_F(DataFilesTest, NormsFileByteForByteAndUnplannedKindsZeroedInTheEntry) {
    ScenarioEntry e = scriptedEntry();
    ASSERT_TRUE(writeNormsFile(thread, e, CycleParties{false, "CALLER01", "ANSWER02"}));
    // Echo was timed with nothing selected, so it is not planned: 0 in the entry too.
    EXPECT_EQ(e.EchoTime.get(), 0.0);
    EXPECT_EQ(e.SinTime.get(), 30.0);

    Bytes want;
    want.c('S').c(0).f64(kCycleStart).ident("CALLER01").ident("ANSWER02");
    want.f64(0.0).f32(e.EchoLev).f32(e.EchoLevR).i32(e.EchoFreq).i32(e.EchoT1).i32(e.EchoT2);
    want.i32(e.EchoT);
    want.f64(30.0).f32(e.SinLev).f32(e.SinLevR).i32(1020);
    want.f64(0.0).f32(e.O132Lev).f32(e.O132LevR).i32(e.O132Freq);
    want.f64(30.0).f32(e.O131Lev).f32(e.O131LevR);
    want.f64(30.0).f32(-3.0f).f32(-7.0f);
    want.f64(0.0).f32(e.O42Lev).f32(e.O42LevR);
    want.f64(30.0).f32(e.ImpLev).f32(e.ImpLevR);
    want.f64(30.0);
    want.f64(30.0).i32(e.SincTime).i32(e.DeadTime).i32(e.MaxLev).i32(e.MinLev).i32(e.MinSNR);
    want.f32(e.ThHitPh).f32(e.ThHitAm).c(static_cast<char>(e.ThAbs));
    want.f32(e.ThAbsPul).f32(e.ThAbsInt).f32(e.ThRelPul).f32(e.ThRelInt);
    ASSERT_EQ(want.s.size(), 223u);
    want.item("Busy", 10.0f).item("Carr", -999.0f).item("Break", 5.0f);
    want.item("sinSNR", 30.0f).item("sinPulCnt", 5.0f).item("sinPulRel", 1e-5f);
    want.item("sinDis2", 2.0f).item("sinDis3", 3.0f).item("sinDis23", 4.0f);
    want.item("o131SNR", 25.0f).item("blkNoise", -40.0f);
    want.item("impImped", 50.0f).item("ImpedFreq", 1050.0f);
    want.item("impCapac", 600.0f).item("CapacFreq", 1000.0f);
    want.list("mttAtt", {{1.5f, 500.0f}, {2.5f, 1000.0f}, {3.5f, 1050.0f}}).item("AttNotch", 0);
    want.list("mttDel", {{300.0f, 1000.0f}, {600.0f, 2000.0f}}).item("DelNotch", 1000.0f);
    want.item("disPass", 80.0f).key("end");
    EXPECT_EQ(read("DATA/zmk00000.dat"), want.s);
}

TEST_F(DataFilesTest, NormsFileOfAGeneratorCarriesItsFixedProgramme) {
    ScenarioEntry e = scriptedEntry();
    e.ComplexType = kGeneratorComplexType;
    e.SinTime = 5.0;
    e.EchoTime = 7.0;
    ASSERT_TRUE(writeNormsFile(thread, e, kCaller));
    EXPECT_EQ(e.EchoTime.get(), 7.0); // the entry keeps its own plan
    DataFileContents c;
    DataFileError error;
    ASSERT_TRUE(readDataFile(read("DATA/zmk00000.dat"), c, error)) << error.describe();
    const MeasurementPlan& p = c.plan;
    EXPECT_EQ(p.EditEchoTime.get(), 60.0);
    EXPECT_EQ(p.EditEchoLev.get(), -5.0f);
    EXPECT_EQ(p.EditEchoFreq.get(), 1600);
    EXPECT_EQ(p.EditEchoT1.get(), 5000);
    EXPECT_EQ(p.EditEchoT.get(), 20);
    EXPECT_EQ(p.EditSinTime.get(), 60.0);
    EXPECT_EQ(p.EditSinFreq.get(), 1800);
    EXPECT_EQ(p.EditO132Time.get(), 20.0);
    EXPECT_EQ(p.EditO132Freq.get(), 1020);
    EXPECT_EQ(p.EditMTTSTime.get(), 20.0);
    EXPECT_EQ(p.EditMTTSLevR.get(), -10.0f);
    for (double t : {p.EditO131Time.get(), p.EditO42Time.get(), p.EditImpTime.get(),
                     p.EditBlkTime.get(), p.EditDiscrTime.get()})
        EXPECT_EQ(t, 0.0);
    EXPECT_EQ(p.EditO131Lev.get(), e.O131Lev.get());
    EXPECT_EQ(p.EditSincTime.get(), e.SincTime.get());
    // Only the groups a generator delivers: none of O.131, noise, impedance, throughput.
    std::vector<std::string> keys;
    for (const auto& item : c.items)
        keys.push_back(item.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"Busy", "Carr", "Break", "sinSNR", "sinPulCnt",
                                              "sinPulRel", "sinDis2", "sinDis3", "sinDis23",
                                              "mttAtt", "AttNotch", "mttDel", "DelNotch"}));
}

TEST_F(DataFilesTest, HarmonicsAboveTheBandAreMissing) {
    const LiveResults r = scriptedResults();
    struct Case {
        uint8_t complexType;
        int32_t sinFreq;
        bool dis2, dis3, dis23;
    } cases[] = {{0, 1800, false, false, false},
                 {0, 1020, true, true, true},
                 {0, 1700, true, false, true},
                 {1, 1020, false, false, false}}; // a generator sends 1800 Hz
    for (const Case& c : cases) {
        ScenarioEntry e = scriptedEntry();
        e.ComplexType = c.complexType;
        e.SinFreq = c.sinFreq;
        const DirectionValues v = directionValues(e, r, 0.0f, true);
        EXPECT_EQ(v.sine.value[SineStats::sinDis2] != -999.0f, c.dis2) << c.sinFreq;
        EXPECT_EQ(v.sine.value[SineStats::sinDis3] != -999.0f, c.dis3) << c.sinFreq;
        EXPECT_EQ(v.sine.value[SineStats::sinDis23] != -999.0f, c.dis23) << c.sinFreq;
    }
}

TEST_F(DataFilesTest, AGroupWithoutBlocksWritesMissingValuesAndAnEmptyList) {
    ScenarioEntry e = scriptedEntry();
    LiveResults r = scriptedResults();
    r.mtts.counter = 0;
    r.sine.counter = -1;
    ASSERT_TRUE(writeDataFile(thread, e, kCaller, MeasuredDirection{r, -999.0f, true}, dataFileName,
                              previousDataFileName));
    DataFileContents c;
    DataFileError error;
    ASSERT_TRUE(readDataFile(read(dataFileName), c, error)) << error.describe();
    for (const auto& item : c.items) {
        if (item.key.rfind("sin", 0) == 0) {
            EXPECT_EQ(item.value, -999.0f) << item.key;
        }
        if (item.isList) {
            EXPECT_TRUE(item.points.empty()) << item.key;
        }
        if (item.key == "disPass") { // as delivered
            EXPECT_EQ(item.value, -999.0f);
        }
    }
    // Nothing of the sine and multi-frequency blocks was counted.
    EXPECT_EQ(e.sineB.count.get(), 0);
    EXPECT_EQ(e.mttB.count.get(), 0);
    EXPECT_EQ(e.sineB.sinSNRLast.get(), -999.0f);
}

TEST_F(DataFilesTest, NumbersFollowTheLargestWholeNumberAndNeverOverwrite) {
    struct Case {
        std::vector<std::string> present;
        const char* next;
    } cases[] = {
        {{}, "DATA/zmk00000.dat"},
        {{"zmk00007.dat", "zmk00012.dat", "zmkabc.dat", "zmk12x.dat", "new1-0.tmp"},
         "DATA/zmk00013.dat"},
        {{"zmk00001.dat", "zmk99999.dat"}, "DATA/zmk100000.dat"},
        {{"zmk00001.dat", "ZMK100000.DAT"}, "DATA/zmk100001.dat"},
    };
    for (const Case& c : cases) {
        test::TempFolder place;
        test::CurrentDirectory inPlace(place.path());
        ASSERT_TRUE(makeFolder("DATA"));
        for (const auto& name : c.present)
            place.write("DATA/" + name, "old");
        EXPECT_EQ(newDataFilePath(), c.next);
        std::string path;
        ASSERT_EQ(publishNewFile("new", path), PublishResult::Ok);
        EXPECT_EQ(path, c.next);
        for (const auto& name : c.present)
            EXPECT_EQ(place.read("DATA/" + name), "old") << name;
        // Only the new file was added: no temporary is left.
        EXPECT_EQ(listFiles("DATA", "*").size(), c.present.size() + 1);
    }
}

TEST_F(DataFilesTest, NoFileBeforeACycleHasBegun) {
    ScenarioEntry e = scriptedEntry();
    e.SeriesTime = 0.5;
    const ScenarioEntry before = e;
    const LiveResults r = scriptedResults();
    EXPECT_TRUE(writeNormsFile(thread, e, kCaller));
    EXPECT_TRUE(writeDataFile(thread, e, kCaller, MeasuredDirection{r, 50.0f, true}, dataFileName,
                              previousDataFileName));
    EXPECT_FALSE(folderExists("DATA") && !dataNames().empty());
    EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0);
    EXPECT_TRUE(dataFileName.empty());
}

TEST_F(DataFilesTest, AFailureLeavesNoFileAndEndsTheRun) {
    const LiveResults r = scriptedResults();
    struct Case {
        bool fullDisk;
        const char* text;
    } cases[] = {{true, "Ошибка записи в файл данных"}, {false, "Ошибка создания файла данных"}};
    for (const Case& c : cases) {
        test::TempFolder place;
        test::CurrentDirectory inPlace(place.path());
        TestThread worker(ui.bridge);
        ScenarioEntry e = scriptedEntry();
        const ScenarioEntry before = e;
        bool written = true;
        if (c.fullDisk) {
            ASSERT_TRUE(makeFolder("DATA"));
            test::FileSizeLimit limit(100);
            written = writeDataFile(worker, e, kCaller, MeasuredDirection{r, 1.0f, true},
                                    dataFileName, previousDataFileName);
        } else {
            place.write("DATA", "a file where the folder should be");
            written = writeDataFile(worker, e, kCaller, MeasuredDirection{r, 1.0f, true},
                                    dataFileName, previousDataFileName);
        }
        EXPECT_FALSE(written);
        EXPECT_EQ(worker.command(), Device::kStopCommand);
        if (c.fullDisk) {
            EXPECT_TRUE(listFiles("DATA", "*").empty());
        }
        EXPECT_EQ(std::memcmp(&e, &before, sizeof e), 0); // no statistics of a lost file
        ASSERT_FALSE(ui.protocolLines().empty());
        EXPECT_NE(ui.protocolLines().back().find(c.text), std::string::npos);
        const auto shown = ui.dialogs.seen();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().title, "Ошибка");
        EXPECT_EQ(shown.back().text, c.text);
        const auto messages = ui.takeMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], MSG_RUN_END);
    }
}

TEST_F(DataFilesTest, CycleEndMarksOnlyTheFlagOfADataFile) {
    ScenarioEntry e = scriptedEntry();
    const LiveResults r = scriptedResults();
    ASSERT_TRUE(writeNormsFile(thread, e, kCaller));
    ASSERT_TRUE(writeDataFile(thread, e, kCaller, MeasuredDirection{r, 1.0f, true}, dataFileName,
                              previousDataFileName));
    const std::string norms = read("DATA/zmk00000.dat");
    const std::string data = read(dataFileName);
    markCycleEnd(dataFileName);
    markCycleEnd("DATA/zmk00000.dat"); // a norms file is not patched
    markCycleEnd("DATA/zmk00099.dat"); // a file that is gone is left alone
    std::string marked = data;
    marked[40] = 1;
    EXPECT_EQ(read(dataFileName), marked);
    EXPECT_EQ(read("DATA/zmk00000.dat"), norms);
    EXPECT_FALSE(fileExists("DATA/zmk00099.dat"));
}

TEST(CycleStatisticsTest, ResetThenTwoSessionsAccumulate) {
    ScenarioEntry e = scriptedEntry();
    std::memset(bytesOf(e) + kStatisticsOffset, 0x55, kSettingsOffset - kStatisticsOffset);
    resetCycleStatistics(e);
    for (const SineStats* b : {&e.sineA, &e.sineB})
        for (int row = 0; row < SineStats::kItems; ++row) {
            const StatValue v = b->item(row);
            EXPECT_EQ(v.last, -999.0f);
            EXPECT_EQ(v.sum, 0.0);
            EXPECT_EQ(v.sumSq, 0.0);
        }
    for (const MultiFrequencyStats* b : {&e.mttA, &e.mttB})
        for (int i = 0; i < kMttPoints; ++i) {
            EXPECT_EQ(b->mttAttLast[i].get(), -999.0f);
            EXPECT_EQ(b->mttDelLast[i].get(), -10001.0f);
            EXPECT_EQ(b->mttDelSum[i].get(), 0.0);
        }
    EXPECT_EQ(e.echoB.echoListLast.get(), -999.0f);
    EXPECT_EQ(e.echoB.echoListCount.get(), 0);
    EXPECT_EQ(e.throughputA.disPassLast.get(), -999.0f);
    EXPECT_EQ(e.o42B.count.get(), 0);

    // Two sessions measured by the caller (block B): signal/noise 10 and 12; the noise
    // group counts no block; throughput missing, then 90.
    LiveResults r = scriptedResults();
    const float snr[] = {10.0f, 12.0f};
    const float throughput[] = {-999.0f, 90.0f};
    for (int s = 0; s < 2; ++s) {
        r.sine.snr = snr[s];
        updateCycleStatistics(e, directionValues(e, r, throughput[s], true));
    }
    EXPECT_EQ(e.sineB.count.get(), 2);
    EXPECT_EQ(e.sineB.sinSNRLast.get(), 12.0f);
    EXPECT_EQ(e.sineB.sinSNRSums.sum.get(), 22.0);
    EXPECT_EQ(e.sineB.sinSNRSums.sumSq.get(), 244.0);
    EXPECT_EQ(e.sineB.sinPulCntSums.sum.get(), 6.0);
    EXPECT_EQ(e.sineA.count.get(), 0);
    EXPECT_EQ(e.noiseB.count.get(), 0);
    EXPECT_EQ(e.noiseB.blkNoiseLast.get(), -999.0f);
    EXPECT_EQ(e.noiseB.blkNoiseSums.sum.get(), 0.0);
    // Capacitance in µF, group delay in ms, only at counted points.
    EXPECT_EQ(e.impedanceB.impCapacLast.get(), 0.5625f);
    EXPECT_EQ(e.mttB.mttDelLast[3].get(), 2.5f);
    EXPECT_EQ(e.mttB.mttDelSum[3].get(), 5.0);
    EXPECT_EQ(e.mttB.mttDelLast[0].get(), -10001.0f);
    EXPECT_EQ(e.throughputB.count.get(), 1);
    EXPECT_EQ(e.throughputB.disPassLast.get(), 90.0f);
    EXPECT_EQ(e.throughputB.disPassSums.sumSq.get(), 8100.0);
}

} // namespace
} // namespace vetlina
