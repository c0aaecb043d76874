// The protocol window's memo: the recent event lines of the run. It keeps its text
// short by dropping its oldest calls as whole blocks: a call's block begins after the
// blank line written between calls, with a line holding "Вызов" or "Звонок". The
// protocol document keeps everything; the memo is only what the window shows.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vetlina {

class ProtocolMemo {
public:
    // Trimming starts once the added line's index passes this (so 301 lines are kept whole).
    static constexpr std::size_t kKeepLineIndex = 300;
    // Blocks are searched from this character of the memo text on.
    static constexpr std::size_t kTrimFromChar = 2000;
    // The blank line in front of a block is searched from this many characters before it.
    static constexpr std::size_t kBlankLineLookBack = 25;
    // A run that never calls (nothing to cut at) would grow the memo without end in an
    // unattended complex; past this many lines the oldest are dropped, a tenth at a time.
    static constexpr std::size_t kMaxLines = 10000;

    // Adds a line (cp1251) at the end and applies the trimming rule. A text holding
    // CR LF becomes several lines, as in the window's memo.
    void add(const std::string& text);

    const std::vector<std::string>& lines() const { return lines_; }
    // The memo text: the lines joined by CR LF.
    std::string text() const;
    void clear() {
        lines_.clear();
        searchedLines_ = 0;
    }

    // Called on the main thread with each text added (before trimming), for front ends
    // that show the lines (the headless runner prints them).
    std::function<void(const std::string& text)> lineAdded;

private:
    void trim(std::size_t addedIndex);
    void dropFront(std::size_t count);

    // The memo text is the lines joined by CR LF; the rule is applied to it without
    // building it, by the lines' positions in it.
    std::vector<std::string> lines_;
    // The first lines_ holding no call or ring word that begins from character 2000 on;
    // the search for the next block starts after them. Reset when the front changes.
    std::size_t searchedLines_ = 0;
};

} // namespace vetlina
