// Where the windows of a run stand before their kept placement is applied: the run
// window over the main window's place, the protocol, statistics and results windows
// under it, the visualisation window under the protocol window.
#pragma once

#include <QRect>

namespace vetlina {

struct RunPlacements {
    QRect metr, prot, stat, resl, show;
};

// main: the main window's frame; metrHeight: the run window's frame height.
RunPlacements defaultRunPlacements(const QRect& main, int metrHeight);

} // namespace vetlina
