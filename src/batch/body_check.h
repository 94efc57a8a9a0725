#pragma once

#include <span>
#include <string>
#include <string_view>

#include "batch/file_store.h"

namespace zavoket {

// Stands before a file's sink and lets a 200 answer through only when it can be the catalogue
// file asked for. Captive portals, web filters and "soft 404" pages answer 200 with a web page;
// saved, that page would replace a good copy of the file. The decision is made from the
// declared type and the first bytes, so a refused body is never written out.
class CatalogueBodyCheck final : public BodySink {
  public:
    // picture: the entry is a JPEG picture, whose body must begin with its start marker.
    CatalogueBodyCheck(IncomingFile& file, bool picture) : file_(file), picture_(picture) {}

    // Asks for the file only where the folder can take it, and only for a newer one where a
    // copy that can be the file stands already.
    BodyPlan plan() override;
    bool restart(std::string_view contentType) override;
    bool hasRoomFor(std::uint64_t bytes) override { return file_.hasRoomFor(bytes); }
    void setModified(std::int64_t seconds) override { file_.setModified(seconds); }
    bool append(std::span<const char> bytes) override;
    bool complete() override;

    // The body was turned away as not being the file.
    [[nodiscard]] bool refused() const { return refused_; }

  private:
    bool decide();

    IncomingFile& file_;
    bool picture_;
    bool refused_ = false;
    bool decided_ = false;
    std::string head_;  // the first bytes, held until they can be judged
};

// Whether a body that begins with head can be a catalogue file, whatever type it was declared
// as (a declared text is refused before its body comes). head holds the first
// kStandingHeadBytes bytes, or the whole of a shorter body.
[[nodiscard]] bool canBeCatalogueFile(std::string_view head, bool picture);

}  // namespace zavoket
