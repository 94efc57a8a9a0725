#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "batch/file_store.h"

namespace zavoket::test {

// A file kept in memory, or refused as a full disk would, that never gets a name.
struct MemoryFile final : IncomingFile {
    Probe probe() override { return {true, {}}; }
    BodyPlan plan() override { return {true, since}; }
    void setModified(std::int64_t seconds) override { modified = seconds; }
    void toBeNamed() override {}
    bool restart(std::string_view) override { return ++restarts, bytes.clear(), true; }
    bool append(std::span<const char> data) override {
        return bytes.append(data.data(), data.size()), !full;
    }
    bool complete() override { return completed = true; }
    std::error_code commit(const std::string&) override { return {}; }

    std::string bytes;
    std::optional<std::int64_t> since;  // the time of a copy that stands, for the request
    std::optional<std::int64_t> modified;
    int restarts = 0;
    bool full = false;
    bool completed = false;
};

}  // namespace zavoket::test
