#pragma once

#include <span>
#include <string>
#include <system_error>

namespace zavoket {

// Puts a received file under its name in a folder.
class FileStore {
public:
    virtual ~FileStore() = default;

    // path is the folder, a "/" and the file name. On success the name holds exactly bytes; on
    // failure it holds what it held before, and nothing else is left in the folder.
    [[nodiscard]] virtual std::error_code save(const std::string& path,
                                               std::span<const char> bytes) = 0;
};

}  // namespace zavoket
