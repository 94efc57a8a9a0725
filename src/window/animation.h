#pragma once

namespace zavoket {

// The pictures the destination folder can show.
enum class FolderPicture { Open, Closed };

// The picture controls one animation step reads and writes. Left edges are in the window's
// unit (pixels here).
class AnimationControls {
  public:
    virtual ~AnimationControls() = default;
    [[nodiscard]] virtual float diskLeft() const = 0;
    virtual void setDiskLeft(float left) = 0;
    [[nodiscard]] virtual float globeLeft() const = 0;
    [[nodiscard]] virtual float folderLeft() const = 0;
    virtual void setDiskVisible(bool visible) = 0;
    virtual void setFolderPicture(FolderPicture picture) = 0;
};

inline constexpr float kAnimationStep = 10.0f;
inline constexpr float kAnimationOvershoot = 30.0f;

// One tick of the disk's journey from the globe into the destination folder. Keeps no
// state of its own: everything is read back from the controls.
void animationTick(AnimationControls& controls);

// Where a window of the given outer extent starts so that it is centred on a screen of the
// given extent. Not clamped: a window larger than the screen gets a negative position.
[[nodiscard]] float centredPosition(float screenExtent, float windowExtent);

}  // namespace zavoket
