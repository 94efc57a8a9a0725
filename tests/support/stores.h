#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "platform/atomic_file_store.h"

namespace zavoket::test {

using namespace std::chrono_literals;

// A file kept in memory, or refused as a full disk would, that never gets a name.
struct MemoryFile final : IncomingFile {
    Probe probe() override { return {true, {}}; }
    BodyPlan plan() override { return {true, since, copyBytes, grain}; }
    bool hasRoomFor(std::uint64_t bytes) override { return bytes <= room; }
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
    std::uint64_t copyBytes = 0;        // its length
    std::int64_t grain = 1;             // how coarsely its folder keeps times
    std::uint64_t room = UINT64_MAX;    // the folder's free space
    std::optional<std::int64_t> modified;
    int restarts = 0;
    bool full = false;
    bool completed = false;
};

// The real store, but the file named slowName takes a while to get its name: the moment
// between the end of its transfer and its name lasts long enough to act in, or whileNaming
// acts in it. It counts the files let go on the batch's own thread, which would make the window
// wait for the disk.
class SlowNamingStore final : public FileStore {
  public:
    std::unique_ptr<IncomingFile> prepare(const std::string& folder,
                                          const std::string& name) override {
        return std::make_unique<File>(*this, store.prepare(folder, name));
    }
    std::string slowName;
    std::function<void()> whileNaming = [] { std::this_thread::sleep_for(300ms); };
    const std::thread::id batchThread = std::this_thread::get_id();
    std::atomic<int> closedOnBatchThread{0};

  private:
    struct File final : IncomingFile {
        File(SlowNamingStore& s, std::unique_ptr<IncomingFile> f) : owner(s), file(std::move(f)) {}
        ~File() override {
            owner.closedOnBatchThread += owner.batchThread == std::this_thread::get_id();
        }
        Probe probe() override { return file->probe(); }
        void setModified(std::int64_t seconds) override { file->setModified(seconds); }
        void toBeNamed() override { file->toBeNamed(); }
        bool restart(std::string_view type) override { return file->restart(type); }
        bool hasRoomFor(std::uint64_t bytes) override { return file->hasRoomFor(bytes); }
        bool append(std::span<const char> bytes) override { return file->append(bytes); }
        bool complete() override { return file->complete(); }
        std::error_code commit(const std::string& path) override {
            path.ends_with("/" + owner.slowName) ? owner.whileNaming() : void();
            return file->commit(path);
        }
        SlowNamingStore& owner;
        std::unique_ptr<IncomingFile> file;
    };
    AtomicFileStore store{{.unnamedFiles = false}};  // temporary names, as on a USB stick
};

}  // namespace zavoket::test
