#include "sim/ChannelPath.h"

#include "sim/Config.h"
#include "sim/EventLog.h"

#include <cmath>

namespace vetlina::sim {

namespace {

constexpr double kNoiseLowHz = 300.0;
constexpr double kNoiseHighHz = 3400.0;

} // namespace

ChannelPath::ChannelPath(EventLog* log, std::string station)
    : log_(log), station_(std::move(station)) {}

const DirectionModel& ChannelPath::directionOf(const FarEnd& far) {
    if (far.channel == nullptr)
        return ideal_;
    auto it = models_.find(far.channel);
    if (it == models_.end()) {
        std::string error;
        auto model = parseChannelModel(far.channel->model, error);
        if (!model && log_ != nullptr)
            log_->write(station_, "config-error",
                        {{"channel", far.channel->first + "-" + far.channel->second},
                         {"error", error},
                         {"note", "the channel is taken as ideal"}});
        it = models_.emplace(far.channel, std::move(model)).first;
    }
    return it->second ? it->second->direction(far.reversed) : ideal_;
}

void ChannelPath::follow(int64_t first, const std::optional<FarEnd>& far,
                         const LineConnection& connection) {
    const bool present = far.has_value() && connection.line;
    const GeneratorSignal signal = present ? far->signal : GeneratorSignal{};
    const ChannelConfig* channel = present ? far->channel : nullptr;
    const bool reversed = present && far->reversed;
    if (present == farPresent_ && signal == farSignal_ && channel == farChannel_ &&
        reversed == farReversed_)
        return;
    const bool sameChannel =
        present == farPresent_ && channel == farChannel_ && reversed == farReversed_;
    farPresent_ = present;
    farSignal_ = signal;
    farChannel_ = channel;
    farReversed_ = reversed;
    direction_ = present ? &directionOf(*far) : nullptr;

    std::vector<Tone> tones = signalTones(signal);
    if (direction_ != nullptr) {
        const double gain = std::pow(10.0, -direction_->attenuationDb / 20.0);
        for (Tone& tone : tones)
            tone.amplitude *= gain;
    }
    farTones_ = ToneBank(std::move(tones), first);
    // The noise belongs to the connection: it runs on while the far signal changes.
    if (!sameChannel) {
        noise_.reset();
        if (direction_ != nullptr && direction_->noiseDbm)
            noise_ = std::make_unique<BandNoise>(kNoiseLowHz, kNoiseHighHz, *direction_->noiseDbm,
                                                 direction_->seed);
    }
}

void ChannelPath::render(int64_t first, std::span<double> out, const std::optional<FarEnd>& far,
                         const Zmk5Generator& own, const LineConnection& connection) {
    follow(first, far, connection);
    if (farPresent_) {
        farTones_.render(first, out);
        if (noise_)
            noise_->render(out);
    }
    if (connection.ownDirect || connection.divider != LineConnection::Divider::None)
        own.render(first, out);
}

} // namespace vetlina::sim
