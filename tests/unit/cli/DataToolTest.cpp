// The file tool as operators and scripts use it: the built binary, its output,
// its files and its exit status.
#include "TempFolder.h"
#include "platform/Cp1251.h"
#include "platform/LittleEndian.h"
#include "reports/DataFiles.h"
#include "scenario/ScenarioEntry.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/wait.h>

namespace vetlina {
namespace {

const std::string kTool = VETLINA_BINARY_DIR "/src/cli/vetlina-data";

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

class DataTool : public ::testing::Test {
protected:
    ToolRun run(const std::string& arguments) {
        const std::string command = "'" + kTool + "' " + arguments + " >'" + folder.file("out") +
                                    "' 2>'" + folder.file("err") + "'";
        int raw = std::system(command.c_str());
        int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return {status, folder.read("out"), folder.read("err")};
    }

    std::string path(const std::string& name) { return "'" + folder.file(name) + "'"; }

    // show FILE, then make the JSON into FILE2: the bytes must come back. Entries that a
    // calling complex would not hand over are made all the same, each with a warning.
    void expectRoundTrip(const char* kind, const std::string& bytes, int unfitEntries = 0) {
        folder.write("in", bytes);
        ToolRun shown = run(std::string(kind) + " show " + path("in"));
        ASSERT_EQ(shown.status, 0) << shown.err;
        folder.write("shown.json", shown.out);
        ToolRun made =
            run(std::string(kind) + " make " + path("shown.json") + " -o " + path("again"));
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(std::count(made.err.begin(), made.err.end(), '\n'), unfitEntries) << made.err;
        if (unfitEntries == 0) {
            EXPECT_TRUE(made.err.empty()) << made.err;
        }
        const std::string again = folder.read("again");
        ASSERT_EQ(again.size(), bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(again[i], bytes[i]) << kind << " byte " << i;
    }

    // make from JSON text: the status and the one line on stderr.
    ToolRun make(const char* kind, const std::string& json) {
        folder.write("in.json", json);
        return run(std::string(kind) + " make " + path("in.json") + " -o " + path("made"));
    }

    void expectRefused(const char* kind, const std::string& json, const std::string& mention) {
        ToolRun r = make(kind, json);
        EXPECT_EQ(r.status, 1) << json;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find(mention), std::string::npos) << json << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fileExistsHere("made")) << json;
    }

    bool fileExistsHere(const std::string& name) {
        return std::system(("test -e '" + folder.file(name) + "'").c_str()) == 0;
    }

    test::TempFolder folder;
};

std::string record(const ScenarioEntry& e) {
    return std::string(reinterpret_cast<const char*>(bytesOf(e)), kEntrySize);
}

std::string scenarioHeader(int32_t n) {
    std::string header = "01.12.99";
    char count[4];
    storeLe<int32_t>(count, n);
    return header + std::string(count, 4);
}

TEST_F(DataTool, ARecordOfArbitraryBytesComesBackByteForByte) {
    // Every byte random: texts with bytes after their terminators and bytes that
    // are not letters, flags above 1, NaNs with payloads, denormals, infinities.
    std::mt19937 random(20250301);
    std::string bytes = scenarioHeader(3);
    for (int i = 0; i < 3; ++i)
        for (std::size_t k = 0; k < kEntrySize; ++k)
            bytes += static_cast<char>(random() & 0xFF);
    // And some values picked on purpose in the first record.
    auto put = [&](std::size_t offset, const void* data, std::size_t n) {
        bytes.replace(12 + offset, n, static_cast<const char*>(data), n);
    };
    put(0, "1234\0\x98\xFF\x01\0\x7F", 10);       // Id: bytes after the NUL
    put(3096, "\xC6\xE0\xF0\xE0\0\0\0\0\x01", 9); // AT: "Жара", then a stray byte
    put(3290, "\x01\x00\xA0\x7F", 4);             // sinSNR: signalling NaN
    put(3244, "\0\0\0\0\0\0\0\x80", 8);           // BegTime: -0.0
    put(3252, "\0\0\0\0\0\0\xF0\x7F", 8);         // EndTime: +inf
    put(3260, "\x01\0\0\0\0\0\xF8\xFF", 8);       // NextTime: NaN with payload
    put(3232, "\x01\0\0\0", 4);                   // Busy: smallest denormal
    // Random records are out of the editor's ranges: each is named on stderr.
    expectRoundTrip("scn", bytes, 3);
}

TEST_F(DataTool, DefaultAndTypicalRecordsComeBack) {
    ScenarioEntry e = defaultEntry(45717.333333333336);
    setText(e.Id, "1234567X");
    setText(e.Number, std::string(32, '7')); // fills the field, no terminator
    setText(e.AT, "&F&C1&D2 ЖЖ"_cp);
    e.sineA.sinSNRLast = 0.1f;
    e.sineA.sinSNRSums.sum = 0.1;
    e.Finished = 1;
    // Neither identity is one an answerer takes ("1234567X", none): both are named.
    expectRoundTrip("scn", scenarioHeader(2) + record(e) + record(defaultEntry(45000.0)), 2);
    expectRoundTrip("scn", scenarioHeader(0));
}

TEST_F(DataTool, TemplateOfArbitraryBytesComesBack) {
    std::mt19937 random(7);
    std::string bytes = "21.12.98";
    for (int k = 0; k < 823; ++k)
        bytes += static_cast<char>(random() & 0xFF);
    expectRoundTrip("pat", bytes);
}

TEST_F(DataTool, ShowGivesNamedFieldsTextsInUtf8AndStatistics) {
    ScenarioEntry e = defaultEntry(45000.5);
    setText(e.Id, "7654321x");
    setText(e.AT, "Жара"_cp);
    e.sinJitAm = 30.5f;
    e.mttB.mttDelSumSq[13] = 2.5;
    e.echoA.echoListCount = 3;
    e.sineA.sinSNRLast = 0.1f;
    folder.write("a.scn", scenarioHeader(1) + record(e));
    ToolRun r = run("scn show " + path("a.scn"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["version"], "01.12.99");
    const auto& entry = json["entries"][0];
    EXPECT_EQ(entry["Id"], "7654321x");
    EXPECT_EQ(entry["AT"], "Жара");
    EXPECT_EQ(entry["BegTime"], 45000.5);
    EXPECT_EQ(entry["norms"]["sinJitAm"]["value"], 30.5);
    EXPECT_EQ(entry["norms"]["sinJitAm"]["on"], 1);
    EXPECT_EQ(entry["norms"]["mttDel"], (nlohmann::json{{"on", 1}}));
    EXPECT_EQ(entry["norms"]["CapacFreq"], (nlohmann::json{{"value", 1800.0}}));
    EXPECT_EQ(entry["Att"][4], 22.0);
    EXPECT_EQ(entry["Att"][0], -999.0);
    EXPECT_EQ(entry["Statistics"]["B"]["multiFrequency"]["mttDel"]["sumSq"][13], 2.5);
    EXPECT_EQ(entry["Statistics"]["A"]["echo"]["echoListCount"], 3);
    // A float is shown by its shortest decimal, not its binary expansion.
    EXPECT_NE(r.out.find("\"last\": 0.1,"), std::string::npos);
}

TEST_F(DataTool, MembersLeftOutTakeTheValuesOfANewEntry) {
    ToolRun r = make("scn", R"({"version": "01.12.99", "entries": [
        {"Id": "1234567X", "Number": "8W495", "BegTime": 45717.25, "AT": "Жара",
         "norms": {"sinSNR": {"value": 0.1}}, "Att": [1,2,3,4,5,6,7,8,9,10,11,12,13,14]}]})");
    ASSERT_EQ(r.status, 0) << r.err;
    ScenarioEntry expected = defaultEntry(45717.25);
    setText(expected.Id, "1234567X");
    setText(expected.Number, "8W495");
    setText(expected.AT, "Жара"_cp);
    expected.sinSNR = 0.1f;
    for (int k = 0; k < 14; ++k)
        expected.Att[k] = static_cast<float>(k + 1);
    EXPECT_EQ(folder.read("made"), scenarioHeader(1) + record(expected));
}

TEST_F(DataTool, EntriesACallerWouldNotHandOverAreNamedAndStillMade) {
    // Each case: the members of the second of two entries (the first is fit), and the
    // warning expected for it ("" for none).
    struct Case {
        const char* members;
        const char* warning;
    };
    const Case cases[] = {
        {R"("SinTime": 4, "O132Time": 2, "SincTime": 2)", ""}, // short but in range
        {R"("norms": {"sinSNR": {"on": 1, "value": 90}})",
         "sinSNR = 90: допустимо число от 0.0 до 70.0"},
        {R"("MaxLev": 5)", "MaxLev = 5: допустимо только -20 / 0 / 20"},
        {R"("SincTime": 40)", "SincTime = 20: допустимо целое число от 1 до 10"},
        {R"("Id": "2222")", "Id: "},
    };
    for (const Case& c : cases) {
        const std::string json = std::string(R"({"version": "01.12.99", "entries": [)") +
                                 R"({"Id": "11111111"}, {"Id": "22222222", )" + c.members + "}]}";
        ToolRun r = make("scn", json);
        EXPECT_EQ(r.status, 0) << json << r.err;
        EXPECT_TRUE(fileExistsHere("made")) << json;
        if (*c.warning == '\0') {
            EXPECT_TRUE(r.err.empty()) << json << r.err;
            continue;
        }
        // One line, naming the entry, the field, its value, the range and the outcome.
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("vetlina-data: warning: entry 2 (Id ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << json << "\n" << r.err;
        EXPECT_NE(r.err.find("a calling complex will not hand this entry over"), std::string::npos)
            << r.err;
    }
}

TEST_F(DataTool, DateTimesMayBeWrittenAsText) {
    ToolRun r = make("pat", R"({"version": "21.12.98", "BegTime": "01.03.2025 08:00:00",
                           "EndTime": "01.03.2025 18:30:00", "SinFreq": 1020})");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string bytes = folder.read("made");
    ASSERT_EQ(bytes.size(), 831u);
    EXPECT_EQ(bytes.substr(0, 8), "21.12.98");
    const unsigned char* settings = reinterpret_cast<const unsigned char*>(bytes.data()) + 8;
    EXPECT_DOUBLE_EQ(loadLe<double>(settings + (3244 - 3095)), 45717.0 + 8.0 / 24);
    EXPECT_DOUBLE_EQ(loadLe<double>(settings + (3252 - 3095)), 45717.0 + 18.5 / 24);
    EXPECT_EQ(loadLe<int32_t>(settings + (3769 - 3095)), 1020);
}

TEST_F(DataTool, BadJsonIsRefusedWithOneLine) {
    const std::string v = R"("version": "01.12.99", )";
    expectRefused("scn", "{\"entries\": [", "bad JSON");
    expectRefused("scn", "[1, 2]", "expected a JSON object");
    expectRefused("scn", "{" + v + "\"extra\": 1}", "extra: unknown member");
    expectRefused("scn", "{" + v + "\"entries\": {}}", "entries: expected an array");
    expectRefused("scn", "{" + v + "\"entries\": [5]}", "entries[0]: expected an object");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Colour\": 1}]}",
                  "entries[0].Colour: unknown member");
    expectRefused("scn", "{" + v + "\"entries\": [{\"norms\": {\"sinSNR\": {\"of\": 1}}}]}",
                  "entries[0].norms.sinSNR.of: unknown member");
    expectRefused("scn", "{" + v + "\"entries\": [{}, {\"NumMin\": \"3\"}]}",
                  "entries[1].NumMin: expected an integer");
    expectRefused("scn", "{" + v + "\"entries\": [{\"NumMin\": 3.5}]}",
                  "entries[0].NumMin: expected an integer");
    expectRefused("scn", "{" + v + "\"entries\": [{\"NumMin\": 2147483648}]}",
                  "entries[0].NumMin: 2147483648 is out of the 32-bit integer range");
    expectRefused("scn", "{" + v + "\"entries\": [{\"NumMin\": 1e30}]}", "entries[0].NumMin:");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Finished\": 256}]}",
                  "entries[0].Finished: 256 is out of range 0..255");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Busy\": 1e39}]}",
                  "entries[0].Busy: out of the range of a 32-bit float");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Busy\": \"0x7FC0\"}]}",
                  "entries[0].Busy: expected a number");
    expectRefused("scn", "{" + v + "\"entries\": [{\"BegTime\": \"31.02.2025\"}]}",
                  "entries[0].BegTime:");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Id\": \"12345678901\"}]}",
                  "entries[0].Id: is 11 bytes long, the field holds 10");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Number\": \"" + std::string(33, '1') + "\"}]}",
                  "entries[0].Number: is 33 bytes long");
    expectRefused("scn", "{" + v + "\"entries\": [{\"AT\": \"中\"}]}",
                  "entries[0].AT: holds characters that code page 1251 cannot store");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Id\": 12345678}]}",
                  "entries[0].Id: expected a string");
    expectRefused("scn", "{" + v + "\"entries\": [{\"Att\": [1, 2]}]}",
                  "entries[0].Att: expected 14 values, not 2");
    expectRefused("scn", "{" + v + "\"entries\": [{\"RunCounters\": [1, 2, 3, true]}]}",
                  "entries[0].RunCounters[3]: expected an integer");
    expectRefused("scn", R"({"version": "21.12.98"})", "version: expected \"01.12.99\"");

    expectRefused("pat", R"({"version": "01.12.99"})", "version: expected \"21.12.98\"");
    expectRefused("pat", R"({"Id": "12345678"})", "Id: unknown member");
    expectRefused("pat", R"({"Statistics": {}})", "Statistics: unknown member");
}

TEST_F(DataTool, TheJsonInputMayComeFromStandardInput) {
    folder.write("in.json", R"({"entries": [{"Id": "1"}, {"Id": "2"}]})");
    ToolRun r = run("scn make - -o " + path("made") + " <" + path("in.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(folder.read("made").size(), 12u + 2 * 3918u);
}

TEST_F(DataTool, BadFilesAreRefusedWithOneLine) {
    const std::string one = record(defaultEntry(45000.0));
    const std::pair<std::string, std::string> cases[] = {
        {"", "wrong version mark"},
        {"21.12.98" + std::string(4, '\0'), "wrong version mark"},
        {"01.12.99", "too short"},
        {scenarioHeader(-2), "negative number of entries (-2)"},
        {scenarioHeader(2) + one, "ends before its 2 entries are complete"},
        {scenarioHeader(1) + one.substr(1), "ends before its 1 entries are complete"},
        {scenarioHeader(2000000000), "ends before its 2000000000 entries"},
    };
    for (const auto& [bytes, mention] : cases) {
        folder.write("bad.scn", bytes);
        ToolRun r = run("scn show " + path("bad.scn"));
        EXPECT_EQ(r.status, 1) << mention;
        EXPECT_TRUE(r.out.empty()) << mention;
        EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    folder.write("short.pat", "21.12.98" + one.substr(3095, 822));
    ToolRun r = run("pat show " + path("short.pat"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("too short"), std::string::npos) << r.err;

    r = run("scn show " + path("missing.scn"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;

    r = run("scn make " + path("missing.json") + " -o " + path("x.scn"));
    EXPECT_EQ(r.status, 1);
    folder.write("ok.json", "{}");
    r = run("scn make " + path("ok.json") + " -o " + path("no/such/folder.scn"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

// A FIFO or process substitution is read as a stream; a FIFO that nobody writes is given
// up after the silence limit (10 s of the clock, here at 100 times real speed).
TEST_F(DataTool, FifosAndProcessSubstitutionAreReadAsStreams) {
    folder.write("a.scn", scenarioHeader(1) + record(defaultEntry(45000.0)));
    folder.write("a.json", "{\"version\": \"01.12.99\", \"entries\": [{}]}");
    auto bash = [&](const std::string& script) {
        const std::string command = "cd '" + folder.path() +
                                    "' && VETLINA_TIME_SCALE=100 bash -c '" + script +
                                    "' >out 2>err";
        int raw = std::system(command.c_str());
        return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, folder.read("out"),
                       folder.read("err")};
    };
    const std::string tool = "\"" + kTool + "\"";
    ToolRun r = bash(tool + " scn show <(cat a.scn)");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["entries"].size(), 1u);
    r = bash(tool + " scn make <(cat a.json) -o b.scn");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(folder.read("b.scn").size(), 12u + kEntrySize);

    r = bash("mkfifo f && { cat a.scn >f & } && " + tool + " scn show f");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["entries"].size(), 1u);
    r = bash(tool + " scn show f");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nothing came for 10 s"), std::string::npos) << r.err;
}

// The output must be a regular file that this user may write: a FIFO (as /dev/null, a
// device) and a read-only file are refused and left as they are, root or not.
TEST_F(DataTool, AnOutputThatIsNotAWritableRegularFileIsRefused) {
    folder.write("in.json", "{}");
    ASSERT_EQ(std::system(("mkfifo '" + folder.file("fifo") + "'").c_str()), 0);
    ToolRun r = run("scn make " + path("in.json") + " -o " + path("fifo"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    EXPECT_EQ(std::system(("test -p '" + folder.file("fifo") + "'").c_str()), 0);

    folder.write("ro.scn", "old");
    ASSERT_EQ(std::system(("chmod 444 '" + folder.file("ro.scn") + "'").c_str()), 0);
    r = run("scn make " + path("in.json") + " -o " + path("ro.scn"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not writable for this user"), std::string::npos) << r.err;
    EXPECT_EQ(folder.read("ro.scn"), "old");
}

// Date-times of any value in a damaged file show as numbers and come back.
TEST_F(DataTool, DateTimesFarOutsideTheCalendarShowAndComeBack) {
    ScenarioEntry e = defaultEntry(45000.0);
    e.BegTime = 1e300;
    e.EndTime = -1e17;
    e.NextTime = 1e17;
    e.SeriesTime = std::numeric_limits<double>::infinity();
    expectRoundTrip("scn", scenarioHeader(1) + record(e), 1);
}

TEST_F(DataTool, BytesAfterTheLastRecordAreShownWithAWarning) {
    folder.write("a.scn", scenarioHeader(0) + "tail");
    ToolRun r = run("scn show " + path("a.scn"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("4 bytes after the last entry"), std::string::npos) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["entries"].size(), 0u);
}

// A data or message file as the item table lays it out: caller "M" 1234АБВГ (cp1251),
// answerer "G" REMOTE01, session 2, cycle start 01.01.2023 12:00.
std::string dataFileBytes(char kind, const std::string& items) {
    std::string h(1, kind);
    h += '\1';
    char d[8];
    storeLe<double>(d, 44927.5);
    h.append(d, 8);
    storeLe<double>(d, 44927.75);
    h.append(d, 8);
    h += "M" + "1234АБВГ"_cp + "GREMOTE01";
    char n[4];
    storeLe<int32_t>(n, 2);
    h.append(n, 4);
    h += '\0';
    return h + items;
}

std::string item(const std::string& key, float value) {
    char b[4];
    storeLe<float>(b, value);
    return key + '\0' + std::string(b, 4);
}

std::string attList(float value, float hz) {
    char b[12];
    storeLe<int32_t>(b, 1);
    storeLe<float>(b + 4, value);
    storeLe<float>(b + 8, hz);
    return std::string("mttAtt", 7) + std::string(b, 12);
}

const std::string kEnd("end", 4);

TEST_F(DataTool, DatShowGivesHeaderItemsPlanAndMessageAsJson) {
    folder.write("d.dat", dataFileBytes('D', item("Busy", 12.5f) + attList(-1.5f, 1000) + kEnd));
    folder.write("m.dat", dataFileBytes('M', "\x04"));
    ScenarioEntry e = defaultEntry(44927.0);
    e.SeriesTime = 44927.5;
    e.Busy = 10.0f;
    e.Carr = kNoNorm;
    folder.write("s.dat", normsFileImage(e, CycleParties{true, "1234", "REMOTE01"}));

    ToolRun one = run("dat show " + path("d.dat"));
    ASSERT_EQ(one.status, 0) << one.err;
    auto d = nlohmann::ordered_json::parse(one.out);
    EXPECT_EQ(d["kind"], "data");
    EXPECT_EQ(d["callerFlag"], 1);
    EXPECT_EQ(d["cycleStart"]["days"], 44927.5);
    EXPECT_EQ(d["cycleStart"]["text"], "01.01.2023 12:00:00");
    EXPECT_EQ(d["writtenAt"]["text"], "01.01.2023 18:00:00");
    EXPECT_EQ(d["callerRole"], "M");
    EXPECT_EQ(d["callerIdent"], "1234АБВГ");
    EXPECT_EQ(d["answererRole"], "G");
    EXPECT_EQ(d["session"], 2);
    EXPECT_EQ(d["cycleEnd"], 0);
    EXPECT_EQ(d["items"].dump(), R"({"Busy":12.5,"mttAtt":[{"value":-1.5,"frequency":1000.0}]})");

    ToolRun all = run("dat show " + path("d.dat") + " " + path("s.dat") + " " + path("m.dat"));
    ASSERT_EQ(all.status, 0) << all.err;
    auto shown = nlohmann::ordered_json::parse(all.out);
    ASSERT_EQ(shown.size(), 3u);
    const auto& s = shown[1];
    EXPECT_EQ(s["kind"], "norms");
    EXPECT_FALSE(s.contains("session"));
    EXPECT_EQ(s["plan"]["EditSinTime"], e.SinTime.get());
    EXPECT_EQ(s["plan"].begin().key(), "EditEchoTime");
    EXPECT_EQ(s["items"]["Busy"].dump(), R"({"on":true,"value":10.0})");
    EXPECT_EQ(s["items"]["Carr"].dump(), R"({"on":false,"value":-999.0})");
    EXPECT_EQ(shown[2]["kind"], "message");
    EXPECT_EQ(shown[2]["code"], 4);
    EXPECT_EQ(shown[2]["text"], "НУВ (нет несущей). Выполнение прекращено");
}

TEST_F(DataTool, DatCsvTablesTheDataFilesAndNamesADamagedOne) {
    ASSERT_EQ(std::system(("mkdir '" + folder.file("DATA") + "'").c_str()), 0);
    folder.write("DATA/zmk00010.dat",
                 dataFileBytes('D', item("Busy", 1) + item("sinSNR", 40.25f) + kEnd));
    folder.write("DATA/zmk00002.dat",
                 dataFileBytes('D', item("Busy", 0) + attList(2.5f, 1000) + kEnd));
    folder.write("DATA/zmk00003.dat", dataFileBytes('M', "\x06"));
    folder.write("DATA/zmk00005.dat", dataFileBytes('D', item("Busy", 0))); // no "end"
    folder.write("DATA/notes.txt", "not a data file");

    ToolRun r = run("dat csv " + path("DATA"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("zmk00005.dat"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("offset 50"), std::string::npos) << r.err;
    const std::string head = "file,callerFlag,cycleStart,writtenAt,callerRole,callerIdent,"
                             "answererRole,answererIdent,session,cycleEnd,";
    const std::string fields =
        ",1,01.01.2023 12:00:00,01.01.2023 18:00:00,M,1234АБВГ,G,REMOTE01,2,0,";
    EXPECT_EQ(r.out, head + "Busy,mttAtt@1000,sinSNR\r\n" + "zmk00002.dat" + fields + "0,2.5,\r\n" +
                         "zmk00010.dat" + fields + "1,,40.25\r\n");

    folder.write("bad.dat", dataFileBytes('D', item("Bu-y", 0) + kEnd));
    ToolRun bad = run("dat show " + path("bad.dat"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_NE(bad.err.find("bad.dat: damaged: offset 43"), std::string::npos) << bad.err;
    EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
}

TEST_F(DataTool, UsageErrorsExitWithTwo) {
    for (const char* arguments :
         {"", "scn", "dat2 show x", "scn list x", "scn show", "scn show a b", "scn make a.json",
          "scn make -o x.scn", "scn make a.json -o", "pat make a.json b.json -o x", "dat show",
          "dat csv", "dat csv a b", "dat list x"}) {
        ToolRun r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << arguments;
    }
    ToolRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("scn make JSON -o FILE"), std::string::npos);
}

} // namespace
} // namespace vetlina
