#include "about.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include "fittext.h"

TAboutBox* AboutBox = nullptr;

const char* const TAboutBox::SiteAddress = "https://orvik-converter.example/";
const char* const TAboutBox::MailAddress = "support@orvik-converter.example";

namespace {
QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, int pixelHeight) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPixelSize(pixelHeight);
  label->setFont(font);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QLabel* MakeLink(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setUnderline(true);
  label->setFont(font);
  label->setCursor(Qt::PointingHandCursor);
  label->move(x, y);
  label->adjustSize();
  return label;
}
}  // namespace

QPixmap TAboutBox::DrawLogo(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size;

  // A disc in the winter blues, with a sound wave running across it.
  QLinearGradient disc(0, 0, s, s);
  disc.setColorAt(0, QColor(200, 226, 242));
  disc.setColorAt(1, QColor(60, 120, 170));
  painter.setPen(QPen(QColor(30, 70, 110), s / 32));
  painter.setBrush(disc);
  painter.drawEllipse(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92));
  painter.setBrush(QColor(255, 255, 255));
  painter.drawEllipse(QRectF(s * 0.42, s * 0.42, s * 0.16, s * 0.16));

  QPainterPath wave;
  wave.moveTo(s * 0.12, s * 0.5);
  const double heights[] = {0.1, -0.22, 0.3, -0.16, 0.24, -0.3, 0.18, -0.1};
  for (int i = 0; i < 8; ++i) {
    const double x = s * (0.12 + 0.095 * (i + 0.5));
    wave.quadTo(x, s * (0.5 - heights[i]), s * (0.12 + 0.095 * (i + 1)), s * 0.5);
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(255, 140, 0), s / 20, Qt::SolidLine, Qt::RoundCap));
  painter.drawPath(wave);
  return pixmap;
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("AboutBox"));
  // The geometry is laid out for the dialog font: sans-serif at 8 points.
  QFont dialogFont(QStringLiteral("Sans Serif"), 8);
  dialogFont.setStyleHint(QFont::SansSerif);
  setFont(dialogFont);
  setWindowTitle(QStringLiteral("О программе"));
  setFixedSize(293, 215);
  setModal(true);

  auto* frame = new QGroupBox(this);
  frame->setGeometry(8, 8, 281, 169);

  Logo = new QLabel(frame);
  Logo->setObjectName(QStringLiteral("Logo"));
  Logo->setGeometry(16, 16, 64, 64);
  Logo->setScaledContents(true);
  Logo->setAttribute(Qt::WA_TranslucentBackground);
  Logo->setPixmap(DrawLogo(128));

  auto* title = MakeLabel(frame, QStringLiteral("ORVIK CONVERTER"), 101, 24, 19);
  QFont titleFont = title->font();
  titleFont.setFamily(QStringLiteral("Arial"));
  title->setFont(titleFont);
  FitTextToWidth(title, 281 - 101 - 6);
  title->adjustSize();
  MakeLabel(frame, QStringLiteral("Версия 1.1 (22.03.2007)"), 102, 64, 13);
  MakeLabel(frame, QStringLiteral("Orvik Software"), 16, 96, 13);

  SiteURL = MakeLink(frame, QString::fromLatin1(SiteAddress), 16, 126);
  SiteURL->setObjectName(QStringLiteral("SiteURL"));
  EMail = MakeLink(frame, QStringLiteral("email: ") + QString::fromLatin1(MailAddress), 16, 142);
  EMail->setObjectName(QStringLiteral("EMail"));
  SiteURL->installEventFilter(this);
  EMail->installEventFilter(this);

  OK = new QPushButton(QStringLiteral("OK"), this);
  OK->setObjectName(QStringLiteral("OK"));
  OK->setGeometry(109, 184, 75, 25);
  OK->setDefault(true);
  OK->setFocus();
  connect(OK, &QPushButton::clicked, this, [this] { OKClick(); });

  OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  setStyleSheet(QStringLiteral("QLabel { color: black; }"));
}

void TAboutBox::OKClick() { accept(); }

void TAboutBox::SiteURLClick() {
  if (OpenUrl) OpenUrl(QUrl(QString::fromLatin1(SiteAddress)));
}

void TAboutBox::EMailClick() {
  if (OpenUrl) OpenUrl(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(MailAddress)));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    if (watched == SiteURL) {
      SiteURLClick();
      return true;
    }
    if (watched == EMail) {
      EMailClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
