#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "batch/transfer.h"

namespace zavoket {

// The copy that stands under a file's name already, as the store finds it before the request.
struct StandingCopy {
    std::int64_t modified = 0;  // seconds since 1970
    std::string head;           // its first bytes (up to kStandingHeadBytes), all of a shorter one
    std::uint64_t length = 0;
    std::int64_t timeGrain = 1;  // seconds: the folder keeps times that coarsely (2 on FAT)
};
inline constexpr std::size_t kStandingHeadBytes = 512;

// A file being received: it has no name, so nobody sees it until commit().
class IncomingFile : public BodySink {
  public:
    // On the transfer's thread, before the request: whether the folder can take a file at all
    // (false: read-only, gone, not a folder, no permission), and the regular file that stands
    // under the name already, if any.
    struct Probe {
        bool folderUsable = false;
        std::optional<StandingCopy> copy;
    };
    [[nodiscard]] virtual Probe probe() = 0;

    void setModified(std::int64_t seconds) override = 0;

    // Whole, and handed over to be named: a close that removes the files still coming in lets
    // it have its name.
    virtual void toBeNamed() = 0;

    // Flushes the whole file to disk and gives it its name; path is a folder, a "/" and the
    // file name, and the folder need not be the one the file was received in. On success the
    // name holds exactly the body; on failure it holds what it held before. An uncommitted file
    // leaves no trace.
    [[nodiscard]] virtual std::error_code commit(const std::string& path) = 0;
};

class FileStore {
  public:
    virtual ~FileStore() = default;

    // A file for the next body, meant for name in folder. Nothing touches the disk here: the
    // folder is tried on the transfer's thread, and the file is made when its body begins.
    // Where the folder cannot take it, the body goes nowhere and the file fails at complete().
    [[nodiscard]] virtual std::unique_ptr<IncomingFile> prepare(const std::string& folder,
                                                                const std::string& name) = 0;
};

}  // namespace zavoket
