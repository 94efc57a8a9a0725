#include <gtest/gtest.h>

#include <cstdio>

#include "support/scratch.h"

namespace zavoket {
namespace {

// On a display of its own under openbox: once the window stands centred with its frame, or after
// ten seconds, the frame's left, right, top and bottom and the client's corner.
const char* const kMeasure = R"(openbox --startup "touch $PWD/ready" >/dev/null 2>&1 & wm=$!
until [ -e ready ]; do sleep 0.05; done
QT_QPA_PLATFORM=xcb "$1" 2>/dev/null & window=$!
for i in $(seq 200); do
  f=$(xprop -name Zavoket _NET_FRAME_EXTENTS 2>/dev/null | sed 's/.*= //; s/,//g')
  c=$(xwininfo -name Zavoket 2>/dev/null | awk '/Absolute upper-left/ {print $4}')
  set -- $f $c
  [ $# = 6 ] && [ $(($5 - $1)) = $(((1024 - 678 - $1 - $2) / 2)) ] &&
    [ $(($6 - $3)) = $(((768 - 372 - $3 - $4) / 2)) ] && break
  sleep 0.05
done; echo $f $c; kill $window $wm)";

TEST(WindowManagerTest, TheWindowIsCentredWithItsFrameAndTitleBar) {
    if (test::printed(
            "for p in xvfb-run xauth openbox xprop xwininfo; do command -v $p; done | wc -l") !=
        "5\n") {
        GTEST_SKIP() << "needs xvfb, xauth, openbox and x11-utils";
    }
    test::TempFolder folder;
    test::writeFile(folder.path() / "measure", kMeasure);
    int l = 0, r = 0, t = 0, b = 0, x = 0, y = 0;
    const std::string shown = test::printed(
        "cd " + folder.str() + " && xvfb-run -a -s '-screen 0 1024x768x24' sh measure " +
        ZAVOKET_PROGRAM + " 2>/dev/null");
    ASSERT_EQ(std::sscanf(shown.c_str(), "%d %d %d %d %d %d", &l, &r, &t, &b, &x, &y), 6)
        << "the window did not appear framed: " << shown;
    EXPECT_GT(t, 0) << "openbox gives a title bar";
    EXPECT_EQ(x - l, (1024 - (678 + l + r)) / 2) << shown;
    EXPECT_EQ(y - t, (768 - (372 + t + b)) / 2) << shown;
}

TEST(ProgramTest, AtATerminalItAnswersAndWithoutADisplayItSaysSo) {
    const struct {
        const char* arguments;
        const char* starts;
        int status;
    } kRows[] = {{"--version", "zavoket 1.0-1\n", 0},
                 {"--help", "Usage: zavoket [--version | --help]\n", 0},
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
