#pragma once

#include <QWidget>

#include <set>

#include "app/application.h"
#include "window/animation.h"
#include "window/controls.h"
#include "window/desktop_report.h"

namespace zavoket {

struct MainFormOptions {
    // One Japanese Gothic face for every text; empty: IPA (P)Gothic, or Noto Sans CJK JP.
    QString face;
};

// The one window: it shows the application's batch and asks the application for what the user
// wants. Every sentence the user reads of a batch is made here.
class MainForm final : public QWidget, private BatchView, private AnimationControls {
    Q_OBJECT
  public:
    MainForm(Application& app, MainFormOptions options, QWidget* parent = nullptr);
    ~MainForm() override;

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void connectControls();
    void closeNow();
    void askForNewFolder();
    void setActivity(const QString& text);
    void setMoving(bool moving);

    // BatchView
    void batchStarted() override;
    void fileStarted(std::size_t index, std::size_t number) override;
    void connectionChanged(ConnectionState state) override;
    void fileRetrying(std::chrono::milliseconds delay, int attempt) override;
    void stopAsked() override;
    void fileSaved(std::size_t index) override;
    void fileKept(std::size_t index) override;
    void fileFailed(std::size_t index, FailureCause cause) override;
    void batchEnded(const BatchEnding& ending) override;
    [[nodiscard]] std::string destination() const override;

    // AnimationControls
    [[nodiscard]] float diskLeft() const override;
    void setDiskLeft(float left) override;
    [[nodiscard]] float globeLeft() const override;
    [[nodiscard]] float folderLeft() const override;
    void setDiskVisible(bool visible) override;
    void setFolderPicture(FolderPicture picture) override;

    Application& app_;
    bool closing_ = false;
    bool watchedForFrame_ = false;
    WindowControls c_;
    std::set<FailureCause> causes_;  // of the files that failed in the batch under way
    DesktopReport desktop_;
};

}  // namespace zavoket
