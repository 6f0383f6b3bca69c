#include "readonlywarnbox.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QPushButton>

#include "fittext.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"

TReadOnlyWarningBox* ReadOnlyWarningBox = nullptr;
TReadOnlyWarningBox* TReadOnlyWarningBox::hookOwner_ = nullptr;

TReadOnlyWarningBox::TReadOnlyWarningBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("ReadOnlyWarningBox"));
  // The geometry is laid out for the dialog font: sans-serif at 8 points.
  QFont dialogFont(QStringLiteral("Sans Serif"), 8);
  dialogFont.setStyleHint(QFont::SansSerif);
  setFont(dialogFont);
  setWindowTitle(QStringLiteral("Запись невозможна"));
  setFixedSize(320, 121);
  setModal(true);

  auto* headline = new QLabel(QStringLiteral("Запись в исходный каталог невозможна!"), this);
  QFont font = headline->font();
  font.setPixelSize(13);
  headline->setFont(font);
  headline->move(27, 8);
  headline->adjustSize();

  auto* detail = new QLabel(QStringLiteral("Запись будет произведена в подкаталог программы output."), this);
  detail->move(8, 32);
  FitTextToWidth(detail, 320 - 8 - 4);
  detail->adjustSize();

  sBitBtn1 = new QPushButton(QStringLiteral("OK"), this);
  sBitBtn1->setObjectName(QStringLiteral("sBitBtn1"));
  sBitBtn1->setGeometry(122, 88, 75, 25);
  sBitBtn1->setDefault(true);
  connect(sBitBtn1, &QPushButton::clicked, this, [this] { sBitBtn1Click(); });

  WarnMore = new QCheckBox(QStringLiteral("Больше не показывать"), this);
  WarnMore->setObjectName(QStringLiteral("WarnMore"));
  WarnMore->setGeometry(8, 64, 146, 20);
  WarnMore->setChecked(false);
  FitTextToWidth(WarnMore, 146, WarnMore->sizeHint().width() -
                                   WarnMore->fontMetrics().horizontalAdvance(WarnMore->text()));

  setTabOrder(sBitBtn1, WarnMore);
  sBitBtn1->setFocus();
  setStyleSheet(QStringLiteral("QLabel, QCheckBox { color: black; }"));

  // The job driver shows this box through the hook, modally, and waits for it.
  UiHooks.ShowReadOnlyWarning = [this] { exec(); };
  hookOwner_ = this;
}

TReadOnlyWarningBox::~TReadOnlyWarningBox() {
  if (ReadOnlyWarningBox == this) ReadOnlyWarningBox = nullptr;
  if (hookOwner_ == this) {
    UiHooks.ShowReadOnlyWarning = nullptr;
    hookOwner_ = nullptr;
  }
}

void TReadOnlyWarningBox::sBitBtn1Click() {
  MainFunc.ReadOnlyWarn = !WarnMore->isChecked();
  accept();
}
