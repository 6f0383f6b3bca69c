#include "updown.h"

#include <QEvent>
#include <QToolButton>

#include <algorithm>

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  up_ = new QToolButton(this);
  up_->setObjectName(QStringLiteral("up"));
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setObjectName(QStringLiteral("down"));
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setIconSize(QSize(6, 6));
  }
  connect(up_, &QToolButton::clicked, this, &TUpDown::stepUp);
  connect(down_, &QToolButton::clicked, this, &TUpDown::stepDown);
}

void TUpDown::setRange(int minimum, int maximum) {
  min_ = std::min(minimum, maximum);
  max_ = std::max(minimum, maximum);
  position_ = std::clamp(position_, min_, max_);
}

void TUpDown::setPosition(int position) { position_ = std::clamp(position, min_, max_); }

void TUpDown::stepUp() {
  if (position_ < max_) ++position_;
  emit clicked(position_);
}

void TUpDown::stepDown() {
  if (position_ > min_) --position_;
  emit clicked(position_);
}

void TUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int upper = height() / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper, width(), height() - upper);
}

void TUpDown::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // Only an explicit setEnabled(false) is undone; a disabled parent is left to rule.
  if (event->type() == QEvent::EnabledChange && testAttribute(Qt::WA_ForceDisabled))
    setEnabled(true);
}
