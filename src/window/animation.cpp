#include "window/animation.h"

namespace zavoket {

void animationTick(AnimationControls& controls) {
    controls.setDiskLeft(controls.diskLeft() + kAnimationStep);

    // Arrived once past the folder's left edge; the picture is given on every tick, before
    // the visibility, changed or not.
    if (controls.diskLeft() > controls.folderLeft()) {
        controls.setFolderPicture(FolderPicture::Open);
        controls.setDiskVisible(false);
    } else {
        controls.setFolderPicture(FolderPicture::Closed);
        controls.setDiskVisible(true);
    }

    if (controls.folderLeft() + kAnimationOvershoot < controls.diskLeft()) {
        controls.setDiskLeft(controls.globeLeft());
    }
}

float centredPosition(float screenExtent, float windowExtent) {
    return screenExtent / 2.0f - windowExtent / 2.0f;
}

}  // namespace zavoket
