// Band-limited white Gaussian noise at a stated power, as an endless stream at the
// meter's rate. Blocks of 4096 samples are made in the frequency domain (Gaussian
// values in the bins of the band, none outside) and overlapped by half with
// power-complementary sine windows, so that the noise is stationary and its spectrum
// has edges about 5 Hz wide. Seeded: the same seed gives the same noise.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace vetlina::sim {

class BandNoise {
public:
    static constexpr int kBlock = 4096;

    BandNoise(double lowHz, double highHz, double levelDbm, uint32_t seed);

    // Adds the next out.size() samples of the stream (line units) to out.
    void render(std::span<double> out);

    double levelDbm() const { return levelDbm_; }

private:
    void nextBlock();

    double levelDbm_;
    int lowBin_;
    int highBin_;
    double scale_;
    std::mt19937 random_;
    std::normal_distribution<double> gauss_;
    std::vector<double> window_;
    std::vector<double> previous_; // the block whose second half is being played
    std::vector<double> current_;  // the block whose first half is being played
    int position_ = 0;             // within the half
};

} // namespace vetlina::sim
