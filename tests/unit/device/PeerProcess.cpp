#include "PeerProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vetlina::test {
namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

PeerProcess::PeerProcess(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int status = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (status != 0) {
        ::close(in[1]);
        ::close(out[0]);
        return;
    }
    pid_ = pid;
    toPeer_ = in[1];
    fromPeer_ = out[0];
}

PeerProcess::~PeerProcess() {
    if (toPeer_ >= 0)
        ::close(toPeer_); // the script ends at the end of its input
    if (pid_ > 0) {
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(20000);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    if (fromPeer_ >= 0)
        ::close(fromPeer_);
}

void PeerProcess::send(const nlohmann::json& command) {
    std::string line = command.dump() + "\n";
    std::size_t done = 0;
    while (toPeer_ >= 0 && done < line.size()) {
        ssize_t n = ::write(toPeer_, line.data() + done, line.size() - done);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            done += static_cast<std::size_t>(n);
    }
}

bool PeerProcess::readMore(int realMs) {
    pollfd p{fromPeer_, POLLIN, 0};
    if (fromPeer_ < 0 || ::poll(&p, 1, realMs) <= 0)
        return false;
    char buffer[4096];
    ssize_t n = ::read(fromPeer_, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    for (auto end = pending_.find('\n'); end != std::string::npos; end = pending_.find('\n')) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (!event.is_discarded())
            history_.push_back(std::move(event));
    }
    return true;
}

std::optional<nlohmann::json>
PeerProcess::waitFor(const std::function<bool(const nlohmann::json&)>& match, int realMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
        for (; cursor_ < history_.size(); ++cursor_) {
            if (match(history_[cursor_]))
                return history_[cursor_++];
        }
        int left = msLeft(deadline);
        if (left == 0 || !readMore(left))
            return std::nullopt;
    }
}

std::optional<nlohmann::json> PeerProcess::waitForEvent(const std::string& event, int realMs) {
    return waitFor([&](const nlohmann::json& e) { return e.value("event", "") == event; }, realMs);
}

std::string PeerProcess::collectData(std::size_t count, int realMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
        for (; dataCursor_ < history_.size(); ++dataCursor_) {
            const auto& e = history_[dataCursor_];
            if (e.value("event", "") == "data")
                data_ += fromHex(e.value("hex", ""));
        }
        if (data_.size() >= count)
            break;
        int left = msLeft(deadline);
        if (left == 0 || !readMore(left))
            break;
    }
    std::string taken = data_.substr(0, count);
    data_.erase(0, taken.size());
    return taken;
}

Rfc2217Peer::Rfc2217Peer()
    : process({"/usr/bin/python3", VETLINA_SOURCE_DIR "/tests/unit/device/rfc2217_peer.py"}) {
    if (auto listening = process.waitForEvent("listening", 20000))
        port = listening->value("port", 0);
}

std::string toHex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(value(hex[i]) << 4 | value(hex[i + 1])));
    return bytes;
}

} // namespace vetlina::test
