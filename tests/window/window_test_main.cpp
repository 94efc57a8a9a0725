#include <stdlib.h>

#include <QApplication>

#include <gtest/gtest.h>

// Real widgets need an application; without a display they are drawn off screen.
int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
