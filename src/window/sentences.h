#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

#include "batch/batch_view.h"

namespace zavoket {

// Every sentence the window says of a batch, in Japanese.
inline constexpr const char* kActivityFinished = "終了しました";
inline constexpr const char* kActivityStopped = "中止しました";

// The status bar's sentence for a connection state.
[[nodiscard]] QString connectionSentence(ConnectionState state);
// "1101-A.jpgをダウンロードしています"
[[nodiscard]] QString downloadingSentence(const QString& name);
// "終了しました", "終了しました（失敗 N 件）" or "中止しました".
[[nodiscard]] QString endingActivity(bool stopped, std::size_t failures);
// The status bar's list of the files a batch could not save: the first five, and how many more.
[[nodiscard]] QString failedFilesSentence(const QStringList& names);
// The one cause the files of a batch failed for, where the program knows it; empty where not.
[[nodiscard]] QString causeSentence(FailureCause cause);
// A proxy on the way refused a file or asked for a password.
[[nodiscard]] QString proxyRefusedSentence();
// A file asked for over https was sent on to plain http, which is refused.
[[nodiscard]] QString insecureRedirectSentence();
// The file in transfer is tried again after delay, the attempt-th time of three.
[[nodiscard]] QString retrySentence(std::chrono::milliseconds delay, int attempt);
// A file is longer than the folder's free space.
[[nodiscard]] QString diskFullSentence();

}  // namespace zavoket
