#include "app/ProtocolMemo.h"

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
        lines_.erase(lines_.begin(),
                     lines_.begin() + static_cast<std::ptrdiff_t>(lines_.size() - kMaxLines));
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

void ProtocolMemo::trim(std::size_t addedIndex) {
    if (addedIndex <= kKeepLineIndex)
        return;
    std::string all = text();
    if (all.size() < kTrimFromChar)
        return;
    static const std::string call = "Вызов"_cp;
    static const std::string ring = "Звонок"_cp;
    // The earlier of the two words; npos (not found) is the largest value.
    std::size_t found = std::min(all.find(call, kTrimFromChar), all.find(ring, kTrimFromChar));
    if (found == std::string::npos || found <= kBlankLineLookBack)
        return;
    std::size_t blank = all.find(kBlankLine, found - kBlankLineLookBack);
    if (blank == std::string::npos)
        return;
    lines_ = splitLines(std::string_view(all).substr(blank + kBlankLine.size()));
}

} // namespace vetlina
