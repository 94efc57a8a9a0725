#pragma once

#include <vector>

#include "batch/transfer.h"

namespace zavoket::test {

// Keeps a body in memory, to look at what a fetch delivered.
class MemorySink final : public BodySink {
  public:
    bool restart(std::string_view) override {
        bytes.clear();
        ++restarts;
        return true;
    }
    bool append(std::span<const char> data) override {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return true;
    }
    bool complete() override {
        completed = true;
        return true;
    }

    std::vector<char> bytes;
    int restarts = 0;
    bool completed = false;
};

}  // namespace zavoket::test
