// vetlina-run as a child process for the tests: started in a folder of its own (its
// stdout and stderr in files there, stdin empty), its clock at the scale given, ended
// by a signal or by itself; killed if the test leaves it running.
#pragma once

#include "SimProcess.h"
#include "TempFolder.h"
#include "platform/Files.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace vetlina::test {

// Waits (real time) until the file holds the text: the event a test of a running
// vetlina-run waits for before it acts.
inline bool waitForText(const std::string& path, const std::string& text, int realSeconds = 30) {
    return waitReal(
        [&] { return readWholeFile(path).value_or("").find(text) != std::string::npos; },
        realSeconds * 1000);
}

class RunProcess {
public:
    // stdoutFd: a descriptor to give the run as its stdout instead of stdout.txt.
    RunProcess(const TempFolder& folder, std::vector<std::string> args,
               const std::string& timeScale, int stdoutFd = -1)
        : folder_(folder) {
        const std::string runner = VETLINA_BINARY_DIR "/src/cli/vetlina-run";
        std::vector<std::string> argv{runner};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argvPtr;
        for (auto& a : argv)
            argvPtr.push_back(a.data());
        argvPtr.push_back(nullptr);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("VETLINA_TIME_SCALE=", 0) != 0)
                env.emplace_back(*e);
        env.push_back("VETLINA_TIME_SCALE=" + timeScale);
        std::vector<char*> envPtr;
        for (auto& e : env)
            envPtr.push_back(e.data());
        envPtr.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, folder.path().c_str());
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (stdoutFd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "stdout.txt",
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "stderr.txt", O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        started_ = posix_spawn(&pid_, runner.c_str(), &actions, nullptr, argvPtr.data(),
                               envPtr.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~RunProcess() {
        if (started_ && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    RunProcess(const RunProcess&) = delete;
    RunProcess& operator=(const RunProcess&) = delete;

    bool started() const { return started_; }
    void signal(int sig) { ::kill(pid_, sig); }

    // The exit status (128 + the signal when a signal ended it), or -1 when the run did
    // not end within the real time given.
    int wait(int realMs = 30000) {
        int result = -1;
        waitReal(
            [&] {
                int status = 0;
                if (::waitpid(pid_, &status, WNOHANG) != pid_)
                    return false;
                exited_ = true;
                result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return true;
            },
            realMs);
        return result;
    }

    std::string out() const { return folder_.read("stdout.txt"); }
    std::string err() const { return folder_.read("stderr.txt"); }

private:
    const TempFolder& folder_;
    pid_t pid_ = -1;
    bool started_ = false;
    bool exited_ = false;
};

} // namespace vetlina::test
