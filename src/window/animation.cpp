#include "window/animation.h"

namespace zavoket {

void animationTick(AnimationControls& controls) {
    controls.setImage3Left(controls.image3Left() + kAnimationStep);

    // Arrived once past the folder's left edge; the picture is given on every tick, before
    // the visibility, changed or not.
    if (controls.image3Left() > controls.image5Left()) {
        controls.setImage5Picture(FolderPicture::Open);
        controls.setImage3Visible(false);
    } else {
        controls.setImage5Picture(FolderPicture::Closed);
        controls.setImage3Visible(true);
    }

    if (controls.image5Left() + kAnimationOvershoot < controls.image3Left()) {
        controls.setImage3Left(controls.image4Left());
    }
}

float centredPosition(float screenExtent, float windowExtent) {
    return screenExtent / 2.0f - windowExtent / 2.0f;
}

}  // namespace zavoket
