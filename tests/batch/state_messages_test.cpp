#include "batch/state_messages.h"

#include <gtest/gtest.h>

namespace zavoket {
namespace {

TEST(StateMessagesTest, TextsKeepTheirAsciiSpacesAndFullWidthStop) {
    EXPECT_EQ(*stateMessage(0), "状態についての報告はありません。");
    EXPECT_EQ(*stateMessage(1), "指定されたホスト コンピュータの IP アドレスを調べています。");
    EXPECT_EQ(*stateMessage(2), "指定されたホスト コンピュータの IP アドレスを見つけました。");
    EXPECT_EQ(*stateMessage(3), "ホスト コンピュータとの接続処理を行っています。");
    EXPECT_EQ(*stateMessage(4), "ホスト コンピュータと正常に接続しました。");
    EXPECT_EQ(*stateMessage(5), "ホスト コンピュータに要求を送信しています。");
    EXPECT_EQ(*stateMessage(6), "要求を正常に送信しました。");
    EXPECT_EQ(*stateMessage(7), "ホスト コンピュータからの応答を受信しています。");
    EXPECT_EQ(*stateMessage(8), "ホスト コンピュータからの応答を正常に受信しました。");
    EXPECT_EQ(*stateMessage(9), "ホスト コンピュータとの接続を解除しています。");
    EXPECT_EQ(*stateMessage(10), "ホスト コンピュータとの接続を正常に解除しました。");
    EXPECT_EQ(*stateMessage(11), "コンピュータとの通信中にエラーが発生しました。");
    EXPECT_EQ(*stateMessage(12), "要求処理が完了し、すべてのデータが受信されました。");
}

TEST(StateMessagesTest, ValuesOutsideTheTableHaveNoText) {
    EXPECT_FALSE(stateMessage(13).has_value());
    EXPECT_FALSE(stateMessage(-1).has_value());
    EXPECT_FALSE(stateMessage(-32768).has_value());
}

}  // namespace
}  // namespace zavoket
