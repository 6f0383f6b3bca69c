// The conversion list box: shows MainFunc.Rows, painting every visible row into an
// off-screen pixmap that is then copied onto the widget. Click selects a row; the wheel,
// the keys and the scroll bar move the top row; files and folders dropped from a file
// manager are appended like the file-open dialog's, a folder by the sources below it.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <string>
#include <vector>

#include "main/listops.h"
#include "main/listrows.h"

class QScrollBar;

class TConvertList : public QWidget {
  Q_OBJECT

 public:
  explicit TConvertList(TListRows& rows, QWidget* parent = nullptr);
  ~TConvertList() override;

  // Rows wholly visible in the 245-pixel height.
  static constexpr int kVisibleRows = 15;

  // Drawn width of a text in the list's font.
  int TextWidth(const std::string& text) const;
  // The rows as the next painting draws them.
  std::vector<TDrawnRow> PaintedRows() const;

  QScrollBar* ScrollBar = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // ConvertListDrawItem: draws the rows into ListBitmap.
  void ConvertListDrawItem();
  void RowsChanged();
  void SetTopIndex(int top);
  void EnsureVisible(int row);
  int MaxTopIndex() const;

  TListRows& rows_;
  QPixmap ListBitmap;
  bool syncing_ = false;
};

// The local files and folders named by dropped data, as byte paths.
std::vector<std::string> DroppedFilePaths(const class QMimeData* data);
