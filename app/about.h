// The about box: the program's name, logo, version, maker and two links.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* Logo = nullptr;
  QLabel* SiteURL = nullptr;
  QLabel* EMail = nullptr;
  QPushButton* OK = nullptr;

  void OKClick();
  void SiteURLClick();
  void EMailClick();

  // Opens a link through the desktop; tests put their own recorder here.
  std::function<void(const QUrl&)> OpenUrl;

  static const char* const SiteAddress;
  static const char* const MailAddress;
  // The logo, drawn by the program itself.
  static QPixmap DrawLogo(int size);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TAboutBox* AboutBox;
