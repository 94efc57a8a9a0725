#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "app/application.h"

namespace zavoket::harness {

// The window as a batch sees it, keeping the last text it was given.
class RecordingView final : public BatchView {
  public:
    RecordingView(std::string url, std::string folder)
        : turl(std::move(url)), dir(std::move(folder)) {}

    void setLabel2Caption(const std::string& text) override;
    void setLabel3Caption(const std::string& text) override { label3 = text; }
    void showLabel11() override { label11Visible = true; }
    void setImage3Visible(bool visible) override { image3Visible = visible; }
    void setTimer1Enabled(bool enabled) override { timer1Enabled = enabled; }
    void setSbText(const std::string& text) override { sb = text; }
    [[nodiscard]] std::string turlText() const override { return turl; }
    [[nodiscard]] std::string dirPath() const override { return dir; }
    void refreshFile() override { ++refreshes; }

    std::string turl;
    std::string dir;
    std::string label2;
    std::string label3 = "0/194";
    std::string sb;
    bool label11Visible = false;
    bool image3Visible = false;
    bool timer1Enabled = false;
    int refreshes = 0;  // of the file list
    std::function<void(const std::string&)> onLabel2;
};

// A waiter that also runs tasks posted from other threads, on the waiting thread: a window's
// event loop in miniature, so that something can "click" while a file is in transfer.
class TaskWaiter final : public Waiter {
  public:
    void post(std::function<void()> task);
    void wait() override;
    void wake() override { waiter_.wake(); }

  private:
    BlockingWaiter waiter_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

// The program's services with a recording view, from a server's URL into a folder.
struct LocalBatch {
    LocalBatch(std::string url, std::string folder, ApplicationOptions options = {});

    TaskWaiter waiter;
    RecordingView view;
    Application app;
    BatchRun& batch = app.batch();
};

}  // namespace zavoket::harness
