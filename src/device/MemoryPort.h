// An in-memory serial line for tests: two ports joined back to back. What one end
// writes the other end reads. Each end's modem-status lines are set by the test;
// a filter may lose, duplicate or change bytes in flight.
#pragma once

#include "device/SerialPort.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vetlina {

class MemoryLine;

class MemoryPort : public SerialPort {
public:
    PortOpenResult open(const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override;
    bool setBaudRate(uint32_t baudRate) override;
    long read(uint8_t* buffer, std::size_t size) override;
    long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) override;
    bool purge() override;
    std::optional<bool> clearErrors() override;
    bool setDtr(bool on) override;
    std::optional<ModemLines> modemLines() override;
    std::string lastError() const override { return "memory port"; }

    // Test side of this end.
    void setLines(const ModemLines& lines); // what this end's computer sees
    ModemLines lines() const;
    bool dtr() const;
    uint32_t baudRate() const;
    // Makes open() fail with the given result (CannotOpen or SystemError).
    void failOpen(PortOpenResult result);
    // Makes reads, writes or line queries fail (return -1 / nullopt).
    void failIo(bool fail);
    // Holds the output as a CTS-held port would: writes time out, clearErrors reports the hold.
    void holdOutput(bool hold);
    // Bytes that this end has received and not read yet.
    std::size_t pending() const;
    int purgeCount() const;

private:
    friend class MemoryLine;
    MemoryPort(std::shared_ptr<MemoryLine> line, int side) : line_(std::move(line)), side_(side) {}
    std::shared_ptr<MemoryLine> line_;
    int side_;
};

// Each byte written passes the filter of the writing end: it returns the bytes
// that arrive in its place (none, the byte, the byte twice, another byte).
using ByteFilter = std::function<std::string(uint8_t byte)>;

class MemoryLine {
public:
    // A new line with its two ends, both closed, all lines off.
    static std::pair<std::unique_ptr<MemoryPort>, std::unique_ptr<MemoryPort>> makePair();

    // Shared state of the two ends; the ports lock it for every operation.
    struct End {
        bool open = false;
        bool dtr = false;
        bool failIo = false;
        bool hold = false;
        uint32_t baudRate = 0;
        ModemLines lines;
        PortOpenResult openResult = PortOpenResult::Ok;
        std::deque<uint8_t> input; // bytes waiting to be read by this end
        ByteFilter filter;         // applied to what this end writes
        int purges = 0;
    };

    void setFilter(int side, ByteFilter filter);

private:
    friend class MemoryPort;
    mutable std::mutex mutex_;
    End ends_[2];
};

} // namespace vetlina
