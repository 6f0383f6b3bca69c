// The main window: format list, the four buttons, the conversion list and the menu, with
// their handlers. Every command is refused while a batch runs.
#pragma once

#include <QMainWindow>
#include <QUrl>

#include <functional>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class TConvertList;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QComboBox* OutFormat = nullptr;
  QPushButton* Convert = nullptr;
  QPushButton* Add = nullptr;
  QPushButton* Remove = nullptr;
  QPushButton* Clear = nullptr;
  TConvertList* ConvertList = nullptr;

  QMenu* File1 = nullptr;
  QAction* Convert1 = nullptr;
  QAction* CD1 = nullptr;
  QAction* Remove1 = nullptr;
  QAction* Clear1 = nullptr;
  QAction* Convert2 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Options1 = nullptr;
  QAction* Preferences1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* OrvikConverterHelp1 = nullptr;
  QAction* About1 = nullptr;

  void FormCreate();
  void FormClose();
  void OutFormatChange();
  void ConvertClick();
  void Convert2Click();
  void AddClick();
  void Convert1Click();
  void RemoveClick();
  void Remove1Click();
  void ClearClick();
  void Clear1Click();
  void CD1Click();
  void Preferences1Click();
  void About1Click();
  void OrvikConverterHelp1Click();
  void Exit1Click();

  // False while a batch runs, or while the CD command or adding files fills the list: no
  // command may then start a batch or change the list.
  bool CommandAllowed() const;
  // Enables the commands, or disables them while a batch runs.
  void UpdateCommandState();

  // Opens a document with the desktop's default program, false when none could; tests put
  // a recorder here.
  std::function<bool(const QUrl&)> OpenUrl;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  // Runs a command handler from a click or shortcut, exceptions shown, never let into Qt.
  void RunCommand(void (TForm1::*handler)());
};

extern TForm1* Form1;
