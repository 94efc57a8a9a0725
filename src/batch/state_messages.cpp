#include "batch/state_messages.h"

#include <array>

namespace zavoket {
namespace {

// The blanks are ASCII spaces; every sentence ends in the full-width stop.
constexpr std::array<std::string_view, 13> kMessages = {
    "状態についての報告はありません。",
    "指定されたホスト コンピュータの IP アドレスを調べています。",
    "指定されたホスト コンピュータの IP アドレスを見つけました。",
    "ホスト コンピュータとの接続処理を行っています。",
    "ホスト コンピュータと正常に接続しました。",
    "ホスト コンピュータに要求を送信しています。",
    "要求を正常に送信しました。",
    "ホスト コンピュータからの応答を受信しています。",
    "ホスト コンピュータからの応答を正常に受信しました。",
    "ホスト コンピュータとの接続を解除しています。",
    "ホスト コンピュータとの接続を正常に解除しました。",
    "コンピュータとの通信中にエラーが発生しました。",
    "要求処理が完了し、すべてのデータが受信されました。",
};

}  // namespace

std::optional<std::string_view> stateMessage(std::int16_t state) {
    if (state < 0 || static_cast<std::size_t>(state) >= kMessages.size()) {
        return std::nullopt;
    }
    return kMessages[static_cast<std::size_t>(state)];
}

}  // namespace zavoket
