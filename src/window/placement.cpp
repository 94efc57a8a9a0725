#include "window/placement.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cmath>

#include "window/animation.h"

namespace zavoket {

void centre(QWidget& window) {
    const QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QSize outer = window.frameGeometry().size();
    const QRect area = screen->geometry();
    const float left =
        centredPosition(static_cast<float>(area.width()), static_cast<float>(outer.width()));
    const float top =
        centredPosition(static_cast<float>(area.height()), static_cast<float>(outer.height()));
    // Half a pixel goes the way the window system takes a position finer than its pixels.
    window.move(area.x() + static_cast<int>(std::floor(left)),
                area.y() + static_cast<int>(std::floor(top)));
}

void centreOnceFramed(QWidget& window) {
    if (window.frameGeometry().size() != window.size()) {
        centre(window);  // framed already: no jump at all
        return;
    }
    auto* watch = new QTimer(&window);
    watch->setInterval(10);
    QElapsedTimer since;
    since.start();
    QObject::connect(watch, &QTimer::timeout, &window, [&window, watch, since] {
        if (window.frameGeometry().size() != window.size()) {
            centre(window);
        } else if (since.elapsed() < 2000) {
            return;
        }
        watch->stop();
        watch->deleteLater();
    });
    watch->start();
}

}  // namespace zavoket
