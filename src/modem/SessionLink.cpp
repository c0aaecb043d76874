#include "modem/SessionLink.h"

#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

namespace vetlina {

std::string encodeBlock(std::span<const uint8_t> data) {
    std::string wire;
    wire.reserve(data.size() * 2 + 1);
    for (uint8_t byte : data) {
        if (needsEscape(byte)) {
            wire += static_cast<char>(link::DLE);
            wire += static_cast<char>(byte ^ link::kEscapeMask);
        } else {
            wire += static_cast<char>(byte);
        }
    }
    wire += static_cast<char>(link::CR);
    return wire;
}

SessionLink::SessionLink(Device& device, int32_t& recvErrors, int32_t& sendRepeats)
    : device_(device), recvErrors_(recvErrors), sendRepeats_(sendRepeats) {}

SessionLink::Check SessionLink::check(uint32_t start) {
    if (device_.Terminated())
        return Check::Terminated;
    if (tickMs() - start >= kOperationLimitMs)
        return Check::TimeUp;
    if (!device_.carrier())
        return Check::NoCarrier;
    return Check::Go;
}

bool SessionLink::writeChecked(uint8_t byte, uint32_t start, const char* timeUpText,
                               const char* noCarrierText) {
    for (;;) {
        switch (check(start)) {
        case Check::Terminated:
            return false;
        case Check::TimeUp:
            device_.traceEvent(toCp1251(timeUpText));
            return false;
        case Check::NoCarrier:
            device_.traceEvent(toCp1251(noCarrierText));
            return false;
        case Check::Go:
            break;
        }
        if (device_.putch(byte))
            return true;
    }
}

void SessionLink::countRecvError() {
    device_.invokeSync([this] {
        ++recvErrors_;
        device_.ui().models().setCounter(RunCounter::MdmRecvErr, recvErrors_);
    });
}

void SessionLink::countSendRepeat() {
    device_.invokeSync([this] {
        ++sendRepeats_;
        device_.ui().models().setCounter(RunCounter::MdmSendErr, sendRepeats_);
    });
}

bool SessionLink::sendBlock(std::span<const uint8_t> data) {
    if (data.empty())
        return true;
    const uint32_t start = tickMs();
    const std::string wire = encodeBlock(data);
    for (int attempt = 1; attempt <= kMaxTransmissions; ++attempt) {
        for (char c : wire)
            if (!writeChecked(static_cast<uint8_t>(c), start, " -истекло время передачи",
                              " -обрыв связи при передаче"))
                return false;

        uint8_t reply = 0;
        for (bool got = false; !got;) {
            switch (check(start)) {
            case Check::Terminated:
                return false;
            case Check::TimeUp:
                device_.traceEvent(" -нет подтверждения передачи, истекло время "_cp);
                return false;
            case Check::NoCarrier:
                device_.traceEvent(" -нет подтверждения передачи, обрыв связи"_cp);
                return false;
            case Check::Go:
                break;
            }
            got = device_.getch(reply);
        }

        if (reply == link::NAK) {
            device_.traceEvent(" -принят запрос повтора"_cp);
            countSendRepeat();
            continue;
        }
        if (reply == link::ACK)
            return true;
        if (!device_.carrier()) {
            device_.traceEvent(" -нет подтверждения передачи, обрыв связи"_cp);
            return false;
        }
        if (reply == link::CR) {
            // The acknowledgement of this block and the start of the far side's next
            // block were lost: ask for that block again; this one counts as delivered.
            device_.traceEvent(" -потеряно подтверждение и данные"_cp);
            countRecvError();
            return device_.putch(link::NAK);
        }
        device_.traceEvent(" -потеряно подтверждение передачи"_cp);
        countRecvError();
        return true;
    }
    return false;
}

bool SessionLink::receiveBlock(std::span<uint8_t> buffer) {
    const std::size_t n = buffer.size();
    if (n == 0)
        return true;
    const uint32_t start = tickMs();
    for (int block = 1;; ++block) {
        std::size_t count = 0;
        uint8_t mask = 0;
        for (;;) {
            // A far side that keeps sending without ever ending a block must not hold
            // the receiver past its limit, so time and terminate request are checked
            // for every character, not only while the line is silent.
            if (device_.Terminated())
                return false;
            if (tickMs() - start > kOperationLimitMs) {
                device_.traceEvent(" -истекло время приема"_cp);
                return false;
            }
            uint8_t c = 0;
            if (!device_.getch(c)) {
                if (!device_.carrier()) {
                    device_.traceEvent(" -обрыв связи при приеме"_cp);
                    return false;
                }
                continue;
            }
            if (c == link::CR)
                break;
            if (c == link::DLE) {
                mask = link::kEscapeMask;
                continue;
            }
            uint8_t byte = c ^ mask;
            mask = 0;
            if (count < n)
                buffer[count++] = byte;
            else
                count = n + 1; // surplus: dropped
        }
        if (device_.Terminated())
            return false;
        if (!device_.carrier()) {
            device_.traceEvent(" -обрыв связи при приеме"_cp);
            return false;
        }
        if (count == n)
            return writeChecked(link::ACK, start, " -не выдано подтверждение, истекло время",
                                " -не выдано подтверждение, обрыв связи");
        device_.traceEvent(count < n ? " -потеря символов при приеме"_cp
                                     : " -приняты лишние символы"_cp);
        countRecvError();
        if (!writeChecked(link::NAK, start, " -не выдан запрос повтора, истекло время",
                          " -не выдан запрос повтора, обрыв связи"))
            return false;
        if (block == kMaxTransmissions)
            return false;
    }
}

} // namespace vetlina
