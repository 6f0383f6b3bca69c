// The windows are laid out in pixels for a narrow 8-point font; the platform's sans-serif
// runs wider, so a text that would be cut off at its place is set a little smaller.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QWidget>

// Shrinks the widget's font until its text (plus `extra` pixels, e.g. a check box's
// indicator) fits `width`; never below 6 pixels.
template <typename TWidget>
void FitTextToWidth(TWidget* widget, int width, int extra = 0) {
  QFont font = widget->font();
  int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontMetrics(font).height();
  while (pixels > 6 && QFontMetrics(font).horizontalAdvance(widget->text()) + extra > width) {
    font.setPixelSize(--pixels);
  }
  widget->setFont(font);
}
