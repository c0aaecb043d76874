#include "ui/ProtocolMemo.h"

#include "platform/Cp1251.h"

#include <algorithm>
#include <string_view>

namespace vetlina {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr std::string_view kBlankLine = "\r\n\r\n";

// The lines of a memo text; an empty text has none.
std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    if (text.empty())
        return lines;
    for (;;) {
        auto end = text.find(kLineBreak);
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + kLineBreak.size());
    }
    return lines;
}

} // namespace

void ProtocolMemo::add(const std::string& text) {
    std::size_t index = lines_.size();
    if (text.empty()) {
        lines_.emplace_back();
    } else {
        for (auto& line : splitLines(text))
            lines_.push_back(std::move(line));
    }
    if (lineAdded)
        lineAdded(text);
    trim(index);
    if (lines_.size() > kMaxLines)
        dropFront(lines_.size() - kMaxLines + kMaxLines / 10);
}

std::string ProtocolMemo::text() const {
    std::string all;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            all += kLineBreak;
        all += lines_[i];
    }
    return all;
}

void ProtocolMemo::dropFront(std::size_t count) {
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(count));
    searchedLines_ = 0;
}

void ProtocolMemo::trim(std::size_t addedIndex) {
    if (addedIndex <= kKeepLineIndex)
        return;
    // Positions in the memo text: line i begins at start[i]; the text is at least
    // kTrimFromChar long, else nothing is cut.
    std::vector<std::size_t> start(lines_.size());
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        start[i] = at;
        at += lines_[i].size() + kLineBreak.size();
    }
    std::size_t textSize = at - kLineBreak.size();
    if (textSize < kTrimFromChar)
        return;

    // The earliest "Вызов" or "Звонок" that begins from character kTrimFromChar on. The
    // words hold no line break, so each lies within one line; the first line holding one
    // holds the earliest.
    static const std::string call = "Вызов"_cp;
    static const std::string ring = "Звонок"_cp;
    std::size_t found = std::string::npos;
    std::size_t foundLine = searchedLines_;
    for (; foundLine < lines_.size(); ++foundLine) {
        const std::string& line = lines_[foundLine];
        std::size_t end = start[foundLine] + line.size();
        if (end < kTrimFromChar)
            continue;
        std::size_t from = kTrimFromChar > start[foundLine] ? kTrimFromChar - start[foundLine] : 0;
        std::size_t inLine = std::min(line.find(call, from), line.find(ring, from));
        if (inLine != std::string::npos) {
            found = start[foundLine] + inLine;
            break;
        }
    }
    searchedLines_ = foundLine;
    if (found == std::string::npos || found <= kBlankLineLookBack)
        return;

    // The first blank line ("\r\n\r\n") from 25 characters before the word on: it begins
    // where a line ends that is followed by an empty line and then by another line.
    std::size_t from = found - kBlankLineLookBack;
    for (std::size_t j = 0; j + 2 < lines_.size(); ++j) {
        std::size_t blank = start[j] + lines_[j].size();
        if (blank >= from && lines_[j + 1].empty()) {
            dropFront(j + 2);
            return;
        }
    }
}

} // namespace vetlina
