#include "platform/folder_entries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace zavoket {
namespace {

struct CloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

EntryKind FolderEntry::kind() const {
    switch (type_) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
        case DT_UNKNOWN: {
            struct stat info {};
            if (::fstatat(folder_, name_, &info, 0) != 0) {
                return EntryKind::Other;
            }
            return S_ISREG(info.st_mode)   ? EntryKind::File
                   : S_ISDIR(info.st_mode) ? EntryKind::Folder
                                           : EntryKind::Other;
        }
        default:
            return EntryKind::Other;
    }
}

bool forEachFolderEntry(const char* path, const std::function<void(const FolderEntry&)>& visit) {
    const std::unique_ptr<DIR, CloseDir> dir(::opendir(path));
    if (!dir) {
        return false;
    }
    const int fd = ::dirfd(dir.get());
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            visit(FolderEntry(fd, entry->d_name, entry->d_type));
        }
    }
    return true;
}

}  // namespace zavoket
