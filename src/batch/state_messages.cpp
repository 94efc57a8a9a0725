#include "batch/state_messages.h"

#include <array>

namespace zavoket {
namespace {

struct Message {
    ConnectionState state;
    std::string_view text;
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

std::optional<std::string_view> stateMessage(std::int16_t state) {
    if (state < 0 || static_cast<std::size_t>(state) >= kMessages.size()) {
        return std::nullopt;
    }
    return kMessages[static_cast<std::size_t>(state)].text;
}

}  // namespace zavoket
