#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "app/application.h"
#include "window/animation.h"
#include "window/desktop_report.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace zavoket {

class DriveList;
class FileList;
class FolderList;
class StatusLine;

struct MainFormOptions {
    // Ends the process at once. Tests replace it to see the ending happen.
    std::function<void()> endProgram;
    // One Japanese Gothic face for every text; empty: IPA (P)Gothic, or Noto Sans CJK JP.
    QString face;
};

// The one window: the view of the application's batch. Every control the batch and the
// animation talk to is a child here, under its own object name.
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
    void buildControls();
    void connectControls();
    void closeNow();
    void onDriveChanged();
    void askForNewFolder();

    // BatchView
    void setLabel2Caption(const std::string& text) override;
    void setLabel3Caption(const std::string& text) override;
    void showLabel11() override;
    void setImage3Visible(bool visible) override;
    void setTimer1Enabled(bool enabled) override;
    void setSbText(const std::string& text) override;
    [[nodiscard]] std::string turlText() const override;
    [[nodiscard]] std::string dirPath() const override;
    void refreshFile() override;

    // AnimationControls
    [[nodiscard]] float image3Left() const override;
    void setImage3Left(float left) override;
    [[nodiscard]] float image4Left() const override;
    [[nodiscard]] float image5Left() const override;
    void setImage5Picture(FolderPicture picture) override;

    Application& app_;
    MainFormOptions options_;
    bool closing_ = false;
    bool watchedForFrame_ = false;
    DesktopReport desktop_;

    QPushButton* cGet_ = nullptr;
    QPushButton* cAbort_ = nullptr;
    QPushButton* cClose_ = nullptr;
    QLineEdit* tUrl_ = nullptr;
    DriveList* drive_ = nullptr;
    FolderList* dir_ = nullptr;
    FileList* file_ = nullptr;
    StatusLine* sb_ = nullptr;
    QTimer* timer1_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* image2_ = nullptr;
    QLabel* image3_ = nullptr;
    QLabel* image4_ = nullptr;
    QLabel* image5_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QLabel* label11_ = nullptr;
    QLabel* announcement_ = nullptr;
};

}  // namespace zavoket
