// Runs skelvane-camsim (from SKELVANE_BIN_DIR) as a child process for tests and benchmarks.
// With `withButtonLine` its standard input is a pipe, and PressButton and DropStreams write
// their lines to it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

class CamSimProcess {
public:
    static std::string Path() {
        const char* binDir = getenv("SKELVANE_BIN_DIR");
        return std::string(binDir != nullptr ? binDir : ".") + "/skelvane-camsim";
    }

    // Starts the simulator and waits up to 20 s for its ready line.
    explicit CamSimProcess(const std::vector<std::string>& arguments, bool withButtonLine = false) {
        int output[2];
        if (pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        int input[2] = {-1, -1};
        if (withButtonLine && pipe2(input, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (withButtonLine) {
            posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        std::string path = Path();
        std::vector<char*> argv{path.data()};
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        if (withButtonLine) {
            close(input[0]);
            buttonLine_ = input[1];
        }
        if (pid_ > 0) {
            ready_ = ReadReadyLine(output[0]);
        }
        close(output[0]);
    }

    ~CamSimProcess() {
        Stop();
        if (buttonLine_ >= 0) {
            close(buttonLine_);
        }
    }
    CamSimProcess(const CamSimProcess&) = delete;
    CamSimProcess& operator=(const CamSimProcess&) = delete;

    bool Ready() const { return ready_; }
    const std::string& ReadyLine() const { return readyLine_; }
    pid_t Pid() const { return pid_; }

    // Ends the simulator the way a user does; returns its exit status (-1 if not running).
    int Stop() {
        if (pid_ <= 0) {
            return -1;
        }
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Freezes the process: its connections stay open but nothing more is sent.
    void Pause() { kill(pid_, SIGSTOP); }
    void Resume() { kill(pid_, SIGCONT); }
    bool PressButton() { return WriteLine("\n"); }
    // Closes every stream connection, as a camera leaving the network does.
    bool DropStreams() { return WriteLine("drop\n"); }

private:
    bool WriteLine(const std::string& line) {
        return buttonLine_ >= 0 &&
               write(buttonLine_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }
    bool ReadReadyLine(int fd) {
        std::string text;
        char buffer[256];
        while (text.find('\n') == std::string::npos) {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 20000) <= 0) {
                return false;
            }
            ssize_t received = read(fd, buffer, sizeof(buffer));
            if (received <= 0) {
                return false;
            }
            text.append(buffer, static_cast<size_t>(received));
        }
        readyLine_ = text.substr(0, text.find('\n'));
        return readyLine_.find("ready") != std::string::npos;
    }

    pid_t pid_ = -1;
    int buttonLine_ = -1;
    bool ready_ = false;
    std::string readyLine_;
};
