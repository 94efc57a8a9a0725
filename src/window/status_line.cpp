#include "window/status_line.h"

#include <QPainter>

namespace zavoket {

namespace {
const char* const kWhatItIs = "接続の状態";
}  // namespace

StatusLine::StatusLine(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    setAccessibleName(kWhatItIs);
    setAccessibleDescription(kWhatItIs);
    namer_.setSingleShot(true);
    namer_.setInterval(500);
    connect(&namer_, &QTimer::timeout, this, [this] {
        const QString name = message_.isEmpty() ? QString(kWhatItIs) : message_;
        if (accessibleName() != name) {
            setAccessibleName(name);
        }
    });
}

void StatusLine::setMessage(const QString& message) {
    if (message != message_) {
        message_ = message;
        update();
        namer_.start();
    }
}

void StatusLine::paintEvent(QPaintEvent* event) {
    QStatusBar::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int margin = fontMetrics().horizontalAdvance('x');
    painter.drawText(rect().adjusted(margin, 0, -margin, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, message_);
}

}  // namespace zavoket
