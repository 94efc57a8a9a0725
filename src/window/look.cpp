#include "window/look.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>
#include <cmath>

namespace zavoket {

QRect fromTwips(int left, int top, int width, int height) {
    constexpr int kTwipsPerPixel = 15;  // at the design's resolution
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

namespace {

// Point sizes as the design's 96-dpi screen shows them, so the captions fit whatever the
// display's own dpi.
int pixelsForPoints(double points) {
    return static_cast<int>(points * 96.0 / 72.0 + 0.5);
}

}  // namespace

QFont gothic(const QStringList& families, double points) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelsForPoints(points));
    return font;
}

// Faces differ in how much room a line takes: Noto Sans CJK's lines are half as tall again as
// IPA Gothic's at the same size. The font shrinks, a pixel at a time, until every text the
// label will show fits the height it has, in one line each unless the label wraps.
void fitFont(QLabel* label, int height, const QStringList& texts) {
    QFont font = label->font();
    const int width = label->contentsRect().width();
    const int flags = static_cast<int>(label->alignment()) |
                      (label->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);
    for (int pixels = font.pixelSize(); pixels > 7; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics metrics(font);
        const bool fits = std::all_of(texts.begin(), texts.end(), [&](const QString& text) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, width, height), flags, text);
            return needed.height() <= height && needed.width() <= width;
        });
        if (fits) {
            break;
        }
    }
    label->setFont(font);
}

void fitFont(QLabel* label) {
    fitFont(label, label->contentsRect().height(), {label->text()});
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    // Qt indents the text of a framed label, at the top too: it would push the caption out.
    label->setIndent(0);
    label->setMargin(0);
    return label;
}

void paint(QLabel* label, const QColor& background, const QColor& text) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

void asBand(QLabel* label, const QFont& font) {
    paint(label, kBandColour, Qt::white);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setFont(font);
}

void withBorder(QLabel* label) {
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
}

void transparentWhite(QLabel* label, const QFont& font) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setFont(font);
    fitFont(label);
}

QLabel* makeImage(QWidget* parent, const char* name, const QString& icon, QRect geometry,
                  const QString& shows) {
    auto* image = makeLabel(parent, name, QString(), geometry);
    QPixmap art(icon);  // the 32 x 32 image, the first in the file
    // Pixel art by whole pixels on a dense screen, not smoothed into a blur.
    const int scale = static_cast<int>(std::ceil(parent->devicePixelRatioF()));
    if (scale > 1) {
        art = art.scaled(art.size() * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        art.setDevicePixelRatio(scale);
    }
    image->setPixmap(art);
    image->setAccessibleName(shows);
    return image;
}

// The classic look on any desktop: every text colour goes with the background colour the
// window sets, so a dark theme cannot put light text on the window's light grey.
QPalette classicPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, kWindowColour);
    palette.setColor(QPalette::Button, kWindowColour);
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(240, 240, 240));
    for (const auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text}) {
        palette.setColor(role, Qt::black);
        palette.setColor(QPalette::Disabled, role, QColor(96, 96, 96));
    }
    palette.setColor(QPalette::PlaceholderText, QColor(96, 96, 96));
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(240, 240, 240));
    palette.setColor(QPalette::Mid, QColor(160, 160, 160));
    palette.setColor(QPalette::Dark, QColor(128, 128, 128));
    palette.setColor(QPalette::Shadow, QColor(64, 64, 64));
    // A scheme's own highlight (a high-contrast yellow) would vanish on the light grey.
    palette.setColor(QPalette::Highlight, QColor(0, 70, 150));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

namespace {

class ClassicStyle final : public QProxyStyle {
  public:
    ClassicStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}

    // Room in the lists' frames for the focus frame.
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        return metric == PM_DefaultFrameWidth ? 2
                                              : QProxyStyle::pixelMetric(metric, option, widget);
    }
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if (element == CE_PushButton ? (option->state & State_HasFocus) != 0
                                     : element == CE_ShapedFrame && widget && widget->hasFocus()) {
            drawFocusFrame(option, painter);
        }
    }
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_ComboBox && (option->state & State_HasFocus) != 0) {
            drawFocusFrame(option, painter);
        }
    }

  private:
    // Whether the focus came by the keyboard or the mouse.
    static void drawFocusFrame(const QStyleOption* option, QPainter* painter) {
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option->rect).adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

}  // namespace

void useClassicStyle(QWidget* root) {
    // One for the program, owned by the application: it must outlive every widget drawn with it.
    static QStyle* const style = [] {
        auto* classic = new ClassicStyle;
        classic->setParent(QCoreApplication::instance());
        return classic;
    }();
    for (auto* combo : root->findChildren<QComboBox*>()) {
        (void)combo->view();  // its pop-up, made now so that it is styled too
    }
    root->setStyle(style);
    for (auto* widget : root->findChildren<QWidget*>()) {
        widget->setStyle(style);
    }
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace zavoket
