#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <thread>

extern char** environ;

namespace zavoket::test {

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& folder) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view inherited(*entry);
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&](auto& own) {
            return inherited.substr(0, inherited.find('=') + 1) == own.substr(0, own.find('=') + 1);
        });
        if (!replaced) {
            env.push_back(*entry);
        }
    }
    for (const auto& entry : environment) {
        env.push_back(const_cast<char*>(entry.c_str()));
    }
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

std::string printed(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) {
            text.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return text;
}

bool Process::running() const {
    return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool Process::end(int signal) {
    if (pid_ <= 0) {
        return false;
    }
    const bool wasRunning = ::waitpid(pid_, nullptr, WNOHANG) == 0;
    if (wasRunning) {
        ::kill(pid_, SIGCONT);  // a stopped one could not take the signal
        ::kill(pid_, signal);
        bool ended = false;
        for (int i = 0; i < 200 && !ended; ++i) {
            ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
            if (!ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_ = -1;
    return wasRunning;
}

}  // namespace zavoket::test
