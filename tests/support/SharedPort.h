// A port that forwards to an in-memory port the test holds too: a Device closes and
// drops its port when it likes, and the test goes on using the line after the Device
// that opened it is gone. Optionally it shows the carrier (and DSR) gone once a number
// of bytes has been written or read, and changes what it writes on the way.
#pragma once

#include "device/MemoryPort.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vetlina::test {

class SharedPort : public SerialPort {
public:
    explicit SharedPort(std::shared_ptr<MemoryPort> port) : port_(std::move(port)) {}

    // The lines read all off once this many bytes went through (0: never).
    std::size_t carrierGoneAfterWritten = 0;
    std::size_t carrierGoneAfterRead = 0;
    // What arrives at the far end in place of each byte written (lost, doubled, changed).
    ByteFilter filter;
    // Called on the reading thread before each read: a paced far side puts there what is
    // due by the reader's clock, so that what arrives is exact at every read.
    std::function<void()> beforeRead;

    PortOpenResult open(const LineSettings& s) override { return port_->open(s); }
    void close() override { port_->close(); }
    bool isOpen() const override { return port_->isOpen(); }
    bool setBaudRate(uint32_t b) override { return port_->setBaudRate(b); }
    bool purge() override { return port_->purge(); }
    std::optional<bool> clearErrors() override { return port_->clearErrors(); }
    bool setDtr(bool on) override { return port_->setDtr(on); }
    std::string lastError() const override { return port_->lastError(); }

    long read(uint8_t* buffer, std::size_t size) override {
        if (beforeRead)
            beforeRead();
        const long n = port_->read(buffer, size);
        if (n > 0)
            read_ += static_cast<std::size_t>(n);
        return n;
    }

    long write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) override {
        if (!filter) {
            const long n = port_->write(data, size, timeoutMs);
            if (n > 0)
                written_ += static_cast<std::size_t>(n);
            return n;
        }
        std::string arriving;
        for (std::size_t i = 0; i < size; ++i)
            arriving += filter(data[i]);
        const long n = port_->write(reinterpret_cast<const uint8_t*>(arriving.data()),
                                    arriving.size(), timeoutMs);
        if (n < 0 || static_cast<std::size_t>(n) < arriving.size())
            return n < 0 ? n : 0;
        written_ += size;
        return static_cast<long>(size);
    }

    std::optional<ModemLines> modemLines() override {
        auto lines = port_->modemLines();
        if (lines && ((carrierGoneAfterWritten > 0 && written_ >= carrierGoneAfterWritten) ||
                      (carrierGoneAfterRead > 0 && read_ >= carrierGoneAfterRead))) {
            lines->carrier = false;
            lines->dsr = false;
        }
        return lines;
    }

private:
    std::shared_ptr<MemoryPort> port_;
    std::atomic<std::size_t> written_{0};
    std::atomic<std::size_t> read_{0};
};

} // namespace vetlina::test
