// A program started by a test: arguments, its own environment, standard output and error captured
// in files (read while it runs or after), signals, and a bounded wait for its exit status.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ab::testing {

class ChildProcess {
  public:
    // `env` replaces the named variables of this process's environment; an empty value removes
    // the variable. Output goes to `outFile` and `errFile`.
    ChildProcess(const std::filesystem::path& program, std::vector<std::string> args,
                 const std::map<std::string, std::string>& env, std::filesystem::path outFile,
                 std::filesystem::path errFile)
        : out_(std::move(outFile)), err_(std::move(errFile)) {
        std::map<std::string, std::string> all;
        for (char** e = environ; *e; ++e) {
            const std::string kv = *e;
            const auto eq = kv.find('=');
            if (eq != std::string::npos)
                all[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        for (const auto& [k, v] : env) {
            if (v.empty())
                all.erase(k);
            else
                all[k] = v;
        }
        std::vector<std::string> envStrings;
        for (const auto& [k, v] : all)
            envStrings.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& s : envStrings)
            envp.push_back(s.data());
        envp.push_back(nullptr);

        args.insert(args.begin(), program.string());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0 || status_ >= 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int sig) const {
        if (pid_ > 0)
            ::kill(pid_, sig);
    }

    // The exit status (128 + signal when killed), or -1 when it has not ended within the time.
    int Wait(std::chrono::milliseconds timeout) {
        if (status_ >= 0)
            return status_;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return status_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < deadline);
        return -1;
    }

    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

    // Waits until standard output (or error) holds `text`; false when the time ran out or the
    // program ended without writing it.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        return WaitFor(out_, text, timeout);
    }
    bool WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
        return WaitFor(err_, text, timeout);
    }

  private:
    bool WaitFor(const std::filesystem::path& file, const std::string& text,
                 std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ReadFile(file).find(text) != std::string::npos)
                return true;
            if (status_ >= 0 || Wait(std::chrono::milliseconds(0)) >= 0)
                return ReadFile(file).find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    static std::string ReadFile(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace ab::testing
