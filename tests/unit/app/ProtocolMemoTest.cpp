// The protocol window's memo: it keeps 301 lines whole, and past that drops its oldest
// calls as whole blocks, cut at the blank line before the first "Вызов" or "Звонок"
// that begins at least 2000 characters into its text.
#include "ui/ProtocolMemo.h"

#include "platform/Cp1251.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vetlina {
namespace {

// Adds lines to a memo in UTF-8 and reads them back in UTF-8.
struct Memo {
    ProtocolMemo memo;
    void add(const std::string& utf8) { memo.add(toCp1251(utf8)); }
    void addFiller(int count) {
        for (int i = 0; i < count; ++i)
            add("x");
    }
    std::string line(std::size_t i) const { return toUtf8(memo.lines().at(i)); }
    std::size_t size() const { return memo.lines().size(); }
};

// A first block of the given length in characters: a long line, then a blank line, then
// `head` (which holds the word), so that the word begins at (length - 4 + its offset).
void addBlock(Memo& m, std::size_t longLine, const std::string& head) {
    m.add(std::string(longLine, 'a'));
    m.add("");
    m.add(head);
}

TEST(ProtocolMemoTest, KeepsThreeHundredAndOneLinesWhole) {
    Memo m;
    addBlock(m, 1990, "123456Вызов");
    m.addFiller(298);
    ASSERT_EQ(m.size(), 301u);
    EXPECT_EQ(m.line(0), std::string(1990, 'a'));
}

TEST(ProtocolMemoTest, CutsAtTheBlankLineBeforeACallFromCharacter2000On) {
    Memo m;
    // "Вызов" begins at character 1994 + 6 = 2000.
    addBlock(m, 1990, "123456Вызов");
    m.addFiller(299);
    ASSERT_EQ(m.size(), 300u);
    EXPECT_EQ(m.line(0), "123456Вызов");
    EXPECT_EQ(m.line(299), "x");
}

TEST(ProtocolMemoTest, WordBeginningBeforeCharacter2000DoesNotCount) {
    Memo m;
    addBlock(m, 1990, "12345Вызов"); // begins at 1999
    m.addFiller(299);
    EXPECT_EQ(m.size(), 302u);
    EXPECT_EQ(m.line(0).size(), 1990u);
}

TEST(ProtocolMemoTest, TheEarlierOfCallAndRingWins) {
    for (auto [first, second] : {std::pair{"Звонок", "Вызов"}, std::pair{"Вызов", "Звонок"}}) {
        Memo m;
        m.add(std::string(2100, 'a'));
        m.add("");
        m.add(first);
        m.addFiller(3);
        m.add("");
        m.add(second);
        m.addFiller(296);
        EXPECT_EQ(m.line(0), first);
    }
}

TEST(ProtocolMemoTest, WithoutEitherWordTheMemoStaysWhole) {
    Memo m;
    m.add(std::string(2100, 'a'));
    m.add("");
    m.add("Соединение");
    m.addFiller(400);
    EXPECT_EQ(m.size(), 403u);
}

TEST(ProtocolMemoTest, ShortTextStaysWholeHoweverManyLines) {
    Memo m;
    m.add("");
    m.add("Вызов");
    m.addFiller(500);
    EXPECT_EQ(m.size(), 502u);
}

TEST(ProtocolMemoTest, BlankLineIsLookedForFrom25CharactersBeforeTheWord) {
    // The blank line begins at character 1990; a 19-character line puts the word at 2015,
    // whose look-back starts at 1990: found.
    Memo near;
    near.add(std::string(1990, 'a'));
    near.add("");
    near.add(std::string(19, 'b'));
    near.add("Вызов");
    near.addFiller(300);
    EXPECT_EQ(near.line(0), std::string(19, 'b'));

    // One character more and the look-back starts past it; no other blank line follows,
    // so nothing is cut.
    Memo far;
    far.add(std::string(1990, 'a'));
    far.add("");
    far.add(std::string(20, 'b'));
    far.add("Вызов");
    far.addFiller(300);
    EXPECT_EQ(far.size(), 304u);
}

TEST(ProtocolMemoTest, TextWithLineBreaksBecomesSeveralLines) {
    Memo m;
    m.add("Отказ анализатора\r\n\r\nВозможно, требуется повторное включение питания");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m.line(1), "");
    EXPECT_EQ(m.line(2), "Возможно, требуется повторное включение питания");
}

TEST(ProtocolMemoTest, OldestLinesGoWhenNothingCanBeCutForTooLong) {
    Memo m;
    constexpr std::size_t kMax = ProtocolMemo::kMaxLines;
    for (std::size_t i = 0; i < kMax; ++i)
        m.add("line " + std::to_string(i));
    EXPECT_EQ(m.size(), kMax);
    m.add("one more");
    // The oldest tenth goes; the newest lines stay in order.
    EXPECT_EQ(m.size(), kMax - kMax / 10);
    EXPECT_EQ(m.line(0), "line " + std::to_string(kMax / 10 + 1));
    EXPECT_EQ(m.line(m.size() - 1), "one more");
}

// A run that calls again and again (an unattended series) holds its memo at 301 lines
// plus the call being added, however long it runs: the memo, its lines and their
// storage stop growing once it is full. Calls of a series as the caller and the
// answerer write them, and long calls of a hundred lines.
TEST(ProtocolMemoTest, ALongSeriesOfCallsKeepsTheMemoBounded) {
    struct Case {
        const char* word;
        int linesPerCall;
    };
    for (const Case c : {Case{"Вызов 22222222 тел: 1002", 9}, Case{"Звонок", 12},
                         Case{"Вызов 22222222 тел: 1002", 100}}) {
        SCOPED_TRACE(c.linesPerCall);
        Memo m;
        auto call = [&](int n) {
            m.add("");
            m.add("20:05:27 " + std::string(c.word));
            for (int i = 2; i < c.linesPerCall; ++i)
                m.add("20:05:39 Измеритель: SIN, строка " + std::to_string(n * 1000 + i));
        };
        std::size_t most = 0, capacity = 0;
        for (int n = 0; n < 3000; ++n) {
            call(n);
            most = std::max(most, m.size());
            if (n == 999)
                capacity = m.memo.lines().capacity();
        }
        EXPECT_LE(most, 301u + static_cast<std::size_t>(c.linesPerCall));
        EXPECT_EQ(m.memo.lines().capacity(), capacity);
        // The newest call is there whole.
        EXPECT_EQ(m.line(m.size() - 1), "20:05:39 Измеритель: SIN, строка " +
                                            std::to_string(2999 * 1000 + c.linesPerCall - 1));
    }
}

// The rule as it reads, on the whole memo text, to hold the memo's own bookkeeping to.
std::vector<std::string> referenceTrim(std::vector<std::string> lines, std::size_t addedIndex) {
    if (addedIndex <= 300)
        return lines;
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i ? "\r\n" : "") + lines[i];
    if (text.size() < 2000)
        return lines;
    std::size_t found = std::min(text.find("Вызов"_cp, 2000), text.find("Звонок"_cp, 2000));
    if (found == std::string::npos || found <= 25)
        return lines;
    std::size_t blank = text.find("\r\n\r\n", found - 25);
    if (blank == std::string::npos)
        return lines;
    std::string rest = text.substr(blank + 4);
    std::vector<std::string> out;
    if (rest.empty())
        return out;
    for (std::size_t from = 0;;) {
        std::size_t end = rest.find("\r\n", from);
        out.push_back(rest.substr(from, end == std::string::npos ? end : end - from));
        if (end == std::string::npos)
            return out;
        from = end + 2;
    }
}

TEST(ProtocolMemoTest, AgreesWithTheRuleOnTheWholeTextOverALongRun) {
    // A run's lines: calls and rings with their blank lines, long and short lines, lines
    // with the words inside them and at their ends.
    const std::vector<std::string> kinds = {"",
                                            "",
                                            "Вызов 201"_cp,
                                            "Звонок"_cp,
                                            "12:00:00 Соединение 2400"_cp,
                                            std::string(70, 'w'),
                                            "x",
                                            "Вызов"_cp,
                                            "аВызов"_cp,
                                            "Звон"_cp};
    ProtocolMemo memo;
    std::vector<std::string> reference;
    uint32_t seed = 12345;
    std::size_t cuts = 0, longest = 0;
    for (int i = 0; i < 6000; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Stretches of 700 lines without calls or rings let the memo grow past 301 lines.
        bool quiet = (i / 700) % 2 == 1;
        const std::string& line = kinds[(seed >> 16) % kinds.size()];
        if (quiet && (line.find("Вызов"_cp) != std::string::npos ||
                      line.find("Звонок"_cp) != std::string::npos))
            continue;
        std::size_t index = reference.size();
        reference.push_back(line);
        reference = referenceTrim(std::move(reference), index);
        cuts += reference.size() <= index;
        longest = std::max(longest, reference.size());
        memo.add(line);
        ASSERT_EQ(memo.lines(), reference) << "after line " << i;
    }
    // The run did reach the rule many times.
    EXPECT_GT(cuts, 10u);
    EXPECT_GT(longest, 301u);
}

TEST(ProtocolMemoTest, ObserverSeesEveryAddedText) {
    Memo m;
    std::vector<std::string> seen;
    m.memo.lineAdded = [&](const std::string& text) { seen.push_back(toUtf8(text)); };
    m.add("one");
    m.add("");
    EXPECT_THAT(seen, testing::ElementsAre("one", ""));
}

} // namespace
} // namespace vetlina
