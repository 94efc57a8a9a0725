#include "batch/body_check.h"

#include <algorithm>
#include <cctype>

namespace zavoket {
namespace {

// Enough to tell text from binary: a page is text all through, while a picture or a clip has
// bytes no text has long before this.
constexpr std::size_t kHeadBytes = kStandingHeadBytes;

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

// Web pages, plain text, JSON and XML: what filters, portals and error handlers answer with.
bool declaresText(std::string_view contentType) {
    const std::string type = lowerMediaType(contentType);
    return type.starts_with("text/") || type == "application/xhtml+xml" ||
           type == "application/json" || type == "application/xml" || type.ends_with("+json") ||
           type.ends_with("+xml");
}

// Printable ASCII, white space and well-formed UTF-8 only: a message, not data. A sequence cut
// off at the end of head counts as text.
bool isText(std::string_view head) {
    for (std::size_t i = 0; i < head.size();) {
        const auto c = static_cast<unsigned char>(head[i]);
        const std::size_t length = c < 0x80                 ? 1
                                   : c >= 0xC2 && c <= 0xDF ? 2
                                   : c >= 0xE0 && c <= 0xEF ? 3
                                   : c >= 0xF0 && c <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 ||
            (c < 0x20 &&
             std::string_view("\t\n\v\f\r").find(static_cast<char>(c)) == std::string_view::npos) ||
            c == 0x7F) {
            return false;
        }
        for (std::size_t k = 1; k < length && i + k < head.size(); ++k) {
            if ((static_cast<unsigned char>(head[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// "<html", "<!DOCTYPE", "<?xml", "</": markup, however binary what follows may look.
bool isMarkup(std::string_view head) {
    return head.size() >= 2 && head[0] == '<' &&
           (std::isalpha(static_cast<unsigned char>(head[1])) || head[1] == '!' || head[1] == '?' ||
            head[1] == '/');
}

}  // namespace

bool canBeCatalogueFile(std::string_view head, bool picture) {
    if (head.empty()) {
        return false;
    }
    // Neither a JPEG picture nor an MPEG clip is text or markup; one of either may begin with a
    // byte that looks like it, though.
    if (isText(head) || isMarkup(head)) {
        return false;
    }
    return !picture || head.starts_with("\xFF\xD8\xFF");
}

BodyPlan CatalogueBodyCheck::plan() {
    const IncomingFile::Probe probe = file_.probe();
    BodyPlan plan{.possible = probe.folderUsable, .modifiedSince = {}};
    if (probe.copy && canBeCatalogueFile(probe.copy->head, picture_)) {
        plan.modifiedSince = probe.copy->modified;
        plan.copyBytes = probe.copy->length;
        plan.timeGrain = probe.copy->timeGrain;
    }
    return plan;
}

bool copyStands(const BodyPlan& plan, std::optional<std::uint64_t> servedBytes,
                std::optional<std::int64_t> servedModified) {
    if (!plan.modifiedSince || !servedModified) {
        return false;
    }
    const std::int64_t grain = std::max<std::int64_t>(plan.timeGrain, 1);
    const std::int64_t ahead = *plan.modifiedSince - *servedModified;
    // A copy cut short by a failed copy keeps its time: only its length tells.
    return ahead >= grain || (servedBytes == plan.copyBytes && ahead > -grain);
}

bool CatalogueBodyCheck::restart(std::string_view contentType) {
    head_.clear();
    decided_ = false;
    refused_ = declaresText(contentType);
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
    refused_ = !canBeCatalogueFile(std::string_view(head_).substr(0, kHeadBytes), picture_);
    if (refused_) {
        return false;
    }
    decided_ = true;
    return file_.append(head_);
}

}  // namespace zavoket
