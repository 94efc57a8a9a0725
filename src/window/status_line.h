#pragma once

#include <QStatusBar>
#include <QTimer>

namespace zavoket {

// The status bar, showing one message. A screen reader is told the message that stands, at
// most twice a second, as the bar's name: a file goes through ten states in a blink, and
// QStatusBar's own messages raise a name change for each even when its name stays the same.
class StatusLine final : public QStatusBar {
  public:
    explicit StatusLine(QWidget* parent);

    [[nodiscard]] const QString& message() const { return message_; }
    void setMessage(const QString& message);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString message_;
    QTimer namer_;
};

}  // namespace zavoket
