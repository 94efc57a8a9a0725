#pragma once

#include <memory>
#include <string>
#include <system_error>

#include "batch/transfer.h"

namespace zavoket {

// A file being received: it has no name, so nobody sees it until commit().
class IncomingFile : public BodySink {
  public:
    // Flushes the whole file to disk and gives it its name; path is a folder, a "/" and the
    // file name, and the folder need not be the one the file was received in. On success the
    // name holds exactly the body; on failure it holds what it held before. An uncommitted file
    // leaves no trace.
    [[nodiscard]] virtual std::error_code commit(const std::string& path) = 0;
};

class FileStore {
  public:
    virtual ~FileStore() = default;

    // A file for the next body, in folder. Nothing touches the disk here: the file is made
    // when its body begins, on the transfer's thread. Where the folder cannot take it, the body
    // goes nowhere and the file fails at complete().
    [[nodiscard]] virtual std::unique_ptr<IncomingFile> prepare(const std::string& folder) = 0;
};

}  // namespace zavoket
