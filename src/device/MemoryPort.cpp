#include "device/MemoryPort.h"

#include "platform/Clock.h"

namespace vetlina {

std::pair<std::unique_ptr<MemoryPort>, std::unique_ptr<MemoryPort>> MemoryLine::makePair() {
    auto line = std::make_shared<MemoryLine>();
    std::unique_ptr<MemoryPort> a(new MemoryPort(line, 0));
    std::unique_ptr<MemoryPort> b(new MemoryPort(line, 1));
    return {std::move(a), std::move(b)};
}

void MemoryLine::setFilter(int side, ByteFilter filter) {
    std::lock_guard lock(mutex_);
    ends_[side].filter = std::move(filter);
}

PortOpenResult MemoryPort::open(const LineSettings& settings) {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (end.open)
        return PortOpenResult::CannotOpen;
    if (end.openResult != PortOpenResult::Ok)
        return end.openResult;
    end.open = true;
    end.dtr = true;
    end.baudRate = settings.baudRate;
    return PortOpenResult::Ok;
}

void MemoryPort::close() {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    end.open = false;
    end.dtr = false;
    end.input.clear();
}

bool MemoryPort::isOpen() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].open;
}

bool MemoryPort::setBaudRate(uint32_t baudRate) {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open)
        return false;
    end.baudRate = baudRate;
    return true;
}

long MemoryPort::read(uint8_t* buffer, std::size_t size) {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open || end.failIo)
        return -1;
    std::size_t n = 0;
    while (n < size && !end.input.empty()) {
        buffer[n++] = end.input.front();
        end.input.pop_front();
    }
    return static_cast<long>(n);
}

long MemoryPort::write(const uint8_t* data, std::size_t size, uint32_t timeoutMs) {
    {
        std::lock_guard lock(line_->mutex_);
        auto& end = line_->ends_[side_];
        if (!end.open || end.failIo)
            return -1;
        if (!end.hold) {
            auto& far = line_->ends_[1 - side_];
            for (std::size_t i = 0; i < size; ++i) {
                if (!far.open)
                    continue; // nobody listens: the bytes are lost on the wire
                if (end.filter) {
                    for (char c : end.filter(data[i]))
                        far.input.push_back(static_cast<uint8_t>(c));
                } else {
                    far.input.push_back(data[i]);
                }
            }
            return static_cast<long>(size);
        }
    }
    // Output held by flow control: nothing leaves until the time-out.
    sleepMs(timeoutMs);
    return 0;
}

bool MemoryPort::purge() {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open)
        return false;
    end.input.clear();
    ++end.purges;
    return true;
}

std::optional<bool> MemoryPort::clearErrors() {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open || end.failIo)
        return std::nullopt;
    return end.hold;
}

bool MemoryPort::setDtr(bool on) {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open || end.failIo)
        return false;
    end.dtr = on;
    return true;
}

std::optional<ModemLines> MemoryPort::modemLines() {
    std::lock_guard lock(line_->mutex_);
    auto& end = line_->ends_[side_];
    if (!end.open || end.failIo)
        return std::nullopt;
    return end.lines;
}

void MemoryPort::setLines(const ModemLines& lines) {
    std::lock_guard lock(line_->mutex_);
    line_->ends_[side_].lines = lines;
}

ModemLines MemoryPort::lines() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].lines;
}

bool MemoryPort::dtr() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].dtr;
}

uint32_t MemoryPort::baudRate() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].baudRate;
}

void MemoryPort::failOpen(PortOpenResult result) {
    std::lock_guard lock(line_->mutex_);
    line_->ends_[side_].openResult = result;
}

void MemoryPort::failIo(bool fail) {
    std::lock_guard lock(line_->mutex_);
    line_->ends_[side_].failIo = fail;
}

void MemoryPort::holdOutput(bool hold) {
    std::lock_guard lock(line_->mutex_);
    line_->ends_[side_].hold = hold;
}

std::size_t MemoryPort::pending() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].input.size();
}

int MemoryPort::purgeCount() const {
    std::lock_guard lock(line_->mutex_);
    return line_->ends_[side_].purges;
}

} // namespace vetlina
