// The settings dialog: every control writes its setting into ConvFunc.Options the moment it
// changes; there is no apply step and no cancel.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class TUpDown;

class TOptionsBox : public QDialog {
  Q_OBJECT

 public:
  explicit TOptionsBox(QWidget* parent = nullptr);

  // Shows the folder chooser; true with the chosen folder's path (bytes) in `folder`, false
  // when the user cancels. Tests put their own answer in.
  std::function<bool(std::string& folder)> ChooseFolder;

  QTabWidget* OptionsPageCtrl = nullptr;
  QWidget* CodecsPage = nullptr;
  QWidget* FilesPage = nullptr;
  QWidget* FlacOpusPage = nullptr;
  QWidget* MorePage = nullptr;

  // Page "Кодеки".
  QComboBox* OggNumCh = nullptr;
  QComboBox* OggFreq = nullptr;
  QComboBox* OggBitrate = nullptr;
  QLineEdit* OggQuality = nullptr;
  TUpDown* QualityOgg = nullptr;
  QCheckBox* OggUseVBR = nullptr;

  QComboBox* MP3NumCh = nullptr;
  QComboBox* MP3Freq = nullptr;
  QComboBox* MP3Bitrate = nullptr;
  QLineEdit* MP3Quality = nullptr;
  TUpDown* QtyMP3 = nullptr;
  QCheckBox* MP3UseVBR = nullptr;

  QComboBox* WMABitrate = nullptr;
  QLineEdit* WMAQuality = nullptr;
  TUpDown* WMAqty = nullptr;
  QCheckBox* WMAUseVBR = nullptr;

  QComboBox* WAVNumCh = nullptr;
  QComboBox* WAVFreq = nullptr;

  QPushButton* OK = nullptr;

  // Page "Файлы".
  QRadioButton* SourceFolderBut = nullptr;
  QRadioButton* CustomOutFolderBut = nullptr;
  QLineEdit* CustomFolder = nullptr;
  QPushButton* Browse = nullptr;
  QRadioButton* DontRenameFileBut = nullptr;
  QRadioButton* RenameBut = nullptr;
  QComboBox* RenameChBox = nullptr;
  QCheckBox* DeleteSrc = nullptr;
  QPushButton* sBitBtn1 = nullptr;

  // Page "FLAC и Opus".
  QComboBox* FlacNumCh = nullptr;
  QComboBox* FlacFreq = nullptr;
  QComboBox* FlacLevel = nullptr;
  QComboBox* OpusNumCh = nullptr;
  QComboBox* OpusFreq = nullptr;  // one item: Opus has one rate
  QComboBox* OpusBitrate = nullptr;
  QCheckBox* OpusUseVBR = nullptr;
  QPushButton* FlacOpusOK = nullptr;

  // Page "Дополнительно".
  QSpinBox* JobsEdit = nullptr;
  QComboBox* ReplayGainList = nullptr;
  QPushButton* MoreOK = nullptr;

 public slots:
  void FormShow();

  void WAVNumChChange(int item);
  void OggNumChChange(int item);
  void MP3NumChChange(int item);
  void WAVFreqChange(int item);
  void OggFreqChange(int item);
  void MP3FreqChange(int item);
  void OggBitrateChange(int item);
  void MP3BitrateChange(int item);
  void WMABitrateChange(int item);
  void FlacNumChChange(int item);
  void FlacFreqChange(int item);
  void FlacLevelChange(int item);
  void OpusNumChChange(int item);
  void OpusBitrateChange(int item);
  void OpusUseVBRClick(bool ticked);

  void OggUseVBRClick(bool ticked);
  void MP3UseVBRClick(bool ticked);
  void WMAUseVBRClick(bool ticked);

  void QualityOggClick(int position);
  void QtyMP3Click(int position);
  void WMAqtyClick(int position);

  void SourceFolderButClick();
  void CustomOutFolderButClick();
  void CustomFolderEnter();
  void BrowseClick();

  void DontRenameFileButClick();
  void RenameButClick();
  void RenameChBoxChange(int item);
  void DeleteSrcClick(bool ticked);

  void OKClick();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TOptionsBox* OptionsBox;
