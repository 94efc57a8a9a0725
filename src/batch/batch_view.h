#pragma once

#include <string>

namespace zavoket {

// What a batch run needs of the window. Named after the controls it stands for.
class BatchView {
  public:
    virtual ~BatchView() = default;

    virtual void setLabel2Caption(const std::string& text) = 0;  // activity
    virtual void setLabel3Caption(const std::string& text) = 0;  // progress "N/194"
    virtual void showLabel11() = 0;                              // the abort note
    virtual void setImage3Visible(bool visible) = 0;             // the moving disk
    virtual void setTimer1Enabled(bool enabled) = 0;             // the animation clock
    virtual void setSbText(const std::string& text) = 0;         // status bar
    [[nodiscard]] virtual std::string turlText() const = 0;      // base URL, ends in "/"
    [[nodiscard]] virtual std::string dirPath() const = 0;       // destination folder
    virtual void refreshFile() = 0;                              // re-list the folder's files
};

}  // namespace zavoket
