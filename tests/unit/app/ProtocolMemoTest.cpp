// The protocol window's memo: it keeps 301 lines whole, and past that drops its oldest
// calls as whole blocks, cut at the blank line before the first "Вызов" or "Звонок"
// that begins at least 2000 characters into its text.
#include "app/ProtocolMemo.h"

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
    for (std::size_t i = 0; i < ProtocolMemo::kMaxLines + 5; ++i)
        m.add("line " + std::to_string(i));
    EXPECT_EQ(m.size(), ProtocolMemo::kMaxLines);
    EXPECT_EQ(m.line(0), "line 5");
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
