// The settings dialog driven through its controls under the offscreen platform: what each
// control stores into ConvFunc.Options, what a showing displays, and the output folder check.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QSpinBox>
#include <QtTest>

#include <algorithm>
#include <string>
#include <vector>

#include "codecs/convfunc.h"
#include "main/uihooks.h"
#include "options.h"
#include "updown.h"

namespace {

struct TShownMessage {
  std::string text;
  std::string caption;
  int flags = 0;
};

const char kCdWarning[] =
    "Выходные файлы не могут располагаться на CD/DVD.\nПожалуйста, выберите другой каталог";

std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

QStringList Entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

// A record with every field inside its list, unlike FirstRunOptions in some places so that
// a fill that ignores a field shows up.
TOptions Loaded() {
  TOptions o = FirstRunOptions();
  o.WAVFreq = 22050;
  o.WAVNumChannels = 1;
  o.OGGFreq = 48000;
  o.OGGNumChannels = 1;
  o.OGGBitrate = 498;
  o.OGGQuality = 9;
  o.OGGUseVBR = true;
  o.MP3Freq = 32000;
  o.MP3NumChannels = 2;
  o.MP3Bitrate = 32;
  o.MP3Quality = 4;
  o.WMABitrate = 192;
  o.WMAQuality = 1;
  o.WMAUseVBR = true;
  o.Delete = true;
  o.OutputName = 2;
  o.OutputFolder = "/var/tmp";
  o.FLACFreq = 11025;
  o.FLACNumChannels = 1;
  o.FLACLevel = 8;
  o.OpusNumChannels = 1;
  o.OpusBitrate = 256;
  o.OpusUseVBR = false;
  o.ReplayGain = 2;
  return o;
}

struct TListCase {
  const char* name;
  int32_t TOptions::*field;
  std::vector<int32_t> values;  // stored by items 0, 1, ...
};

const TListCase kLists[] = {
    {"WAVNumCh", &TOptions::WAVNumChannels, {1, 2}},
    {"OggNumCh", &TOptions::OGGNumChannels, {1, 2}},
    {"MP3NumCh", &TOptions::MP3NumChannels, {1, 2}},
    {"WAVFreq", &TOptions::WAVFreq, {11025, 22050, 32000, 44100, 48000}},
    {"OggFreq", &TOptions::OGGFreq, {32000, 44100, 48000}},
    {"MP3Freq", &TOptions::MP3Freq, {32000, 44100, 48000}},
    {"OggBitrate", &TOptions::OGGBitrate, {64, 96, 128, 192, 224, 256, 320, 498}},
    {"MP3Bitrate", &TOptions::MP3Bitrate, {32, 64, 96, 128, 192, 224, 256, 320}},
    {"WMABitrate", &TOptions::WMABitrate, {32, 64, 96, 128, 192}},
    {"RenameChBox", &TOptions::OutputName, {1, 2}},
    {"FlacNumCh", &TOptions::FLACNumChannels, {1, 2}},
    {"FlacFreq", &TOptions::FLACFreq, {11025, 22050, 32000, 44100, 48000}},
    {"FlacLevel", &TOptions::FLACLevel, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
    {"OpusNumCh", &TOptions::OpusNumChannels, {1, 2}},
    {"OpusBitrate", &TOptions::OpusBitrate, {32, 64, 96, 128, 192, 224, 256}},
    {"ReplayGainList", &TOptions::ReplayGain, {0, 1, 2}},
};

}  // namespace

class TestOptions : public QObject {
  Q_OBJECT

 private:
  std::vector<TShownMessage> messages_;
  QTemporaryDir scratch_;

  void ShowAndClose(TOptionsBox& box) {
    box.show();
    QMetaObject::invokeMethod(&box, "OKClick");
    QVERIFY(!box.isVisible());
  }

  void ChooseAnswer(TOptionsBox& box, bool ok, const std::string& answer) {
    box.ChooseFolder = [ok, answer](std::string& folder) {
      if (ok) folder = answer;
      return ok;
    };
  }

  // Every list shows the item of its setting (the naming list only while renaming).
  void CompareLists(TOptionsBox& box, const TOptions& o) {
    for (const TListCase& l : kLists) {
      if (l.field == &TOptions::OutputName && o.OutputName == 0) continue;
      const auto at = std::find(l.values.begin(), l.values.end(), o.*l.field);
      QVERIFY2(at != l.values.end(), l.name);
      QCOMPARE(box.findChild<QComboBox*>(QLatin1String(l.name))->currentIndex(),
               int(at - l.values.begin()));
    }
  }

  void OpenFilesPage(TOptionsBox& box) { box.OptionsPageCtrl->setCurrentWidget(box.FilesPage); }

 private slots:
  void init() {
    messages_.clear();
    UiHooks.MessageBox = [this](const std::string& text, const std::string& caption, int flags) {
      messages_.push_back({text, caption, flags});
      return ID_OK;
    };
    ConvFunc.Options = FirstRunOptions();
  }

  void cleanup() { UiHooks.MessageBox = nullptr; }

  void windowAndFirstState() {
    TOptionsBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("Настройки"));
    QCOMPARE(box.minimumSize(), QSize(602, 356));
    QCOMPARE(box.maximumSize(), QSize(602, 356));
    QVERIFY(!(box.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint |
                                   Qt::WindowSystemMenuHint)));
    QCOMPARE(box.OptionsPageCtrl->tabText(0), QStringLiteral("Кодеки"));
    QCOMPARE(box.OptionsPageCtrl->tabText(1), QStringLiteral("Файлы"));
    QCOMPARE(box.OptionsPageCtrl->tabText(2), QStringLiteral("FLAC и Opus"));
    QCOMPARE(box.OptionsPageCtrl->tabText(3), QStringLiteral("Дополнительно"));
    QCOMPARE(box.ReplayGainList->itemText(2), QStringLiteral("По трекам и альбомам"));

    // Lists start with no item, but Opus's one rate, shown and not to be changed; fields and
    // up-downs as drawn; no radio button chosen.
    const auto lists = box.findChildren<QComboBox*>();
    QCOMPARE(lists.size(), 17);
    for (QComboBox* list : lists)
      if (list != box.OpusFreq) QVERIFY2(list->currentIndex() == -1, qPrintable(list->objectName()));
    QCOMPARE(box.OpusFreq->currentText(), QStringLiteral("48000 Гц"));
    QVERIFY(!box.OpusFreq->isEnabled());
    for (QLineEdit* field : {box.OggQuality, box.MP3Quality, box.WMAQuality})
      QCOMPARE(field->text(), QStringLiteral("1"));
    QCOMPARE(box.QualityOgg->position(), 5);
    QCOMPARE(box.QtyMP3->position(), 5);
    QCOMPARE(box.WMAqty->position(), 4);
    for (QRadioButton* radio : box.findChildren<QRadioButton*>()) QVERIFY(!radio->isChecked());

    // The bitrate lists are windows onto the bitrate table.
    QCOMPARE(box.OggBitrate->itemText(0), QStringLiteral("64 kbps"));
    QCOMPARE(box.OggBitrate->itemText(7), QStringLiteral("498 kbps"));
    QCOMPARE(box.MP3Bitrate->itemText(7), QStringLiteral("320 kbps"));
    QCOMPARE(box.WMABitrate->itemText(4), QStringLiteral("192 kbps"));
    QCOMPARE(box.WAVFreq->itemText(0), QStringLiteral("11025 Гц"));
  }

  // Every item of every list and the setting it stores.
  void listItemStoresValue_data() {
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("item");
    for (size_t l = 0; l < std::size(kLists); ++l)
      for (size_t i = 0; i < kLists[l].values.size(); ++i)
        QTest::addRow("%s item %zu", kLists[l].name, i) << int(l) << int(i);
  }

  void listItemStoresValue() {
    QFETCH(int, list);
    QFETCH(int, item);
    const TListCase& which = kLists[list];
    TOptionsBox box;
    auto* control = box.findChild<QComboBox*>(QLatin1String(which.name));
    QVERIFY(control);
    QCOMPARE(control->count(), int(which.values.size()));

    TOptions& o = ConvFunc.Options;
    for (const TListCase& each : kLists) o.*each.field = -7;
    TOptions expected = o;
    expected.*which.field = which.values[size_t(item)];

    control->setCurrentIndex(item);
    QVERIFY(o == expected);  // only the list's own setting changes
    control->setCurrentIndex(-1);
    QVERIFY(o == expected);  // losing the selection stores nothing
  }

  void showFillsControlsAndChangesNoSetting() {
    ConvFunc.Options = Loaded();
    const TOptions before = ConvFunc.Options;
    TOptionsBox box;
    box.show();
    QVERIFY(ConvFunc.Options == before);

    CompareLists(box, before);
    QCOMPARE(box.QualityOgg->position(), 8);
    QCOMPARE(box.OggQuality->text(), QStringLiteral("Наилучшее"));
    QCOMPARE(box.QtyMP3->position(), 3);
    QCOMPARE(box.MP3Quality->text(), QStringLiteral("Ниже среднего)"));
    QCOMPARE(box.WMAqty->position(), 0);
    QCOMPARE(box.WMAQuality->text(), QStringLiteral("Наихудшее"));

    QVERIFY(box.OggUseVBR->isChecked());
    QVERIFY(!box.MP3UseVBR->isChecked());
    QVERIFY(box.WMAUseVBR->isChecked());
    QVERIFY(box.OggQuality->isEnabled() && !box.OggBitrate->isEnabled());
    QVERIFY(!box.MP3Quality->isEnabled() && box.MP3Bitrate->isEnabled());
    QVERIFY(box.WMAQuality->isEnabled() && !box.WMABitrate->isEnabled());

    QVERIFY(box.CustomOutFolderBut->isChecked() && !box.SourceFolderBut->isChecked());
    QCOMPARE(box.CustomFolder->text(), QStringLiteral("/var/tmp"));
    QVERIFY(box.CustomFolder->isEnabled() && box.Browse->isEnabled());
    QVERIFY(box.DeleteSrc->isChecked());
    QVERIFY(box.RenameBut->isChecked() && !box.DontRenameFileBut->isChecked());
    QVERIFY(box.RenameChBox->isEnabled());
    QCOMPARE(box.RenameChBox->currentIndex(), 1);
    QVERIFY(!box.OpusUseVBR->isChecked());

    QMetaObject::invokeMethod(&box, "OKClick");
    QVERIFY(ConvFunc.Options == before);

    // The next showing overwrites the controls from settings changed meanwhile.
    ConvFunc.Options = FirstRunOptions();
    const TOptions firstRun = ConvFunc.Options;
    box.show();
    QVERIFY(ConvFunc.Options == firstRun);
    CompareLists(box, firstRun);
    QVERIFY(!box.OggUseVBR->isChecked() && !box.OggQuality->isEnabled());
    QVERIFY(box.SourceFolderBut->isChecked() && !box.CustomOutFolderBut->isChecked());
    QVERIFY(box.CustomFolder->text().isEmpty());
    QVERIFY(!box.CustomFolder->isEnabled() && !box.Browse->isEnabled());
    QVERIFY(!box.DeleteSrc->isChecked());
    QVERIFY(box.DontRenameFileBut->isChecked() && !box.RenameBut->isChecked());
    QVERIFY(!box.RenameChBox->isEnabled());
    QCOMPARE(box.RenameChBox->currentIndex(), 0);
    QVERIFY(box.OpusUseVBR->isChecked());
    box.OpusUseVBR->click();
    QVERIFY(!ConvFunc.Options.OpusUseVBR);
  }

  void valuesOutsideListsAreKept() {
    TOptions& o = ConvFunc.Options;
    o.WAVFreq = 8000;
    o.WAVNumChannels = 6;
    o.OGGFreq = 22050;
    o.OGGNumChannels = 0;
    o.OGGBitrate = 32;  // offered by the MP3 and WMA lists only
    o.OGGQuality = 0;
    o.MP3Freq = 11025;
    o.MP3NumChannels = -1;
    o.MP3Bitrate = 8;  // a table entry that no list offers
    o.MP3Quality = 10;
    o.WMABitrate = 224;
    o.WMAQuality = 6;
    o.OutputName = 3;
    const TOptions before = o;

    TOptionsBox box;
    ShowAndClose(box);
    QVERIFY(ConvFunc.Options == before);
    for (QComboBox* list : {box.WAVFreq, box.WAVNumCh, box.OggFreq, box.OggNumCh, box.OggBitrate,
                            box.MP3Freq, box.MP3NumCh, box.MP3Bitrate, box.WMABitrate,
                            box.RenameChBox})
      QVERIFY2(list->currentIndex() == -1, qPrintable(list->objectName()));
    QVERIFY(box.RenameBut->isChecked() && box.RenameChBox->isEnabled());
    // Quality steps outside 1..9 (1..5) leave the up-down and the field as drawn.
    QCOMPARE(box.QualityOgg->position(), 5);
    QCOMPARE(box.OggQuality->text(), QStringLiteral("1"));
    QCOMPARE(box.QtyMP3->position(), 5);
    QCOMPARE(box.MP3Quality->text(), QStringLiteral("1"));
    QCOMPARE(box.WMAqty->position(), 4);
    QCOMPARE(box.WMAQuality->text(), QStringLiteral("1"));

    // A later showing with an unmatched value keeps what the list showed before.
    ConvFunc.Options.OGGFreq = 44100;
    box.show();
    QCOMPARE(box.OggFreq->currentIndex(), 1);
    ConvFunc.Options.OGGFreq = 96000;
    box.show();
    QCOMPARE(box.OggFreq->currentIndex(), 1);
    QCOMPARE(ConvFunc.Options.OGGFreq, 96000);
  }

  void outputNameTwoSurvivesShowing() {
    ConvFunc.Options.OutputName = 2;
    TOptionsBox box;
    ShowAndClose(box);
    QCOMPARE(ConvFunc.Options.OutputName, 2);
    QVERIFY(box.RenameBut->isChecked());
    QCOMPARE(box.RenameChBox->currentIndex(), 1);
  }

  void namingChosenByHand() {
    ConvFunc.Options.OutputName = 2;
    TOptionsBox box;
    box.show();
    OpenFilesPage(box);

    QTest::mouseClick(box.DontRenameFileBut, Qt::LeftButton);
    QCOMPARE(ConvFunc.Options.OutputName, 0);
    QVERIFY(!box.RenameChBox->isEnabled());

    QTest::mouseClick(box.RenameBut, Qt::LeftButton);
    QCOMPARE(ConvFunc.Options.OutputName, 1);
    QCOMPARE(box.RenameChBox->currentIndex(), 0);
    QVERIFY(box.RenameChBox->isEnabled());

    box.RenameChBox->setCurrentIndex(1);
    QCOMPARE(ConvFunc.Options.OutputName, 2);
    // The pair excludes only its own partner: the folder pair is untouched.
    QVERIFY(box.SourceFolderBut->isChecked());
  }

  void customFolderWithEmptyFieldKeepsSourceFolder() {
    TOptionsBox box;
    box.show();
    OpenFilesPage(box);
    QVERIFY(!box.Browse->isEnabled());
    QTest::mouseClick(box.CustomOutFolderBut, Qt::LeftButton);
    QVERIFY(box.CustomOutFolderBut->isChecked());
    QVERIFY(box.Browse->isEnabled() && box.CustomFolder->isEnabled());
    QVERIFY(ConvFunc.Options.OutputFolder.empty());
    // The naming pair is independent of the folder pair.
    QVERIFY(box.DontRenameFileBut->isChecked());
  }

  void sourceFolderForgetsTheOldFolder() {
    ConvFunc.Options.OutputFolder = "/var/tmp";
    TOptionsBox box;
    box.show();
    OpenFilesPage(box);
    QTest::mouseClick(box.SourceFolderBut, Qt::LeftButton);
    QVERIFY(ConvFunc.Options.OutputFolder.empty());
    QVERIFY(box.CustomFolder->text().isEmpty());
    QVERIFY(!box.CustomFolder->isEnabled() && !box.Browse->isEnabled());

    QTest::mouseClick(box.CustomOutFolderBut, Qt::LeftButton);
    QVERIFY(ConvFunc.Options.OutputFolder.empty());
    QVERIFY(box.CustomFolder->text().isEmpty());
  }

  void folderFieldHandsFocusToBrowse() {
    ConvFunc.Options.OutputFolder = "/var/tmp";
    TOptionsBox box;
    box.show();
    OpenFilesPage(box);
    box.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&box));
    box.CustomFolder->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(box.Browse->hasFocus());
    QVERIFY(!box.CustomFolder->hasFocus());
    QTest::keyClicks(box.CustomFolder, QStringLiteral("/etc"));
    QCOMPARE(ConvFunc.Options.OutputFolder, std::string("/var/tmp"));
    QCOMPARE(box.CustomFolder->text(), QStringLiteral("/var/tmp"));
  }

  void browseWritableFolder_data() {
    QTest::addColumn<bool>("trailingSlash");
    QTest::newRow("plain") << false;
    QTest::newRow("with trailing slash") << true;
  }

  void browseWritableFolder() {
    QFETCH(bool, trailingSlash);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file the probe must neither empty nor delete.
    QFile keep(dir.filePath(QStringLiteral("test")));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("keep me");
    keep.close();

    TOptionsBox box;
    box.show();
    OpenFilesPage(box);
    QTest::mouseClick(box.CustomOutFolderBut, Qt::LeftButton);
    ChooseAnswer(box, true, Bytes(dir.path()) + (trailingSlash ? "/" : ""));
    QTest::mouseClick(box.Browse, Qt::LeftButton);

    QVERIFY(messages_.empty());
    QCOMPARE(ConvFunc.Options.OutputFolder, Bytes(dir.path()));
    QCOMPARE(box.CustomFolder->text(), dir.path());
    QCOMPARE(Entries(dir.path()), QStringList{QStringLiteral("test")});
    QVERIFY(keep.open(QIODevice::ReadOnly));
    QCOMPARE(keep.readAll(), QByteArray("keep me"));
  }

  void browseUnwritableFolderFallsBackHome_data() {
    QTest::addColumn<QString>("below");
    QTest::newRow("below a regular file") << QStringLiteral("plain/sub");
    QTest::newRow("missing folder") << QStringLiteral("missing");
  }

  void browseUnwritableFolderFallsBackHome() {
    QFETCH(QString, below);
    QVERIFY(scratch_.isValid());
    QFile plain(scratch_.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QStringList before = Entries(scratch_.path());

    ConvFunc.Options.OutputFolder = "/var/tmp";
    TOptionsBox box;
    box.show();
    ChooseAnswer(box, true, Bytes(scratch_.filePath(below)));
    QMetaObject::invokeMethod(&box, "BrowseClick");

    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].text, std::string(kCdWarning));
    QCOMPARE(messages_[0].caption, std::string("Предупреждение"));
    QCOMPARE(messages_[0].flags, int(MB_WARNING));
    QCOMPARE(ConvFunc.Options.OutputFolder, Bytes(QDir::homePath()));
    QCOMPARE(box.CustomFolder->text(), QDir::homePath());
    QCOMPARE(Entries(scratch_.path()), before);
  }

  void cancelledChooserChangesNothing() {
    ConvFunc.Options.OutputFolder = "/var/tmp";
    TOptionsBox box;
    box.show();
    int asked = 0;
    box.ChooseFolder = [&asked](std::string& folder) {
      ++asked;
      folder = "/should/not/be/used";
      return false;
    };
    const QStringList cwdBefore = Entries(QDir::currentPath());
    QMetaObject::invokeMethod(&box, "BrowseClick");
    QCOMPARE(asked, 1);
    QVERIFY(messages_.empty());
    QCOMPARE(ConvFunc.Options.OutputFolder, std::string("/var/tmp"));
    QCOMPARE(box.CustomFolder->text(), QStringLiteral("/var/tmp"));
    QCOMPARE(Entries(QDir::currentPath()), cwdBefore);
  }

  // config.cfg keeps the folder on one "OutputFolder=" line of at most 255 characters read
  // back up to its last "=": longer folders, "=" and line ends cannot survive a restart.
  void foldersTheSettingsFileCannotHold_data() {
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<QString>("leaf");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("241 bytes") << 0 << QString() << true;
    QTest::newRow("242 bytes") << 1 << QString() << false;
    QTest::newRow("equals sign") << -1 << QStringLiteral("a=b") << false;
    QTest::newRow("line feed") << -1 << QStringLiteral("a\nb") << false;
  }

  void foldersTheSettingsFileCannotHold() {
    QFETCH(int, extraBytes);
    QFETCH(QString, leaf);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder = dir.path();
    if (extraBytes >= 0) {
      // Pad with nested folders to 241 bytes, plus the extra ones.
      const int target = 241 + extraBytes;
      while (Bytes(folder).size() < size_t(target)) {
        const int room = target - int(Bytes(folder).size()) - 1;
        if (room <= 0) {
          folder += QLatin1Char('x');
          break;
        }
        folder += QLatin1Char('/') + QString(qMin(room, 100), QLatin1Char('d'));
      }
      QCOMPARE(Bytes(folder).size(), size_t(target));
    } else {
      folder += QLatin1Char('/') + leaf;
    }
    QVERIFY(QDir().mkpath(folder));

    ConvFunc.Options.OutputFolder = "/var/tmp";
    TOptionsBox box;
    box.show();
    ChooseAnswer(box, true, Bytes(folder));
    QMetaObject::invokeMethod(&box, "BrowseClick");

    if (accepted) {
      QVERIFY(messages_.empty());
      QCOMPARE(ConvFunc.Options.OutputFolder, Bytes(folder));
      return;
    }
    QCOMPARE(messages_.size(), size_t(1));
    QCOMPARE(messages_[0].caption, std::string("Предупреждение"));
    QCOMPARE(messages_[0].flags, int(MB_WARNING));
    QVERIFY(messages_[0].text != kCdWarning);
    QCOMPARE(ConvFunc.Options.OutputFolder, std::string("/var/tmp"));
    QCOMPARE(box.CustomFolder->text(), QStringLiteral("/var/tmp"));
  }

  void qualityUpDowns_data() {
    QTest::addColumn<QString>("upDown");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("clicks");  // up when positive, down when negative
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("name");
    QTest::newRow("ogg top stays") << "QualityOgg" << 9 << 3 << 9 << "Наилучшее";
    QTest::newRow("ogg bottom stays") << "QualityOgg" << 1 << -2 << 1 << "Наихудшее";
    QTest::newRow("ogg up one") << "QualityOgg" << 4 << 1 << 5 << "Среднее";
    QTest::newRow("mp3 top stays") << "QtyMP3" << 8 << 4 << 9 << "Наилучшее";
    QTest::newRow("mp3 bottom stays") << "QtyMP3" << 2 << -5 << 1 << "Наихудшее";
    QTest::newRow("mp3 down to fourth") << "QtyMP3" << 5 << -1 << 4 << "Ниже среднего)";
    QTest::newRow("wma top stays") << "WMAqty" << 5 << 2 << 5 << "Наилучшее";
    QTest::newRow("wma bottom stays") << "WMAqty" << 1 << -1 << 1 << "Наихудшее";
    QTest::newRow("wma up to high") << "WMAqty" << 3 << 1 << 4 << "Высокое";
  }

  void qualityUpDowns() {
    QFETCH(QString, upDown);
    QFETCH(int, start);
    QFETCH(int, clicks);
    QFETCH(int, stored);
    QFETCH(QString, name);
    TOptions& o = ConvFunc.Options;
    o.OGGQuality = o.MP3Quality = o.WMAQuality = start;
    // Bitrate mode: the fields are disabled, the up-downs still work.
    o.OGGUseVBR = o.MP3UseVBR = o.WMAUseVBR = false;
    TOptionsBox box;
    box.show();
    auto* control = box.findChild<TUpDown*>(upDown);
    QVERIFY(control && control->isEnabled());
    for (int i = 0; i < qAbs(clicks); ++i)
      QTest::mouseClick(clicks > 0 ? control->upButton() : control->downButton(), Qt::LeftButton);

    QLineEdit* field = control == box.QualityOgg ? box.OggQuality
                       : control == box.QtyMP3   ? box.MP3Quality
                                                 : box.WMAQuality;
    const int32_t setting = control == box.QualityOgg ? o.OGGQuality
                            : control == box.QtyMP3   ? o.MP3Quality
                                                      : o.WMAQuality;
    QCOMPARE(setting, stored);
    QCOMPARE(control->position(), stored - 1);
    QCOMPARE(field->text(), name);
    QVERIFY(!field->isEnabled());
  }

  void upDownIsNeverDisabled() {
    TUpDown upDown;
    upDown.setRange(0, 4);
    upDown.setEnabled(false);
    QVERIFY(upDown.isEnabled());
    QVERIFY(upDown.upButton()->isEnabled());
    upDown.setEnabled(true);
    upDown.upButton()->click();
    upDown.upButton()->click();
    QCOMPARE(upDown.position(), 2);
    upDown.setPosition(99);
    QCOMPARE(upDown.position(), 4);
    upDown.setPosition(-3);
    QCOMPARE(upDown.position(), 0);
  }

  void variableBitrateBoxes_data() {
    QTest::addColumn<QString>("box");
    QTest::newRow("ogg") << "OggUseVBR";
    QTest::newRow("mp3") << "MP3UseVBR";
    QTest::newRow("wma") << "WMAUseVBR";
  }

  void variableBitrateBoxes() {
    QFETCH(QString, box);
    TOptionsBox dialog;
    dialog.show();
    auto* tick = dialog.findChild<QCheckBox*>(box);
    QVERIFY(tick);
    QLineEdit* field = tick == dialog.OggUseVBR   ? dialog.OggQuality
                       : tick == dialog.MP3UseVBR ? dialog.MP3Quality
                                                  : dialog.WMAQuality;
    QComboBox* list = tick == dialog.OggUseVBR   ? dialog.OggBitrate
                      : tick == dialog.MP3UseVBR ? dialog.MP3Bitrate
                                                 : dialog.WMABitrate;
    auto flag = [&]() -> bool {
      const TOptions& o = ConvFunc.Options;
      return tick == dialog.OggUseVBR ? o.OGGUseVBR
             : tick == dialog.MP3UseVBR ? o.MP3UseVBR
                                        : o.WMAUseVBR;
    };
    const TOptions before = ConvFunc.Options;

    QTest::mouseClick(tick, Qt::LeftButton);
    QVERIFY(flag());
    QVERIFY(field->isEnabled() && !list->isEnabled());
    QTest::mouseClick(tick, Qt::LeftButton);
    QVERIFY(!flag());
    QVERIFY(!field->isEnabled() && list->isEnabled());
    QVERIFY(ConvFunc.Options == before);
  }

  void deleteSourcesBox() {
    TOptionsBox box;
    box.show();
    OpenFilesPage(box);
    QTest::mouseClick(box.DeleteSrc, Qt::LeftButton);
    QVERIFY(ConvFunc.Options.Delete);
    QTest::mouseClick(box.DeleteSrc, Qt::LeftButton);
    QVERIFY(!ConvFunc.Options.Delete);
  }

  // Return pressed on any control of either page presses that page's OK.
  void returnPressesTheOKInView() {
    TOptionsBox box;
    box.show();
    QTest::keyClick(box.OggNumCh, Qt::Key_Return);
    QVERIFY(!box.isVisible());
    box.show();
    OpenFilesPage(box);
    QTest::keyClick(box.DeleteSrc, Qt::Key_Return);
    QVERIFY(!box.isVisible());
    box.show();
    box.OptionsPageCtrl->setCurrentWidget(box.FlacOpusPage);
    QTest::keyClick(box.FlacLevel, Qt::Key_Return);
    QVERIFY(!box.isVisible());
    box.show();
    box.OptionsPageCtrl->setCurrentWidget(box.MorePage);
    QTest::keyClick(box.ReplayGainList, Qt::Key_Return);
    QVERIFY(!box.isVisible());
  }

  // The number of conversions at once: 1 to two per core; a value out of that range (a hand
  // edit of config.cfg) shows at its nearest bound and stays as read until the user changes
  // it; Return presses the page's OK.
  void conversionsAtOnce_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("the default") << DefaultBatchJobs() << DefaultBatchJobs();
    QTest::newRow("none, from a hand edit") << 0 << 1;
    QTest::newRow("too many, from a hand edit") << 999 << 2 * DefaultBatchJobs();
  }
  void conversionsAtOnce() {
    QFETCH(int, stored);
    QFETCH(int, shown);
    ConvFunc.Options.Jobs = stored;
    TOptionsBox box;
    box.show();
    box.OptionsPageCtrl->setCurrentWidget(box.MorePage);
    QSpinBox* jobs = box.JobsEdit;
    QCOMPARE(jobs->minimum(), 1);
    QCOMPARE(jobs->maximum(), 2 * DefaultBatchJobs());
    QCOMPARE(jobs->value(), shown);
    QCOMPARE(ConvFunc.Options.Jobs, stored);
    if (qEnvironmentVariableIsSet("ORVIK_SCREENSHOT")) box.grab().save(qEnvironmentVariable("ORVIK_SCREENSHOT"));
    QTest::keyClick(jobs, shown > 1 ? Qt::Key_Down : Qt::Key_Up);
    QCOMPARE(ConvFunc.Options.Jobs, shown > 1 ? shown - 1 : 2);
    QTest::keyClick(jobs, Qt::Key_Return);
    QVERIFY(!box.isVisible());
  }

  void lastPageViewedIsShownAgain() {
    TOptionsBox box;
    box.show();
    QCOMPARE(box.OptionsPageCtrl->currentWidget(), box.CodecsPage);
    OpenFilesPage(box);
    QTest::mouseClick(box.sBitBtn1, Qt::LeftButton);
    QVERIFY(!box.isVisible());
    box.show();
    QCOMPARE(box.OptionsPageCtrl->currentWidget(), box.FilesPage);
    box.OptionsPageCtrl->setCurrentWidget(box.CodecsPage);
    QTest::mouseClick(box.OK, Qt::LeftButton);
    QVERIFY(!box.isVisible());
    box.show();
    QCOMPARE(box.OptionsPageCtrl->currentWidget(), box.CodecsPage);
  }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
