#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "batch/transfer.h"

namespace zavoket {

// Why a file could not be saved, as far as the batch can tell.
enum class FailureCause {
    Answer,            // the server's answer was not the file, or the connection failed
    ProxyRefused,      // a proxy on the way refused it or asked for a password
    InsecureRedirect,  // asked for over https, it was sent on to plain http
    NotSaved,          // the destination could not take it, or could not give it its name
    DiskFull,          // longer than the folder's free space: its body was not taken
};

struct BatchEnding {
    bool stopped = false;             // by the stop button or a broken connection
    std::vector<std::size_t> failed;  // catalogue indices, in catalogue order
};

// What a batch tells whatever shows it, in the batch's own terms, and the one thing it asks.
class BatchView {
  public:
    virtual ~BatchView() = default;

    virtual void batchStarted() = 0;
    // Catalogue entry index is the file in transfer, the number-th of the batch.
    virtual void fileStarted(std::size_t index, std::size_t number) = 0;
    virtual void connectionChanged(ConnectionState state) = 0;
    // The file in transfer failed for a while and is tried again after delay, the attempt-th
    // time.
    virtual void fileRetrying(std::chrono::milliseconds delay, int attempt) = 0;
    // A stop was asked for: it comes after the file in transfer.
    virtual void stopAsked() = 0;
    virtual void fileSaved(std::size_t index) = 0;
    // The copy in the folder is the server's file already.
    virtual void fileKept(std::size_t index) = 0;
    virtual void fileFailed(std::size_t index, FailureCause cause) = 0;
    virtual void batchEnded(const BatchEnding& ending) = 0;

    // The folder the next file goes to: one opened mid-batch receives the files after it.
    [[nodiscard]] virtual std::string destination() const = 0;
};

}  // namespace zavoket
