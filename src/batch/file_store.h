#pragma once

#include <memory>
#include <string>
#include <system_error>

#include "batch/transfer.h"

namespace zavoket {

// A file being received: it has no name, so nobody sees it until commit().
class IncomingFile : public BodySink {
  public:
    // Gives the completed file its name; path is a folder, a "/" and the file name, and the
    // folder need not be the one the file was created in. On success the name holds exactly
    // the body; on failure it holds what it held before. An uncommitted file leaves no trace.
    [[nodiscard]] virtual std::error_code commit(const std::string& path) = 0;
};

class FileStore {
  public:
    virtual ~FileStore() = default;

    // A new file in folder, or nullptr with error set when the folder cannot take one.
    [[nodiscard]] virtual std::unique_ptr<IncomingFile> create(const std::string& folder,
                                                               std::error_code& error) = 0;
};

}  // namespace zavoket
