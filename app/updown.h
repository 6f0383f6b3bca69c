// A standalone up-down control: two small arrow buttons stacked in one narrow column,
// holding a position between a minimum and a maximum. It stands beside a read-only
// field whose text its owner keeps up to date.
#pragma once

#include <QWidget>

class QToolButton;

class TUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TUpDown(QWidget* parent = nullptr);

  void setRange(int minimum, int maximum);
  int minimum() const { return min_; }
  int maximum() const { return max_; }

  int position() const { return position_; }
  // Sets the position without a click; values outside the range stop at its ends.
  void setPosition(int position);

  // The arrows act as a user's click would: one step, stopping at the ends (no wrap),
  // and `clicked` follows in every case.
  void stepUp();
  void stepDown();

  QToolButton* upButton() const { return up_; }
  QToolButton* downButton() const { return down_; }

 signals:
  void clicked(int position);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // The control ignores being disabled: its arrows stay usable.
  void changeEvent(QEvent* event) override;

 private:
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};
