#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QStringList>
#include <QWidget>

namespace zavoket {

// The window's look: its controls' geometry, faces, colours and the ways its captions are made.

inline const QColor kWindowColour(224, 224, 224);
inline const QColor kBandColour(64, 64, 64);

// The layout is drawn in twips, 15 to a pixel.
[[nodiscard]] QRect fromTwips(int left, int top, int width, int height);

// The first of families that is installed, at points as a 96-dpi screen shows them.
[[nodiscard]] QFont gothic(const QStringList& families, double points);

// Shrinks the label's font until every one of texts fits height, in one line each unless the
// label wraps; the second form fits the label's own text to its own box.
void fitFont(QLabel* label, int height, const QStringList& texts);
void fitFont(QLabel* label);

[[nodiscard]] QLabel* makeLabel(QWidget* parent, const char* name, const QString& text,
                                QRect geometry);
void paint(QLabel* label, const QColor& background, const QColor& text);
void asBand(QLabel* label, const QFont& font);
void withBorder(QLabel* label);
void transparentWhite(QLabel* label, const QFont& font);
[[nodiscard]] QLabel* makeImage(QWidget* parent, const char* name, const QString& icon,
                                QRect geometry, const QString& shows);
[[nodiscard]] QPushButton* makeButton(QWidget* parent, const char* name, const QString& text,
                                      QRect geometry);

// The classic look on any desktop: every text colour goes with the background colour the
// window sets, so a dark theme cannot put light text on the window's light grey.
[[nodiscard]] QPalette classicPalette();

// Draws root and every widget in it with one style whatever the desktop's, so that the palette
// above and the style agree (a dark style paints its own dark buttons), with a focus frame of
// two pixels on buttons and lists that shows under any colour scheme.
void useClassicStyle(QWidget* root);

}  // namespace zavoket
