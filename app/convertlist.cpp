#include "convertlist.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>

#include "main/folderwalk.h"
#include "main/jobdriver.h"
#include "main/mainfunc.h"
#include "mainform.h"
#include "runningcopy.h"

namespace {
const QColor kBackground(255, 255, 255);
const QColor kSelected(97, 172, 222);
constexpr int kWheelRows = 3;
// The list that MainFunc.Rows currently repaints.
TConvertList* RowsOwner = nullptr;
}  // namespace

TConvertList::TConvertList(TListRows& rows, QWidget* parent) : QWidget(parent), rows_(rows) {
  setFixedSize(514, 245);
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  setAttribute(Qt::WA_OpaquePaintEvent);

  ScrollBar = new QScrollBar(Qt::Vertical, this);
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  ScrollBar->setGeometry(width() - extent - 1, 1, extent, height() - 2);
  ScrollBar->setSingleStep(1);
  ScrollBar->setPageStep(kVisibleRows);
  ScrollBar->setFocusPolicy(Qt::NoFocus);
  connect(ScrollBar, &QScrollBar::valueChanged, this, [this](int value) {
    if (!syncing_) SetTopIndex(value);
  });

  rows_.OnRepaint = [this] { RowsChanged(); };
  RowsOwner = this;
  RowsChanged();
}

TConvertList::~TConvertList() {
  if (RowsOwner != this) return;
  rows_.OnRepaint = nullptr;
  RowsOwner = nullptr;
}

int TConvertList::TextWidth(const std::string& text) const {
  return fontMetrics().horizontalAdvance(QFile::decodeName(QByteArray::fromStdString(text)));
}

std::vector<TDrawnRow> TConvertList::PaintedRows() const {
  return ComputeDrawList(rows_, [this](const std::string& t) { return TextWidth(t); });
}

int TConvertList::MaxTopIndex() const { return std::max(0, rows_.Count() - kVisibleRows); }

void TConvertList::RowsChanged() {
  syncing_ = true;
  ScrollBar->setRange(0, std::max(MaxTopIndex(), rows_.TopIndex > 0 ? rows_.TopIndex : 0));
  ScrollBar->setValue(rows_.TopIndex);
  ScrollBar->setVisible(rows_.Count() > kVisibleRows);
  syncing_ = false;
  update();
}

void TConvertList::SetTopIndex(int top) {
  rows_.TopIndex = std::clamp(top, 0, MaxTopIndex());
  RowsChanged();
}

void TConvertList::EnsureVisible(int row) {
  if (row < rows_.TopIndex) {
    SetTopIndex(row);
  } else if (row >= rows_.TopIndex + kVisibleRows) {
    SetTopIndex(row - kVisibleRows + 1);
  } else {
    RowsChanged();
  }
}

void TConvertList::ConvertListDrawItem() {
  // At the screen's own scale, so the text stays sharp on a scaled display.
  const qreal scale = devicePixelRatioF();
  ListBitmap = QPixmap(size() * scale);
  ListBitmap.setDevicePixelRatio(scale);
  ListBitmap.fill(kBackground);
  if (rows_.Count() == 0) return;
  QPainter painter(&ListBitmap);
  painter.setFont(font());
  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  const int ascent = painter.fontMetrics().ascent();
  for (const TDrawnRow& row : PaintedRows()) {
    if (row.Selected) painter.fillRect(0, row.Y, width(), LIST_ROW_HEIGHT, kSelected);
    painter.drawText(LIST_TEXT_LEFT, row.Y + ascent,
                     QFile::decodeName(QByteArray::fromStdString(row.Text)));
  }
}

void TConvertList::paintEvent(QPaintEvent*) {
  ConvertListDrawItem();
  QPainter painter(this);
  painter.drawPixmap(0, 0, ListBitmap);
  // The box's own sunken edge.
  painter.setPen(QColor(128, 128, 128));
  painter.drawRect(0, 0, width() - 1, height() - 1);
}

void TConvertList::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  const int row = rows_.TopIndex + event->position().toPoint().y() / LIST_ROW_HEIGHT;
  if (row >= 0 && row < rows_.Count()) {
    rows_.ItemIndex = row;
    EnsureVisible(row);
  }
}

void TConvertList::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches != 0) SetTopIndex(rows_.TopIndex - notches * kWheelRows);
  event->accept();
}

void TConvertList::keyPressEvent(QKeyEvent* event) {
  const int count = rows_.Count();
  if (count == 0) {
    QWidget::keyPressEvent(event);
    return;
  }
  const int s = rows_.ItemIndex;
  int target;
  switch (event->key()) {
    case Qt::Key_Up: target = s < 0 ? 0 : s - 1; break;
    case Qt::Key_Down: target = s + 1; break;
    case Qt::Key_PageUp: target = (s < 0 ? 0 : s) - (kVisibleRows - 1); break;
    case Qt::Key_PageDown: target = s + kVisibleRows - 1; break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = count - 1; break;
    default: QWidget::keyPressEvent(event); return;
  }
  rows_.ItemIndex = std::clamp(target, 0, count - 1);
  EnsureVisible(rows_.ItemIndex);
}

std::vector<std::string> DroppedFilePaths(const QMimeData* data) {
  std::vector<std::string> paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

void TConvertList::dragEnterEvent(QDragEnterEvent* event) {
  // The list must not change under a running batch.
  if (!MainFunc.BatchRunning && !DroppedFilePaths(event->mimeData()).empty()) {
    event->acceptProposedAction();
  }
}

void TConvertList::dragMoveEvent(QDragMoveEvent* event) {
  if (!MainFunc.BatchRunning) event->acceptProposedAction();
}

void TConvertList::dropEvent(QDropEvent* event) {
  if (MainFunc.BatchRunning) return;
  const auto paths = DroppedFilePaths(event->mimeData());
  if (paths.empty()) return;
  event->acceptProposedAction();
  {
    // Events are processed between the appends; no command may change the list meanwhile.
    TBatchGuard busy;
    AppendSourcePaths(ExpandSourceFolders(paths));
  }
  if (Form1) Form1->UpdateCommandState();
  // Files a later start handed over meanwhile.
  AddHandedFiles();
}
