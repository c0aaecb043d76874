// Fuzz target: the receive state machine of the RFC 2217 client. Any bytes from a
// serial device server decode with bounded memory; the events do not depend on how the
// stream is cut into reads; data bytes that went doubled come back unchanged.
//
// Input: one byte of the read size (1..256), then the stream of the server.
#include "device/Rfc2217Protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace vetlina::rfc2217;

// The events as one text: data runs joined, each command tagged.
class Recorder : public TelnetHandler {
public:
    std::string events;
    std::string data;
    std::size_t dataBytes = 0;

    void onData(const uint8_t* bytes, std::size_t size) override {
        if (size == 0)
            std::abort();
        data.append(reinterpret_cast<const char*>(bytes), size);
        dataBytes += size;
    }
    void onNegotiation(uint8_t verb, uint8_t option) override {
        if (verb < WILL || verb > DONT)
            std::abort();
        flush();
        events += 'N';
        events += static_cast<char>(verb);
        events += static_cast<char>(option);
    }
    void onSubnegotiation(const uint8_t* body, std::size_t size) override {
        if (size > TelnetDecoder::kMaxSubnegotiation)
            std::abort();
        flush();
        events += 'S';
        events += std::to_string(size);
        events.append(reinterpret_cast<const char*>(body), size);
    }
    void flush() {
        if (!data.empty()) {
            events += 'D';
            events += std::to_string(data.size());
            events += data;
            data.clear();
        }
    }
};

std::string decode(const uint8_t* bytes, std::size_t size, std::size_t readSize,
                   std::size_t& dataBytes) {
    TelnetDecoder decoder;
    Recorder recorder;
    for (std::size_t at = 0; at < size; at += readSize) {
        decoder.feed(bytes + at, std::min(readSize, size - at), recorder);
        if (decoder.heldBytes() > TelnetDecoder::kMaxSubnegotiation + 2)
            std::abort();
    }
    recorder.flush();
    dataBytes = recorder.dataBytes;
    return recorder.events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const std::size_t readSize = data[0] + 1u;
    ++data;
    --size;
    std::size_t wholeData = 0, cutData = 0;
    const std::string whole = decode(data, size, size == 0 ? 1 : size, wholeData);
    const std::string cut = decode(data, size, readSize, cutData);
    if (whole != cut || wholeData > size)
        std::abort();

    // Data with every IAC doubled decodes to itself.
    std::string wire;
    appendEscaped(wire, data, size);
    TelnetDecoder decoder;
    Recorder recorder;
    decoder.feed(reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), recorder);
    recorder.flush();
    if (recorder.data.size() != 0 || recorder.dataBytes != size ||
        (size > 0 && recorder.events.find(std::string(reinterpret_cast<const char*>(data), size)) ==
                         std::string::npos))
        std::abort();
    return 0;
}
