#include "gui/WindowPlacement.h"

#include <algorithm>

namespace vetlina {
namespace {
constexpr int kProtHeight = 182;
constexpr int kListHeight = 360;
constexpr int kStatOffset = 180;
constexpr int kReslOffset = 280;
// A window is never placed smaller than this (a small main window would leave the
// visualisation window no room).
constexpr int kSmallest = 100;
} // namespace

RunPlacements defaultRunPlacements(const QRect& main, int metrHeight) {
    RunPlacements p;
    p.metr = QRect(main.left(), main.top(), main.width(), metrHeight);
    const int below = p.metr.top() + p.metr.height();
    p.prot = QRect(p.metr.left(), below, std::max(kSmallest, p.metr.width() / 2), kProtHeight);
    p.stat = QRect(p.metr.left() + kStatOffset, below,
                   std::max(kSmallest, p.metr.width() - kStatOffset), kListHeight);
    p.resl = QRect(p.metr.left() + kReslOffset, below,
                   std::max(kSmallest, p.metr.width() - kReslOffset), kListHeight);
    p.show = QRect(p.prot.left(), p.prot.top() + p.prot.height(), main.width(),
                   std::max(kSmallest, main.height() - metrHeight - kProtHeight));
    return p;
}

} // namespace vetlina
