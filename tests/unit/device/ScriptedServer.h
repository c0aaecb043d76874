// A serial device server that misbehaves on purpose: a TCP listener on
// 127.0.0.1 whose one connection is served by a script of the test (send
// garbage, refuse options, never read, go silent ...), in a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace vetlina::test {

class ScriptedServer {
public:
    // What a script works with: the accepted connection and the stop request.
    class Connection {
    public:
        Connection(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}
        int fd() const { return fd_; }
        bool stopping() const { return stop_.load(std::memory_order_acquire); }
        // Sends everything unless the client goes or the server is stopped.
        bool send(const std::string& bytes);
        // What the client sent within realMs of real time ("" when nothing).
        std::string receive(int realMs);
        // Reads and discards until the client closes or the server is stopped.
        void drainUntilClosed();
        // Neither reads nor writes until the server is stopped.
        void idleUntilStopped();

    private:
        int fd_;
        const std::atomic<bool>& stop_;
    };
    using Script = std::function<void(Connection&)>;

    // receiveBuffer > 0 shrinks the accepted socket's receive buffer, so that a
    // client writing to a server that does not read is held back soon.
    explicit ScriptedServer(Script script, int receiveBuffer = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // Whether the script has finished.
    bool finished() const { return finished_.load(std::memory_order_acquire); }

private:
    void serve(Script script);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// The server's half of a quick open: it agrees to COM-PORT-OPTION, answers the
// baud rate and notifies the given modem state, so open() needs no time-outs.
std::string agreeingServerGreeting(uint32_t baudRate = 9600, uint8_t modemState = 0x30);

// A free TCP port on 127.0.0.1 with nobody listening on it.
int closedPort();

} // namespace vetlina::test
