#include "batch/body_check.h"

#include <algorithm>
#include <cctype>

namespace zavoket {
namespace {

// Enough to tell a JPEG start marker; one byte tells markup or text.
constexpr std::size_t kHeadBytes = 3;

std::string lowerMediaType(std::string_view contentType) {
    const auto end = contentType.find(';');
    std::string_view type = contentType.substr(0, end);
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.back()))) {
        type.remove_suffix(1);
    }
    while (!type.empty() && std::isspace(static_cast<unsigned char>(type.front()))) {
        type.remove_prefix(1);
    }
    std::string lower(type);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool declaresWebPage(std::string_view contentType) {
    const std::string type = lowerMediaType(contentType);
    return type == "text/html" || type == "application/xhtml+xml";
}

}  // namespace

bool canBeCatalogueFile(std::string_view contentType, std::string_view head, bool picture) {
    if (declaresWebPage(contentType) || head.empty()) {
        return false;
    }
    // Neither JPEG nor MPEG data ever begins like markup or text.
    const char first = head.front();
    if (first == '<' || first == ' ' || first == '\t' || first == '\r' || first == '\n' ||
        first == '\f' || first == '\v') {
        return false;
    }
    return !picture || head.starts_with("\xFF\xD8\xFF");
}

BodyPlan CatalogueBodyCheck::plan() {
    const IncomingFile::Probe probe = file_.probe();
    BodyPlan plan{.possible = probe.folderUsable, .modifiedSince = {}};
    if (probe.copy && canBeCatalogueFile({}, probe.copy->head, picture_)) {
        plan.modifiedSince = probe.copy->modified;
    }
    return plan;
}

bool CatalogueBodyCheck::restart(std::string_view contentType) {
    head_.clear();
    decided_ = false;
    refused_ = declaresWebPage(contentType);
    return !refused_ && file_.restart(contentType);
}

bool CatalogueBodyCheck::append(std::span<const char> bytes) {
    if (decided_) {
        return file_.append(bytes);
    }
    head_.append(bytes.data(), bytes.size());
    return head_.size() < kHeadBytes || decide();
}

bool CatalogueBodyCheck::complete() {
    return (decided_ || decide()) && file_.complete();
}

bool CatalogueBodyCheck::decide() {
    refused_ = !canBeCatalogueFile({}, head_, picture_);
    if (refused_) {
        return false;
    }
    decided_ = true;
    const bool taken = file_.append(head_);
    head_.clear();
    return taken;
}

}  // namespace zavoket
