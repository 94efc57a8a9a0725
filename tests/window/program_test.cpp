#include <gtest/gtest.h>

#include "support/scratch.h"

namespace zavoket {
namespace {

TEST(ProgramTest, AtATerminalItAnswersAndWithoutADisplayItSaysSo) {
    const char* const kNone = "zavoket: no display to open the window on (";
    // A display named that is not there: an X server and a Wayland compositor gone.
    const char* const kGone = "DISPLAY=:4719 WAYLAND_DISPLAY=wayland-4719 ";
    const struct {
        const char *environment, *arguments, *says;
        int status;
    } kRows[] = {
        {"", "--version", "zavoket 1.0-1\n", 0}, {"", "", kNone, 1}, {kGone, "", kNone, 1}};
    for (const auto& row : kRows) {
        const std::string out = test::printed(
            std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + row.environment +
            ZAVOKET_PROGRAM + " " + row.arguments + " 2>&1; echo \"status $?\"");
        EXPECT_TRUE(out.starts_with(row.says) && out.find('\n') + 1 == out.rfind("status")) << out;
        EXPECT_TRUE(out.ends_with("status " + std::to_string(row.status) + "\n")) << out;
    }
}

}  // namespace
}  // namespace zavoket
