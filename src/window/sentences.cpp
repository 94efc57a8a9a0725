#include "window/sentences.h"

#include <array>

namespace zavoket {
namespace {

constexpr qsizetype kNamesShown = 5;

struct Message {
    ConnectionState state;
    const char* text;
};

// The blanks are ASCII spaces; every sentence ends in the full-width stop.
constexpr std::array<Message, 13> kMessages = {{
    {ConnectionState::None, "状態についての報告はありません。"},
    {ConnectionState::Resolving, "指定されたホスト コンピュータの IP アドレスを調べています。"},
    {ConnectionState::Resolved, "指定されたホスト コンピュータの IP アドレスを見つけました。"},
    {ConnectionState::Connecting, "ホスト コンピュータとの接続処理を行っています。"},
    {ConnectionState::Connected, "ホスト コンピュータと正常に接続しました。"},
    {ConnectionState::Requesting, "ホスト コンピュータに要求を送信しています。"},
    {ConnectionState::RequestSent, "要求を正常に送信しました。"},
    {ConnectionState::Receiving, "ホスト コンピュータからの応答を受信しています。"},
    {ConnectionState::ResponseReceived, "ホスト コンピュータからの応答を正常に受信しました。"},
    {ConnectionState::Closing, "ホスト コンピュータとの接続を解除しています。"},
    {ConnectionState::Closed, "ホスト コンピュータとの接続を正常に解除しました。"},
    {ConnectionState::Error, "コンピュータとの通信中にエラーが発生しました。"},
    {ConnectionState::Completed, "要求処理が完了し、すべてのデータが受信されました。"},
}};

// A state's number is its row: the look-up below relies on it.
constexpr bool rowsFollowTheStates() {
    for (std::size_t i = 0; i < kMessages.size(); ++i) {
        if (static_cast<std::size_t>(kMessages[i].state) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowTheStates());

}  // namespace

QString connectionSentence(ConnectionState state) {
    const auto row = static_cast<std::size_t>(state);
    return row < kMessages.size() ? QString::fromUtf8(kMessages[row].text) : QString();
}

QString downloadingSentence(const QString& name) {
    return name + "をダウンロードしています";
}

QString endingActivity(bool stopped, std::size_t failures) {
    if (stopped) {
        return kActivityStopped;
    }
    return failures == 0 ? QString(kActivityFinished)
                         : QString("%1（失敗 %2 件）").arg(kActivityFinished).arg(failures);
}

QString failedFilesSentence(const QStringList& names) {
    QString text = "保存できなかったファイル: " + names.mid(0, kNamesShown).join(", ");
    if (names.size() > kNamesShown) {
        text += QString(" ほか %1 件").arg(names.size() - kNamesShown);
    }
    return text;
}

QString causeSentence(FailureCause cause) {
    switch (cause) {
        case FailureCause::ProxyRefused:
            return proxyRefusedSentence();
        case FailureCause::InsecureRedirect:
            return insecureRedirectSentence();
        case FailureCause::NotSaved:
            return "保存先のフォルダにファイルを保存できませんでした。";
        case FailureCause::DiskFull:
            return diskFullSentence();
        case FailureCause::Answer:
            break;
    }
    return {};
}

QString insecureRedirectSentence() {
    return "暗号化されていない接続 (http) への転送を拒否しました。";
}

QString retrySentence(std::chrono::milliseconds delay, int attempt) {
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(delay).count();
    return QString("通信が途切れました。%1 秒後にもう一度試みます（%2/3 回目）。")
        .arg(seconds)
        .arg(attempt);
}

QString proxyRefusedSentence() {
    return "プロキシ サーバーが要求を拒否しました。プロキシの設定を確かめてください。";
}

QString diskFullSentence() {
    return "保存先の空き容量が足りません。";
}

}  // namespace zavoket
