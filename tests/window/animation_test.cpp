#include "window/animation.h"

#include <gtest/gtest.h>

#include <string>

namespace zavoket {
namespace {

// The globe and the destination folder at their places, in pixels; the disk moves.
struct Controls final : AnimationControls {
    float disk = 0;
    bool diskShown = true;
    FolderPicture picture = FolderPicture::Closed;
    std::string calls;  // "pv" for each tick that gives the picture, then the visibility

    float diskLeft() const override { return disk; }
    void setDiskLeft(float left) override { disk = left; }
    float globeLeft() const override { return 384; }
    float folderLeft() const override { return 608; }
    void setDiskVisible(bool visible) override { diskShown = visible, calls += 'v'; }
    void setFolderPicture(FolderPicture p) override { picture = p, calls += 'p'; }
};

TEST(AnimationTest, TheDiskTravelsIntoTheFolderAndStartsOverBesideTheGlobe) {
    const struct {
        float start;  // where the disk stands before the first tick
        int ticks;
        float left;  // where it stands after them
        bool open;   // the folder shows open and the disk is hidden
        // clang-format off
    } kRows[] = {
        {392, 22, 612, true}, {392, 25, 384, true},  // past the folder by more than 30 px: back at the globe
        {392, 47, 604, false}, {392, 48, 614, true},  // every later journey lasts 26 ticks
        {598, 1, 608, false},  // on the folder's edge is not yet in it
        {598, 4, 638, true},   // 30 px past it is not yet beyond
    };
    // clang-format on
    for (const auto& row : kRows) {
        Controls controls;
        controls.disk = row.start;
        for (int tick = 0; tick < row.ticks; ++tick) {
            animationTick(controls);
            EXPECT_TRUE(controls.calls.ends_with("pv")) << "the picture, then the visibility";
        }
        SCOPED_TRACE(::testing::Message() << row.start << " + " << row.ticks << " ticks");
        EXPECT_EQ(controls.disk, row.left);
        EXPECT_EQ(controls.picture == FolderPicture::Open, row.open);
        EXPECT_EQ(controls.diskShown, !row.open);
        EXPECT_EQ(controls.calls.size(), 2u * row.ticks);
    }
}

}  // namespace
}  // namespace zavoket
