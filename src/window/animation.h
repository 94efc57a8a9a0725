#pragma once

namespace zavoket {

// The pictures the target marker can show: the open folder of Image1, the closed one of Image2.
enum class FolderPicture { Open, Closed };

// The picture controls one animation step reads and writes. Left edges are in the window's
// unit (pixels here).
class AnimationControls {
  public:
    virtual ~AnimationControls() = default;
    [[nodiscard]] virtual float image3Left() const = 0;
    virtual void setImage3Left(float left) = 0;
    [[nodiscard]] virtual float image4Left() const = 0;
    [[nodiscard]] virtual float image5Left() const = 0;
    virtual void setImage3Visible(bool visible) = 0;
    virtual void setImage5Picture(FolderPicture picture) = 0;
};

inline constexpr float kAnimationStep = 10.0f;
inline constexpr float kAnimationOvershoot = 30.0f;

// One tick of the disk's journey from the globe (Image4) into the folder (Image5). Keeps no
// state of its own: everything is read back from the controls.
void animationTick(AnimationControls& controls);

// Where a window of the given outer extent starts so that it is centred on a screen of the
// given extent. Not clamped: a window larger than the screen gets a negative position.
[[nodiscard]] float centredPosition(float screenExtent, float windowExtent);

}  // namespace zavoket
