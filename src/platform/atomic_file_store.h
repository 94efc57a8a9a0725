#pragma once

#include <string>

#include "batch/file_store.h"

namespace zavoket {

// Writes a file so that its name never holds anything but the old content or the whole new
// content: the bytes go into an unnamed file in the destination folder, are flushed to disk,
// and only then is the file given its name, replacing what stood there. A symbolic link under
// the name is replaced as a name, never followed.
class AtomicFileStore final : public FileStore {
public:
    [[nodiscard]] std::error_code save(const std::string& path,
                                       std::span<const char> bytes) override;
};

// Names of the form the store gives its temporary files while it links them into place.
[[nodiscard]] bool isStoreTemporaryName(const std::string& name);

}  // namespace zavoket
