// A scripted ZMK-5 on the far end of an in-memory port pair, for the tests of the
// analyzer thread: it answers the speed handshake, sends its identification, takes
// blocks (acknowledging each unless told not to), answers the calibration request,
// records every command with the tick it came at, and sends whatever the test asks
// for, including streams of raw frames of a test signal.
#pragma once

#include "SharedPort.h"
#include "Synthesis.h"
#include "device/Device.h"
#include "device/MemoryPort.h"
#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vetlina::test {

// A block the far end received: its words and the tick of its CR.
struct ReceivedBlock {
    uint32_t tick = 0;
    std::vector<uint16_t> words;
    uint16_t code() const { return words.empty() ? 0xFFFF : words[0]; }
};

// Stuffs a block as the analyzer sends it: every byte that the computer's receiver
// takes for a control byte goes escaped, ACK included.
inline std::string stuffBlock(const std::vector<uint8_t>& bytes) {
    std::string out(1, '\x02');
    for (uint8_t b : bytes) {
        if (b == 2 || b == 6 || b == 10 || b == 13 || b == 16 || b == 27) {
            out += '\x10';
            out += static_cast<char>(b ^ 0x20);
        } else {
            out += static_cast<char>(b);
        }
    }
    out += '\r';
    return out;
}

inline std::vector<uint8_t> wordBytes(const std::vector<int16_t>& words) {
    std::vector<uint8_t> bytes;
    for (int16_t w : words) {
        bytes.push_back(static_cast<uint8_t>(w & 0xFF));
        bytes.push_back(static_cast<uint8_t>((w >> 8) & 0xFF));
    }
    return bytes;
}

class ScriptedAnalyzer {
public:
    struct Script {
        // The reply to the speed command: empty = the command as it came; "-" = none.
        std::string speedReply;
        bool answerCr = true;
        std::string identification = "ZMK-5 Kerat, channel analyzer\r\n";
        // Byte counts of the blocks sent in reply to the calibration request, in order
        // (the type -11 first, the table after it, padded or cut to the count).
        std::vector<std::size_t> calibrationReplies = {52};
        std::array<int16_t, 25> calibration{};
        // Whether a received block is acknowledged.
        std::function<bool(const std::vector<uint16_t>& words)> acknowledge;
        // Lines the computer sees from the start.
        ModemLines lines{true, true, false, false};
        // The test runs on the stepped clock: the far end polls its line on the clock
        // (so that the clock waits for it) rather than in real time.
        bool steppedClock = false;
    };

    explicit ScriptedAnalyzer(Script script) : script_(std::move(script)) {
        auto [computer, far] = MemoryLine::makePair();
        computer_ = std::shared_ptr<MemoryPort>(computer.release());
        far_ = std::shared_ptr<MemoryPort>(far.release());
        computer_->setLines(script_.lines);
        far_->open(LineSettings{});
        thread_ = std::thread([this] { loop(); });
        // Once its thread runs, it counts for a stepped clock.
        while (!started_)
            std::this_thread::yield();
    }
    ~ScriptedAnalyzer() {
        stop_ = true;
        thread_.join();
    }

    // The port factory for the device (every open gets the same computer end).
    PortFactory factory() {
        return [port = computer_](int32_t) { return std::make_unique<SharedPort>(port); };
    }
    MemoryPort& computer() { return *computer_; }

    // Sends raw bytes to the computer.
    void send(const std::string& bytes) {
        std::lock_guard lock(writeMutex_);
        far_->write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000);
    }
    void sendBlock(const std::vector<int16_t>& words) { send(stuffBlock(wordBytes(words))); }

    // While set, the far end sends the frames of this signal as a -9 stream, one set per
    // 320 ms of the clock, with noise of the given RMS (sample units).
    void stream(Signal signal, double noiseRms = 3.0) {
        std::lock_guard lock(mutex_);
        signal_ = std::move(signal);
        noise_ = noiseRms;
    }
    void stopStream() {
        std::lock_guard lock(mutex_);
        signal_ = nullptr;
    }

    // Everything received: command blocks (without the announcing blocks) and raw bytes.
    std::vector<ReceivedBlock> commands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    std::string received() const {
        std::lock_guard lock(mutex_);
        return raw_;
    }
    bool identified() const { return identified_; }

private:
    enum class State { Speed, AwaitCr, Blocks };

    // How often the far end looks at its line on the stepped clock: every look is a step
    // of the clock that all the test's threads take in turn, so a look per millisecond
    // made a programme of minutes cost the machine hundreds of thousands of hand-offs
    // (tens of seconds on a busy machine). The analyzer thread reads its port every 50 ms
    // of the clock, so the far end still answers well before it is looked for.
    static constexpr uint32_t kSteppedPollMs = 10;

    void loop() {
        uint32_t nextSet = tickMs();
        started_ = true;
        uint32_t tag = 1;
        while (!stop_) {
            uint8_t buffer[256];
            const long n = far_->read(buffer, sizeof buffer);
            for (long i = 0; i < n; ++i)
                take(buffer[i]);
            Signal signal;
            double noise = 0.0;
            {
                std::lock_guard lock(mutex_);
                signal = signal_;
                noise = noise_;
            }
            if (signal && tickReached(nextSet)) {
                const double t0 = tag * 0.32;
                std::string bytes;
                for (const auto& f : frames(samples(signal, t0, noise, tag), -9, tag * 320))
                    bytes += stuffBlock(wordBytes(std::vector<int16_t>(f.begin(), f.end())));
                send(bytes);
                ++tag;
                nextSet += 320;
            }
            if (n <= 0 && script_.steppedClock)
                sleepMs(kSteppedPollMs);
            else if (n <= 0)
                std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    }

    void take(uint8_t byte) {
        {
            std::lock_guard lock(mutex_);
            raw_ += static_cast<char>(byte);
        }
        switch (state_) {
        case State::Speed:
            speed_ += static_cast<char>(byte);
            if (speed_.size() == 3) {
                if (script_.speedReply != "-")
                    send(script_.speedReply.empty() ? speed_ : script_.speedReply);
                speed_.clear();
                state_ = State::AwaitCr;
            }
            return;
        case State::AwaitCr:
            if (byte != '\r')
                return;
            if (script_.answerCr) {
                send("\r");
                send(script_.identification);
                identified_ = true;
            }
            state_ = State::Blocks;
            return;
        case State::Blocks:
            block(byte);
            return;
        }
    }

    void block(uint8_t byte) {
        if (byte == 2) {
            inBlock_ = true;
            escape_ = false;
            bytes_.clear();
            return;
        }
        if (byte == 16) {
            escape_ = true;
            return;
        }
        if (byte == '\r' && inBlock_) {
            inBlock_ = false;
            std::vector<uint16_t> words;
            for (std::size_t i = 0; i + 1 < bytes_.size(); i += 2)
                words.push_back(static_cast<uint16_t>(bytes_[i] | bytes_[i + 1] << 8));
            const bool ack = !script_.acknowledge || script_.acknowledge(words);
            const bool announce = words.size() == 1 && words[0] == 10;
            if (!announce) {
                std::lock_guard lock(mutex_);
                commands_.push_back({tickMs(), words});
            }
            if (ack)
                send("\x06");
            if (!announce && !words.empty() && words[0] == 13)
                for (std::size_t size : script_.calibrationReplies)
                    sendCalibration(size);
            return;
        }
        if (!inBlock_)
            return;
        bytes_.push_back(escape_ ? static_cast<uint8_t>(byte ^ 0x20) : byte);
        escape_ = false;
    }

    void sendCalibration(std::size_t size) {
        std::vector<int16_t> words(26);
        words[0] = -11;
        for (int i = 0; i < 25; ++i)
            words[i + 1] = script_.calibration[i];
        std::vector<uint8_t> bytes = wordBytes(words);
        bytes.resize(size, 0);
        send(stuffBlock(bytes));
    }

    Script script_;
    std::shared_ptr<MemoryPort> computer_;
    std::shared_ptr<MemoryPort> far_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> identified_{false};
    std::atomic<bool> started_{false};
    std::mutex writeMutex_;
    mutable std::mutex mutex_;
    std::vector<ReceivedBlock> commands_;
    std::string raw_;
    Signal signal_;
    double noise_ = 0.0;

    // Receiver state (far end's thread only).
    State state_ = State::Speed;
    std::string speed_;
    bool inBlock_ = false;
    bool escape_ = false;
    std::vector<uint8_t> bytes_;
};

} // namespace vetlina::test
