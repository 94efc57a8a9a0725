#pragma once

#include <functional>
#include <string>
#include <vector>

#include "batch/batch_view.h"

namespace zavoket::test {

// The window as a batch sees it, keeping every text it was given.
class RecordingView final : public BatchView {
  public:
    void setLabel2Caption(const std::string& text) override {
        label2 = text;
        label2History.push_back(text);
        if (onLabel2) {
            onLabel2(text);
        }
    }
    void setLabel3Caption(const std::string& text) override {
        label3 = text;
        label3History.push_back(text);
    }
    void showLabel11() override { label11Visible = true; }
    void setImage3Visible(bool visible) override { image3Visible = visible; }
    void setTimer1Enabled(bool enabled) override { timer1Enabled = enabled; }
    void setSbText(const std::string& text) override {
        sb = text;
        sbHistory.push_back(text);
        if (onSbText) {
            onSbText(text);
        }
    }
    [[nodiscard]] std::string turlText() const override { return turl; }
    [[nodiscard]] std::string dirPath() const override { return dir; }
    void refreshFile() override {
        ++refreshCount;
        if (onRefresh) {
            onRefresh();
        }
    }

    std::string turl;
    std::string dir;
    std::string label2;
    std::string label3 = "0/194";
    std::string sb;
    bool label11Visible = false;
    bool image3Visible = true;
    bool timer1Enabled = false;
    int refreshCount = 0;
    std::vector<std::string> label2History;
    std::vector<std::string> label3History;
    std::vector<std::string> sbHistory;
    std::function<void(const std::string&)> onLabel2;
    std::function<void(const std::string&)> onSbText;
    std::function<void()> onRefresh;
};

}  // namespace zavoket::test
