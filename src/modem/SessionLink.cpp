#include "modem/SessionLink.h"

#include "device/Device.h"
#include "platform/Clock.h"
#include "platform/Cp1251.h"
#include "ui/UiBridge.h"

namespace vetlina {

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
    if (buffer.empty())
        return true;
    const uint32_t start = tickMs();
    BlockReceiver receiver(buffer);
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
        const BlockReceiver::Step step = receiver.add(c);
        if (step == BlockReceiver::Step::More)
            continue;
        if (device_.Terminated())
            return false;
        if (!device_.carrier()) {
            device_.traceEvent(" -обрыв связи при приеме"_cp);
            return false;
        }
        if (step == BlockReceiver::Step::Complete)
            return writeChecked(link::ACK, start, " -не выдано подтверждение, истекло время",
                                " -не выдано подтверждение, обрыв связи");
        device_.traceEvent(step == BlockReceiver::Step::Short ? " -потеря символов при приеме"_cp
                                                              : " -приняты лишние символы"_cp);
        countRecvError();
        if (!writeChecked(link::NAK, start, " -не выдан запрос повтора, истекло время",
                          " -не выдан запрос повтора, обрыв связи"))
            return false;
        if (receiver.blocks() == kMaxTransmissions)
            return false;
    }
}

} // namespace vetlina
