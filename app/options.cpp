#include "options.h"

#include "updown.h"

TOptionsBox* OptionsBox = nullptr;

TOptionsBox::TOptionsBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Настройки"));
  setFixedSize(602, 356);
}

void TOptionsBox::FormShow() {}
void TOptionsBox::WAVNumChChange(int) {}
void TOptionsBox::OggNumChChange(int) {}
void TOptionsBox::MP3NumChChange(int) {}
void TOptionsBox::WAVFreqChange(int) {}
void TOptionsBox::OggFreqChange(int) {}
void TOptionsBox::MP3FreqChange(int) {}
void TOptionsBox::OggBitrateChange(int) {}
void TOptionsBox::MP3BitrateChange(int) {}
void TOptionsBox::WMABitrateChange(int) {}
void TOptionsBox::OggUseVBRClick(bool) {}
void TOptionsBox::MP3UseVBRClick(bool) {}
void TOptionsBox::WMAUseVBRClick(bool) {}
void TOptionsBox::QualityOggClick(int) {}
void TOptionsBox::QtyMP3Click(int) {}
void TOptionsBox::WMAqtyClick(int) {}
void TOptionsBox::SourceFolderButClick() {}
void TOptionsBox::CustomOutFolderButClick() {}
void TOptionsBox::CustomFolderEnter() {}
void TOptionsBox::BrowseClick() {}
void TOptionsBox::DontRenameFileButClick() {}
void TOptionsBox::RenameButClick() {}
void TOptionsBox::RenameChBoxChange(int) {}
void TOptionsBox::DeleteSrcClick(bool) {}
void TOptionsBox::OKClick() { accept(); }

void TOptionsBox::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

bool TOptionsBox::eventFilter(QObject* watched, QEvent* event) {
  return QDialog::eventFilter(watched, event);
}
