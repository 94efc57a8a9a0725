#pragma once

#include <string>

#include "batch/batch_view.h"

namespace zavoket::test {

// A view for a batch that nobody watches: it only names the server and the folder.
class QuietView final : public BatchView {
  public:
    QuietView(std::string url, std::string folder)
        : url_(std::move(url)), dir_(std::move(folder)) {}
    void setLabel2Caption(const std::string& text) override { label2 = text; }
    void setLabel3Caption(const std::string& text) override { label3 = text; }
    void showLabel11() override {}
    void setImage3Visible(bool) override {}
    void setTimer1Enabled(bool) override {}
    void setSbText(const std::string& text) override { sb = text; }
    [[nodiscard]] std::string turlText() const override { return url_; }
    [[nodiscard]] std::string dirPath() const override { return dir_; }
    void refreshFile() override {}

    std::string label2;
    std::string label3;
    std::string sb;

  private:
    std::string url_;
    std::string dir_;
};

}  // namespace zavoket::test
