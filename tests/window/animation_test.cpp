#include "window/animation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavoket {
namespace {

// The three markers at their design places, in pixels.
constexpr float kGlobe = 384;   // S, Image4's left edge
constexpr float kFolder = 608;  // E, Image5's left edge
constexpr float kDiskAtStart = 392;

struct Controls final : AnimationControls {
    float disk = kDiskAtStart;
    bool diskShown = true;
    FolderPicture picture = FolderPicture::Closed;
    std::vector<std::string> calls;

    float image3Left() const override { return disk; }
    void setImage3Left(float left) override { disk = left; }
    float image4Left() const override { return kGlobe; }
    float image5Left() const override { return kFolder; }
    void setImage3Visible(bool visible) override {
        diskShown = visible;
        calls.push_back("visible");
    }
    void setImage5Picture(FolderPicture p) override {
        picture = p;
        calls.push_back("picture");
    }
};

// Ticks until the disk is put back at the globe; returns how many ticks that took and how
// many of them showed the folder open.
std::pair<int, int> runCycle(Controls& controls) {
    int open = 0;
    for (int tick = 1; tick <= 100; ++tick) {
        animationTick(controls);
        if (controls.picture == FolderPicture::Open) {
            EXPECT_FALSE(controls.diskShown);
            ++open;
        } else {
            EXPECT_TRUE(controls.diskShown);
        }
        if (controls.disk == kGlobe) {
            return {tick, open};
        }
    }
    ADD_FAILURE() << "the disk never restarted";
    return {0, 0};
}

TEST(AnimationTest, CyclesLast26TicksWithTheFolderOpenForTheLastFour) {
    Controls controls;
    EXPECT_EQ(runCycle(controls), std::make_pair(25, 4));  // the first starts 8 px in
    for (int cycle = 0; cycle < 3; ++cycle) {
        EXPECT_EQ(runCycle(controls), std::make_pair(26, 4));
    }
}

TEST(AnimationTest, OpenFolderTicksStandPastTheFolderEdge) {
    Controls controls;
    controls.disk = kGlobe;
    std::vector<float> openAt;
    for (int tick = 0; tick < 26; ++tick) {
        animationTick(controls);
        if (controls.picture == FolderPicture::Open) {
            openAt.push_back(controls.disk == kGlobe ? kFolder + 36 : controls.disk);
        }
    }
    EXPECT_EQ(openAt, (std::vector<float>{kFolder + 6, kFolder + 16, kFolder + 26, kFolder + 36}));

    // The tick after a restart shows the disk again, beside the globe, and closes the folder.
    animationTick(controls);
    EXPECT_EQ(controls.disk, kGlobe + 10);
    EXPECT_TRUE(controls.diskShown);
    EXPECT_EQ(controls.picture, FolderPicture::Closed);
}

TEST(AnimationTest, ComparisonsAreStrict) {
    Controls controls;
    controls.disk = kFolder - 10;  // lands exactly on the folder's edge: not arrived
    animationTick(controls);
    EXPECT_EQ(controls.disk, kFolder);
    EXPECT_TRUE(controls.diskShown);
    EXPECT_EQ(controls.picture, FolderPicture::Closed);

    controls.disk = kFolder + 20;  // lands exactly on the overshoot: no restart yet
    animationTick(controls);
    EXPECT_EQ(controls.disk, kFolder + 30);
    EXPECT_FALSE(controls.diskShown);
    EXPECT_EQ(controls.picture, FolderPicture::Open);
}

TEST(AnimationTest, EveryTickGivesThePictureBeforeTheVisibility) {
    Controls controls;
    for (int tick = 0; tick < 30; ++tick) {
        animationTick(controls);
    }
    ASSERT_EQ(controls.calls.size(), 60u);
    for (std::size_t i = 0; i < controls.calls.size(); i += 2) {
        EXPECT_EQ(controls.calls[i], "picture");
        EXPECT_EQ(controls.calls[i + 1], "visible");
    }
}

TEST(PlacementTest, CentresTheOuterWindowWithoutClamping) {
    EXPECT_EQ(centredPosition(15360, 10260), 2550);  // 1024 px screen, in twips
    EXPECT_EQ(centredPosition(1024, 684), 170);
    EXPECT_EQ(centredPosition(9000, 10260), -630);
    EXPECT_EQ(centredPosition(5000, 6000), -500);
}

}  // namespace
}  // namespace zavoket
