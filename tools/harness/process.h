#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zavoket::harness {

// A program started with its output thrown away, and ended at the latest with the object.
// Run it through env(1) for another environment or folder.
class Process {
  public:
    explicit Process(const std::vector<std::string>& argv);
    ~Process() { end(15); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] bool running() const;
    // Sends the signal and waits for the end, at most two seconds before it kills the process;
    // true when it was still running. SIGTERM lets a server clean up after itself.
    bool end(int signal = 9);

  private:
    pid_t pid_ = -1;
};

// What a command, run by the shell, prints on its standard output.
[[nodiscard]] std::string printed(const std::string& command);

}  // namespace zavoket::harness
