#pragma once

#include <functional>

namespace zavoket {

enum class EntryKind { File, Folder, Other };

// One entry of a folder while it is read.
class FolderEntry {
  public:
    FolderEntry(int folder, const char* name, unsigned char type)
        : folder_(folder), name_(name), type_(type) {}

    [[nodiscard]] const char* name() const { return name_; }
    // The folder being read, for calls relative to it.
    [[nodiscard]] int folder() const { return folder_; }

    // What the entry is, a symbolic link taken for what it leads to (Other where it leads
    // nowhere). Looked up only where the folder's listing does not say: a call of its own.
    [[nodiscard]] EntryKind kind() const;

  private:
    int folder_;
    const char* name_;
    unsigned char type_;
};

// Calls back for each entry of the folder but "." and "..". False where the folder cannot be
// opened; an error partway through ends the listing early, as if nothing more were there.
[[nodiscard]] bool forEachFolderEntry(const char* path,
                                      const std::function<void(const FolderEntry&)>& visit);

}  // namespace zavoket
