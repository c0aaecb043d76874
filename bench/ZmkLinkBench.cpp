// The analyzer link on an in-memory port pair: how fast the receive state machine takes
// a stream of raw frames apart, and what sending one stuffed command block costs.
#include "BenchSupport.h"
#include "analyzer/ZmkLink.h"
#include "device/Device.h"
#include "device/MemoryPort.h"
#include "ui/UiBridge.h"
#include "ui/WindowModels.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace vetlina;
using bench::IdleDevice;
using bench::SilentDialogs;

// A port end that stays reachable while the device owns its own handle to it.
class Shared : public SerialPort {
public:
    explicit Shared(std::shared_ptr<MemoryPort> p) : p_(std::move(p)) {}
    PortOpenResult open(const LineSettings& s) override { return p_->open(s); }
    void close() override { p_->close(); }
    bool isOpen() const override { return p_->isOpen(); }
    bool setBaudRate(uint32_t b) override { return p_->setBaudRate(b); }
    long read(uint8_t* b, std::size_t n) override { return p_->read(b, n); }
    long write(const uint8_t* d, std::size_t n, uint32_t t) override { return p_->write(d, n, t); }
    bool purge() override { return p_->purge(); }
    std::optional<bool> clearErrors() override { return p_->clearErrors(); }
    bool setDtr(bool on) override { return p_->setDtr(on); }
    std::optional<ModemLines> modemLines() override { return p_->modemLines(); }
    std::string lastError() const override { return {}; }

private:
    std::shared_ptr<MemoryPort> p_;
};

struct Bench {
    Bench() {
        auto [computer, far] = MemoryLine::makePair();
        computerEnd = std::shared_ptr<MemoryPort>(computer.release());
        farEnd = std::shared_ptr<MemoryPort>(far.release());
        computerEnd->setLines({true, true, false, false});
        farEnd->open(LineSettings{});
        device = std::make_unique<IdleDevice>(
            bridge, [p = computerEnd](int32_t) { return std::make_unique<Shared>(p); });
        device->OpenPort();
        link = std::make_unique<ZmkLink>(*device);
    }
    SilentDialogs dialogs;
    WindowModels models;
    UiBridge bridge{dialogs, models};
    std::shared_ptr<MemoryPort> computerEnd, farEnd;
    std::unique_ptr<IdleDevice> device;
    std::unique_ptr<ZmkLink> link;
};

// The 64 stuffed -9 frames of one frame set, with sample values that need escaping now
// and then, as real samples do.
std::string frameSet() {
    std::string out;
    for (int f = 0; f < 64; ++f) {
        std::vector<uint8_t> bytes;
        auto word = [&](int v) {
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        };
        word(-9);
        word(0);
        word(320);
        for (int i = 0; i < 64; ++i)
            word((f * 64 + i) * 37 % 65536 - 32768);
        word(64 * (f + 1));
        out += '\x02';
        for (uint8_t b : bytes) {
            if (b == 2 || b == 6 || b == 10 || b == 13 || b == 16 || b == 27) {
                out += '\x10';
                out += static_cast<char>(b ^ 0x20);
            } else {
                out += static_cast<char>(b);
            }
        }
        out += '\r';
    }
    return out;
}

void BM_ReceiveFrameSet(benchmark::State& state) {
    Bench b;
    const std::string set = frameSet();
    uint8_t block[512];
    std::size_t blocks = 0;
    for (auto _ : state) {
        b.farEnd->write(reinterpret_cast<const uint8_t*>(set.data()), set.size(), 0);
        for (int taken = 0; taken < 64;) {
            if (b.link->ReadEvent() & zmkstatus::BlockReady) {
                benchmark::DoNotOptimize(b.link->TakeBlock(block, sizeof block));
                ++taken;
            }
        }
        blocks += 64;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * set.size()));
    state.counters["blocks"] =
        benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiveFrameSet);

void BM_SendEchoCommandBlock(benchmark::State& state) {
    Bench b;
    // The largest command block, 34 bytes (the echo set-up).
    std::vector<uint8_t> command(34);
    for (std::size_t i = 0; i < command.size(); ++i)
        command[i] = static_cast<uint8_t>(i * 7);
    uint8_t sink[256];
    for (auto _ : state) {
        b.link->resetAfterHandshake();
        benchmark::DoNotOptimize(b.link->SendBlock(command.data(), command.size()));
        while (b.farEnd->read(sink, sizeof sink) > 0) {
        }
    }
}
BENCHMARK(BM_SendEchoCommandBlock);

} // namespace
