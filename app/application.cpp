#include "application.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <exception>

#include "codecs/eabort.h"
#include "main/uihooks.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromUtf8(kApplicationTitle));
  // Every window without an icon of its own shows the program's.
  setWindowIcon(ProgramIcon());
  // Ties the windows to the menu entry orvik-converter.desktop (the Wayland app id).
  setDesktopFileName(QStringLiteral("orvik-converter"));
  LoadQtTranslations();
}

void TApplication::LoadQtTranslations() {
  // Qt's own texts (file and folder dialogs, standard buttons) in the program's language,
  // whatever the desktop's; without the translations installed they stay English.
  auto* translator = new QTranslator(this);
  if (translator->load(QStringLiteral("qtbase_ru"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    installTranslator(translator);
  } else {
    delete translator;
  }
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const int size : {48, 256}) {
    icon.addFile(QStringLiteral(":/icons/orvik-converter-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowEscapedException(std::current_exception());
    return false;
  }
}

void ShowException(const std::string& message) {
  if (UiHooks.MessageBox) {
    UiHooks.MessageBox(message, kApplicationTitle, MB_ERROR);
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QString::fromUtf8(kApplicationTitle),
                        QString::fromUtf8(message));
}

void ShowEscapedException(std::exception_ptr escaped) {
  try {
    std::rethrow_exception(escaped);
  } catch (const EAbort&) {
  } catch (const std::exception& error) {
    ShowException(error.what());
  } catch (...) {
    // An exception object of another kind carries no message of its own.
    ShowException("");
  }
}

bool RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    ShowEscapedException(std::current_exception());
    return false;
  }
}
