#include <gtest/gtest.h>

#include "support/scratch.h"

namespace zavoket {
namespace {

TEST(ProgramTest, AtATerminalItAnswersAndWithoutADisplayItSaysSo) {
    const struct {
        const char *arguments, *starts;
        int status;
    } kRows[] = {{"--version", "zavoket 1.0-1\n", 0},
                 {"", "zavoket: no display to open the window on", 1}};
    for (const auto& row : kRows) {
        const std::string out =
            test::printed(std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                          ZAVOKET_PROGRAM + " " + row.arguments + " 2>&1; echo \"status $?\"");
        EXPECT_TRUE(out.starts_with(row.starts)) << out;
        EXPECT_TRUE(out.ends_with("status " + std::to_string(row.status) + "\n")) << out;
    }
}

}  // namespace
}  // namespace zavoket
