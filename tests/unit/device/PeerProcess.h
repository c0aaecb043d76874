// A peer program run by a test (the RFC 2217 server script): started with pipes
// on stdin and stdout, given commands as JSON lines and heard as JSON lines.
// Waits are in real time: the peer runs on the real clock whatever the scale of ours.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vetlina::test {

class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& argv);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool running() const { return pid_ > 0; }
    void send(const nlohmann::json& command);

    // The next event after the last one matched that satisfies match; the
    // events passed over stay in history().
    std::optional<nlohmann::json> waitFor(const std::function<bool(const nlohmann::json&)>& match,
                                          int realMs = 5000);
    std::optional<nlohmann::json> waitForEvent(const std::string& event, int realMs = 5000);

    // The data bytes of the "data" events, in order, once count of them have
    // come (or what came within the time).
    std::string collectData(std::size_t count, int realMs = 5000);

    const std::vector<nlohmann::json>& history() const { return history_; }

private:
    bool readMore(int realMs);

    pid_t pid_ = -1;
    int toPeer_ = -1;
    int fromPeer_ = -1;
    std::string pending_;
    std::vector<nlohmann::json> history_;
    std::size_t cursor_ = 0;
    std::size_t dataCursor_ = 0;
    std::string data_;
};

// The RFC 2217 server script of these tests, started; its listening port.
struct Rfc2217Peer {
    Rfc2217Peer();
    PeerProcess process;
    int port = 0;
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

std::string toHex(const std::string& bytes);
std::string fromHex(const std::string& hex);

} // namespace vetlina::test
