#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "support/scratch.h"

namespace zavoket {
namespace {

using namespace std::chrono_literals;

TEST(WindowManagerTest, TheWindowIsCentredWithItsFrameAndTitleBar) {
    using test::printed;
    if (printed("for p in Xvfb openbox xprop xwininfo; do command -v $p; done | wc -l") != "4\n") {
        GTEST_SKIP() << "needs Xvfb, openbox and x11-utils";
    }
    // Xvfb picks a free display itself and writes its number once it answers.
    test::TempFolder folder;
    const std::string numberFile = folder.str() + "/display";
    test::Process server(
        {"sh", "-c", "exec Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>" + numberFile});
    const std::string number = printed("timeout 10 sh -c 'until [ -s " + numberFile +
                                       " ]; do sleep 0.05; done' && head -n1 " + numberFile);
    if (number.empty()) {
        GTEST_SKIP() << "Xvfb could not start a display here";
    }
    const std::string x = "DISPLAY=:" + number.substr(0, number.find('\n'));
    // Up to ten seconds for what a window manager and a window take to answer.
    auto within10s = [&x](const std::string& check) {
        return printed(x + " timeout 10 sh -c 'until " + check +
                       "; do sleep 0.05; done' && echo up") == "up\n";
    };
    // Openbox runs its startup command once it takes windows in.
    const std::string ready = folder.str() + "/openbox-ready";
    test::Process openbox({"env", x, "openbox", "--startup", "touch " + ready});
    ASSERT_TRUE(within10s("[ -e " + ready + " ]"));
    test::Process window({"env", "-C", folder.str(), x, "QT_QPA_PLATFORM=xcb", ZAVOKET_PROGRAM});

    // The frame's left, right, top and bottom, and where the client area stands.
    int l = 0, r = 0, t = 0, b = 0, clientX = 0, clientY = 0;
    auto measure = [&] {
        return std::sscanf(printed(x + " xprop -name Zavoket _NET_FRAME_EXTENTS 2>&1").c_str(),
                           "_NET_FRAME_EXTENTS(CARDINAL) = %d, %d, %d, %d", &l, &r, &t, &b) == 4 &&
               std::sscanf(printed(x + " xwininfo -name Zavoket | grep Absolute").c_str(),
                           " Absolute upper-left X: %d Absolute upper-left Y: %d", &clientX,
                           &clientY) == 2;
    };
    // The window moves once its frame is known: up to ten seconds until it stands centred.
    auto centred = [&] {
        return measure() && clientX - l == (1024 - (678 + l + r)) / 2 &&
               clientY - t == (768 - (372 + t + b)) / 2;
    };
    for (int i = 0; i < 200 && !centred(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(measure()) << "the window did not appear framed";
    EXPECT_GT(t, 0) << "openbox gives a title bar";
    EXPECT_TRUE(centred()) << "client at " << clientX << "," << clientY << ", frame " << l << " "
                           << r << " " << t << " " << b;
}

}  // namespace
}  // namespace zavoket
