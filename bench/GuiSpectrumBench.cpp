// The visualisation window's spectrum plot drawing one frame of the analyzer (2048
// points over 0..6400 Hz, and the 4096-point echo envelope) into an offscreen image of
// the window's default size: grid, scales and the curve, as each repaint does.
#include "GuiBenchSupport.h"
#include "gui/ViewerWindows.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

using namespace vetlina;

QApplication& application() {
    return bench::guiApplication();
}

// A noisy channel with a tone: what a sine measurement shows.
std::vector<float> frame(int points, float floor) {
    std::vector<float> out(static_cast<std::size_t>(points));
    uint32_t seed = 12345;
    for (int i = 0; i < points; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) * 12.0f;
        const float tone = 80.0f * std::exp(-std::pow((i - points * 0.28f) / 3.0f, 2.0f));
        out[static_cast<std::size_t>(i)] = floor - noise + tone;
    }
    return out;
}

void drawFrame(benchmark::State& state, int32_t mode, int points) {
    application();
    VisualisationState show;
    show.spectrumMode = mode;
    show.spectrum = frame(points, mode == -6 ? -50.0f : -90.0f);
    SpectrumView view(show);
    const QSize size(1140, 535); // the visualisation window's default size
    view.resize(size);
    QImage image(size, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        view.draw(painter, QRect(QPoint(0, 0), size));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_SpectrumFrame2048(benchmark::State& state) {
    drawFrame(state, 0, 2048);
}
BENCHMARK(BM_SpectrumFrame2048)->Unit(benchmark::kMillisecond);

void BM_EchoEnvelope4096(benchmark::State& state) {
    drawFrame(state, -6, 4096);
}
BENCHMARK(BM_EchoEnvelope4096)->Unit(benchmark::kMillisecond);

} // namespace
