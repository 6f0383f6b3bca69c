#include "options.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>

#include <algorithm>
#include <array>
#include <charconv>
#include <list>
#include <span>

#include "codecs/convfunc.h"
#include "folderprobe.h"
#include "jobschoice.h"
#include "main/uihooks.h"
#include "replaygainchoice.h"
#include "updown.h"

TOptionsBox* OptionsBox = nullptr;

namespace {

const QString kWarningCaption = QStringLiteral("Предупреждение");

constexpr std::array<int32_t, 5> kWavRates = {11025, 22050, 32000, 44100, 48000};
constexpr std::array<int32_t, 3> kCodecRates = {32000, 44100, 48000};
constexpr std::array<int32_t, 2> kChannelCounts = {1, 2};

// Where each bitrate list starts in BitrateTexts, and how many items it has.
constexpr size_t kMp3BitrateFirst = 2, kMp3BitrateItems = 8;
constexpr size_t kOggBitrateFirst = 3, kOggBitrateItems = 8;
constexpr size_t kWmaBitrateFirst = 2, kWmaBitrateItems = 5;
constexpr size_t kOpusBitrateFirst = 2, kOpusBitrateItems = 7;  // 32 to 256 kbit/s

constexpr std::array<int32_t, 9> kFlacLevels = {0, 1, 2, 3, 4, 5, 6, 7, 8};

// Room kept free inside a group's right edge for its frame.
constexpr int kFrameMargin = 4;

constexpr int kQualitySteps = static_cast<int>(std::tuple_size_v<decltype(QualityNames)>);
constexpr int kWmaQualitySteps = static_cast<int>(std::tuple_size_v<decltype(WMAQualityNames)>);

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

int32_t BitrateNumber(size_t entry) {
  const std::string& text = BitrateTexts.at(entry);
  int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// The list item whose value is `value`, or -1.
int ItemOf(std::span<const int32_t> values, int32_t value) {
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i] == value) return static_cast<int>(i);
  return -1;
}

int BitrateItemOf(size_t first, size_t items, int32_t value) {
  for (size_t i = 0; i < items; ++i)
    if (BitrateNumber(first + i) == value) return static_cast<int>(i);
  return -1;
}

// Selects `item` unless it is -1: a value no item matches leaves the list as it was.
void SelectIfFound(QComboBox* list, int item) {
  if (item < 0) return;
  const QSignalBlocker quiet(list);
  list->setCurrentIndex(item);
}

QStringList RateItems(std::span<const int32_t> rates) {
  QStringList items;
  for (int32_t rate : rates) items << QStringLiteral("%1 Гц").arg(rate);
  return items;
}

QStringList BitrateItems(size_t first, size_t items) {
  QStringList texts;
  for (size_t i = 0; i < items; ++i) texts << Utf8(BitrateTexts.at(first + i)) + QStringLiteral(" kbps");
  return texts;
}

QStringList ChannelItems() { return {QStringLiteral("Моно (1)"), QStringLiteral("Стерео (2)")}; }

QGroupBox* MakeGroup(QWidget* parent, const QString& title, int x, int y, int w, int h) {
  auto* group = new QGroupBox(title, parent);
  group->setGeometry(x, y, w, h);
  return group;
}

// The platform's sans-serif runs wider than the layout's widths allow for; a label keeps its
// whole text, moving left where the group's edge would cut it.
void MakeLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  const int width = label->sizeHint().width();
  const int right = parent->width() - kFrameMargin;
  label->setGeometry(std::max(0, std::min(x, right - width)), y, width, 16);
}

// A check box or radio button grows to show its whole caption, up to `right`.
void FitCaption(QAbstractButton* button, int right) {
  const QRect r = button->geometry();
  const int wanted = std::max(r.width(), button->sizeHint().width());
  button->resize(std::min(wanted, right - r.x()), r.height());
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items, int x, int y,
                    int w) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QLatin1String(name));
  list->setEditable(false);
  list->addItems(items);
  list->setCurrentIndex(-1);
  list->setGeometry(x, y, w, 21);
  return list;
}

QLineEdit* MakeQualityField(QWidget* parent, const char* name, int x, int y) {
  auto* field = new QLineEdit(QStringLiteral("1"), parent);
  field->setObjectName(QLatin1String(name));
  // Only the up-down beside it sets what the field shows.
  field->setReadOnly(true);
  field->setGeometry(x, y, 105, 21);
  return field;
}

TUpDown* MakeUpDown(QWidget* parent, const char* name, int maximum, int position, int x, int y) {
  auto* upDown = new TUpDown(parent);
  upDown->setObjectName(QLatin1String(name));
  upDown->setRange(0, maximum);
  upDown->setPosition(position);
  upDown->setGeometry(x, y, 16, 21);
  return upDown;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, int x, int y,
                        int w) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(QLatin1String(name));
  box->setGeometry(x, y, w, 20);
  FitCaption(box, parent->width() - kFrameMargin);
  return box;
}

QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& text, int x, int y,
                        int w) {
  auto* button = new QRadioButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(x, y, w, 20);
  FitCaption(button, parent->width() - kFrameMargin);
  return button;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int x, int y,
                        int w, int h) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(x, y, w, h);
  return button;
}

void SetTicked(QCheckBox* box, bool ticked) {
  const QSignalBlocker quiet(box);
  box->setChecked(ticked);
}

void SetChosen(QRadioButton* button) {
  // The partner is switched off by the exclusive pair and must stay quiet too.
  std::list<QSignalBlocker> quiet;
  for (QObject* sibling : button->parent()->children())
    if (auto* radio = qobject_cast<QRadioButton*>(sibling)) quiet.emplace_back(radio);
  button->setChecked(true);
}

// The quality field shows the name of the up-down's step; a step outside the table shows
// nothing rather than reading past it.
template <size_t N>
QString QualityName(const std::array<std::string, N>& names, int position) {
  if (position < 0 || position >= static_cast<int>(N)) return {};
  return Utf8(names[static_cast<size_t>(position)]);
}

void WarnUser(QWidget* owner, const QString& text) {
  if (UiHooks.MessageBox) {
    UiHooks.MessageBox(text.toStdString(), kWarningCaption.toStdString(), MB_WARNING);
    return;
  }
  QMessageBox::warning(owner, kWarningCaption, text);
}

QString FolderProblemText(TFolderProblem problem) {
  switch (problem) {
    case TFolderProblem::TooLong:
      return QStringLiteral(
                 "Путь к выбранному каталогу слишком длинный (больше %1 байт).\n"
                 "Пожалуйста, выберите другой каталог")
          .arg(kMaxFolderBytes);
    case TFolderProblem::EqualsSign:
      return QStringLiteral(
          "Путь к выбранному каталогу содержит знак \"=\", который нельзя сохранить в "
          "настройках.\nПожалуйста, выберите другой каталог");
    case TFolderProblem::LineEnd:
      return QStringLiteral(
          "Путь к выбранному каталогу содержит перевод строки, который нельзя сохранить в "
          "настройках.\nПожалуйста, выберите другой каталог");
    case TFolderProblem::None:
      break;
  }
  return {};
}

}  // namespace

TOptionsBox::TOptionsBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Настройки"));
  QFont font(QStringLiteral("Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);
  setFixedSize(602, 356);

  ChooseFolder = [this](std::string& folder) {
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Выберите каталог:"), QDir::rootPath(), QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return false;
    folder = QFile::encodeName(chosen).toStdString();
    return true;
  };

  OptionsPageCtrl = new QTabWidget(this);
  OptionsPageCtrl->setObjectName(QStringLiteral("OptionsPageCtrl"));
  OptionsPageCtrl->setGeometry(0, 0, 602, 356);
  CodecsPage = new QWidget;
  FilesPage = new QWidget;
  OptionsPageCtrl->addTab(CodecsPage, QStringLiteral("Кодеки"));
  OptionsPageCtrl->addTab(FilesPage, QStringLiteral("Файлы"));
  FlacOpusPage = new QWidget;
  OptionsPageCtrl->addTab(FlacOpusPage, QStringLiteral("FLAC и Opus"));
  MorePage = new QWidget;
  OptionsPageCtrl->addTab(MorePage, QStringLiteral("Дополнительно"));

  const QString channels = QStringLiteral("Число каналов:");
  const QString rate = QStringLiteral("Частота дискретизации:");
  const QString bitrate = QStringLiteral("Битрейт:");
  const QString quality = QStringLiteral("Качество:");
  const QString variable = QStringLiteral("Переменный битрейт");

  // OGG and MP3 share one layout.
  QGroupBox* ogg = MakeGroup(CodecsPage, QStringLiteral("OGG"), 8, 8, 281, 153);
  QGroupBox* mp3 = MakeGroup(CodecsPage, QStringLiteral("MP3"), 304, 8, 281, 153);
  for (QGroupBox* group : {ogg, mp3}) {
    MakeLabel(group, channels, 8, 22);
    MakeLabel(group, rate, 144, 22);
    MakeLabel(group, bitrate, 8, 70);
    MakeLabel(group, quality, 144, 70);
  }
  OggNumCh = MakeList(ogg, "OggNumCh", ChannelItems(), 8, 40, 121);
  OggFreq = MakeList(ogg, "OggFreq", RateItems(kCodecRates), 144, 40, 121);
  OggBitrate = MakeList(ogg, "OggBitrate", BitrateItems(kOggBitrateFirst, kOggBitrateItems), 8,
                        88, 121);
  OggQuality = MakeQualityField(ogg, "OggQuality", 144, 88);
  QualityOgg = MakeUpDown(ogg, "QualityOgg", kQualitySteps - 1, 5, 249, 88);
  OggUseVBR = MakeCheckBox(ogg, "OggUseVBR", variable, 8, 120, 137);

  MP3NumCh = MakeList(mp3, "MP3NumCh", ChannelItems(), 8, 40, 121);
  MP3Freq = MakeList(mp3, "MP3Freq", RateItems(kCodecRates), 144, 40, 121);
  MP3Bitrate = MakeList(mp3, "MP3Bitrate", BitrateItems(kMp3BitrateFirst, kMp3BitrateItems), 8,
                        88, 121);
  MP3Quality = MakeQualityField(mp3, "MP3Quality", 144, 88);
  QtyMP3 = MakeUpDown(mp3, "QtyMP3", kQualitySteps - 1, 5, 249, 88);
  MP3UseVBR = MakeCheckBox(mp3, "MP3UseVBR", variable, 8, 120, 137);

  QGroupBox* wma = MakeGroup(CodecsPage, QStringLiteral("WMA"), 8, 168, 281, 105);
  MakeLabel(wma, bitrate, 8, 22);
  MakeLabel(wma, quality, 144, 22);
  WMABitrate = MakeList(wma, "WMABitrate", BitrateItems(kWmaBitrateFirst, kWmaBitrateItems), 8,
                        40, 121);
  WMAQuality = MakeQualityField(wma, "WMAQuality", 144, 40);
  WMAqty = MakeUpDown(wma, "WMAqty", kWmaQualitySteps - 1, 4, 249, 40);
  WMAUseVBR = MakeCheckBox(wma, "WMAUseVBR", variable, 8, 72, 137);

  QGroupBox* wav = MakeGroup(CodecsPage, QStringLiteral("WAV"), 304, 168, 281, 105);
  MakeLabel(wav, channels, 8, 22);
  MakeLabel(wav, rate, 144, 22);
  WAVNumCh = MakeList(wav, "WAVNumCh", ChannelItems(), 8, 40, 121);
  WAVFreq = MakeList(wav, "WAVFreq", RateItems(kWavRates), 144, 40, 121);

  OK = MakeButton(CodecsPage, "OK", QStringLiteral("OK"), 259, 288, 75, 25);

  QGroupBox* folder = MakeGroup(FilesPage, QStringLiteral("Выходной каталог"), 8, 8, 577, 97);
  SourceFolderBut = MakeRadio(folder, "SourceFolderBut", QStringLiteral("Исходный"), 16, 24, 79);
  CustomOutFolderBut =
      MakeRadio(folder, "CustomOutFolderBut", QStringLiteral("Выбрать"), 16, 56, 72);
  CustomFolder = new QLineEdit(folder);
  CustomFolder->setObjectName(QStringLiteral("CustomFolder"));
  CustomFolder->setGeometry(96, 56, 393, 21);
  // Only Browse sets the folder: the field hands the focus on, takes nothing typed, pasted
  // or dropped, and is passed over by Tab so Shift+Tab cannot get stuck on it.
  CustomFolder->setReadOnly(true);
  CustomFolder->setAcceptDrops(false);
  CustomFolder->setContextMenuPolicy(Qt::NoContextMenu);
  CustomFolder->setFocusPolicy(Qt::ClickFocus);
  CustomFolder->installEventFilter(this);
  Browse = MakeButton(folder, "Browse", QStringLiteral("Обзор..."), 496, 54, 73, 25);

  QGroupBox* files =
      MakeGroup(FilesPage, QStringLiteral("Операции с файлами"), 8, 112, 577, 161);
  QGroupBox* naming = MakeGroup(files, QString(), 16, 24, 545, 89);
  DontRenameFileBut =
      MakeRadio(naming, "DontRenameFileBut", QStringLiteral("Исходное имя"), 16, 24, 100);
  RenameBut = MakeRadio(naming, "RenameBut", QStringLiteral("Переименовать"), 16, 56, 109);
  RenameChBox = MakeList(naming, "RenameChBox",
                         {QStringLiteral("Track%.ext (Track1.mp3,Track2.mp3...)"),
                          QStringLiteral("%.ext (1.mp3, 2.mp3...)")},
                         128, 56, 225);
  // The platform's font runs wider than 225 pixels for the first pattern: the list grows to
  // show both patterns whole, within its group, and its drop-down list with it.
  RenameChBox->resize(std::min(std::max(RenameChBox->width(), RenameChBox->sizeHint().width()),
                               naming->width() - kFrameMargin - RenameChBox->x()),
                      RenameChBox->height());
  FitCaption(RenameBut, RenameChBox->x() - 1);
  DeleteSrc = MakeCheckBox(files, "DeleteSrc", QStringLiteral("Удалять исходные файлы"), 16, 123,
                           160);

  sBitBtn1 = MakeButton(FilesPage, "sBitBtn1", QStringLiteral("OK"), 259, 288, 75, 25);

  // The third page repeats the codec groups' layout: FLAC as WAV with its level where the
  // others have their bitrate, Opus as OGG without the quality.
  QGroupBox* flac = MakeGroup(FlacOpusPage, QStringLiteral("FLAC"), 8, 8, 281, 153);
  QGroupBox* opus = MakeGroup(FlacOpusPage, QStringLiteral("Opus"), 304, 8, 281, 153);
  for (QGroupBox* group : {flac, opus}) {
    MakeLabel(group, channels, 8, 22);
    MakeLabel(group, rate, 144, 22);
  }
  MakeLabel(flac, QStringLiteral("Уровень сжатия:"), 8, 70);
  MakeLabel(opus, bitrate, 8, 70);
  FlacNumCh = MakeList(flac, "FlacNumCh", ChannelItems(), 8, 40, 121);
  FlacFreq = MakeList(flac, "FlacFreq", RateItems(kWavRates), 144, 40, 121);
  QStringList levels;
  for (int32_t level : kFlacLevels) levels << QString::number(level);
  FlacLevel = MakeList(flac, "FlacLevel", levels, 8, 88, 121);
  OpusNumCh = MakeList(opus, "OpusNumCh", ChannelItems(), 8, 40, 121);
  OpusFreq = MakeList(opus, "OpusFreq", {QStringLiteral("48000 Гц")}, 144, 40, 121);
  OpusFreq->setCurrentIndex(0);
  OpusFreq->setEnabled(false);
  OpusBitrate = MakeList(opus, "OpusBitrate", BitrateItems(kOpusBitrateFirst, kOpusBitrateItems),
                         8, 88, 121);
  OpusUseVBR = MakeCheckBox(opus, "OpusUseVBR", variable, 8, 120, 137);
  FlacOpusOK = MakeButton(FlacOpusPage, "FlacOpusOK", QStringLiteral("OK"), 259, 288, 75, 25);

  JobsEdit = MakeJobsChoice(MorePage);
  ReplayGainList = MakeReplayGainChoice(MorePage);
  MoreOK = MakeButton(MorePage, "MoreOK", QStringLiteral("OK"), 259, 288, 75, 25);

  connect(WAVNumCh, &QComboBox::currentIndexChanged, this, &TOptionsBox::WAVNumChChange);
  connect(OggNumCh, &QComboBox::currentIndexChanged, this, &TOptionsBox::OggNumChChange);
  connect(MP3NumCh, &QComboBox::currentIndexChanged, this, &TOptionsBox::MP3NumChChange);
  connect(WAVFreq, &QComboBox::currentIndexChanged, this, &TOptionsBox::WAVFreqChange);
  connect(OggFreq, &QComboBox::currentIndexChanged, this, &TOptionsBox::OggFreqChange);
  connect(MP3Freq, &QComboBox::currentIndexChanged, this, &TOptionsBox::MP3FreqChange);
  connect(OggBitrate, &QComboBox::currentIndexChanged, this, &TOptionsBox::OggBitrateChange);
  connect(MP3Bitrate, &QComboBox::currentIndexChanged, this, &TOptionsBox::MP3BitrateChange);
  connect(WMABitrate, &QComboBox::currentIndexChanged, this, &TOptionsBox::WMABitrateChange);
  connect(FlacNumCh, &QComboBox::currentIndexChanged, this, &TOptionsBox::FlacNumChChange);
  connect(FlacFreq, &QComboBox::currentIndexChanged, this, &TOptionsBox::FlacFreqChange);
  connect(FlacLevel, &QComboBox::currentIndexChanged, this, &TOptionsBox::FlacLevelChange);
  connect(OpusNumCh, &QComboBox::currentIndexChanged, this, &TOptionsBox::OpusNumChChange);
  connect(OpusBitrate, &QComboBox::currentIndexChanged, this, &TOptionsBox::OpusBitrateChange);
  connect(OpusUseVBR, &QCheckBox::toggled, this, &TOptionsBox::OpusUseVBRClick);

  connect(OggUseVBR, &QCheckBox::toggled, this, &TOptionsBox::OggUseVBRClick);
  connect(MP3UseVBR, &QCheckBox::toggled, this, &TOptionsBox::MP3UseVBRClick);
  connect(WMAUseVBR, &QCheckBox::toggled, this, &TOptionsBox::WMAUseVBRClick);

  connect(QualityOgg, &TUpDown::clicked, this, &TOptionsBox::QualityOggClick);
  connect(QtyMP3, &TUpDown::clicked, this, &TOptionsBox::QtyMP3Click);
  connect(WMAqty, &TUpDown::clicked, this, &TOptionsBox::WMAqtyClick);

  // A radio button's handler runs when it becomes the chosen one of its pair.
  connect(SourceFolderBut, &QRadioButton::toggled, this, [this](bool chosen) {
    if (chosen) SourceFolderButClick();
  });
  connect(CustomOutFolderBut, &QRadioButton::toggled, this, [this](bool chosen) {
    if (chosen) CustomOutFolderButClick();
  });
  connect(DontRenameFileBut, &QRadioButton::toggled, this, [this](bool chosen) {
    if (chosen) DontRenameFileButClick();
  });
  connect(RenameBut, &QRadioButton::toggled, this, [this](bool chosen) {
    if (chosen) RenameButClick();
  });
  connect(Browse, &QPushButton::clicked, this, &TOptionsBox::BrowseClick);
  connect(RenameChBox, &QComboBox::currentIndexChanged, this, &TOptionsBox::RenameChBoxChange);
  connect(DeleteSrc, &QCheckBox::toggled, this, &TOptionsBox::DeleteSrcClick);

  connect(OK, &QPushButton::clicked, this, &TOptionsBox::OKClick);
  connect(sBitBtn1, &QPushButton::clicked, this, &TOptionsBox::OKClick);
  connect(FlacOpusOK, &QPushButton::clicked, this, &TOptionsBox::OKClick);
  connect(MoreOK, &QPushButton::clicked, this, &TOptionsBox::OKClick);
  // Return presses the OK of the page in view (a focused button presses itself).
  OK->setDefault(true);
  connect(OptionsPageCtrl, &QTabWidget::currentChanged, this, [this] {
    QWidget* page = OptionsPageCtrl->currentWidget();
    (page == FilesPage ? sBitBtn1 : page == FlacOpusPage ? FlacOpusOK
     : page == MorePage ? MoreOK : OK)->setDefault(true);
  });
}

void TOptionsBox::FormShow() {
  const TOptions& o = ConvFunc.Options;

  SelectIfFound(WAVFreq, ItemOf(kWavRates, o.WAVFreq));
  SelectIfFound(WAVNumCh, ItemOf(kChannelCounts, o.WAVNumChannels));
  SelectIfFound(OggFreq, ItemOf(kCodecRates, o.OGGFreq));
  SelectIfFound(MP3Freq, ItemOf(kCodecRates, o.MP3Freq));
  SelectIfFound(MP3NumCh, ItemOf(kChannelCounts, o.MP3NumChannels));
  SelectIfFound(MP3Bitrate, BitrateItemOf(kMp3BitrateFirst, kMp3BitrateItems, o.MP3Bitrate));

  if (o.MP3Quality >= 1 && o.MP3Quality <= kQualitySteps) {
    QtyMP3->setPosition(o.MP3Quality - 1);
    MP3Quality->setText(QualityName(QualityNames, o.MP3Quality - 1));
  }
  if (o.OGGQuality >= 1 && o.OGGQuality <= kQualitySteps) {
    QualityOgg->setPosition(o.OGGQuality - 1);
    OggQuality->setText(QualityName(QualityNames, o.OGGQuality - 1));
  }

  SelectIfFound(OggNumCh, ItemOf(kChannelCounts, o.OGGNumChannels));
  SelectIfFound(OggBitrate, BitrateItemOf(kOggBitrateFirst, kOggBitrateItems, o.OGGBitrate));
  SelectIfFound(WMABitrate, BitrateItemOf(kWmaBitrateFirst, kWmaBitrateItems, o.WMABitrate));

  if (o.WMAQuality >= 1 && o.WMAQuality <= kWmaQualitySteps) {
    WMAqty->setPosition(o.WMAQuality - 1);
    WMAQuality->setText(QualityName(WMAQualityNames, o.WMAQuality - 1));
  }

  SetTicked(OggUseVBR, o.OGGUseVBR);
  SetTicked(MP3UseVBR, o.MP3UseVBR);
  SetTicked(WMAUseVBR, o.WMAUseVBR);
  MP3Quality->setEnabled(o.MP3UseVBR);
  MP3Bitrate->setEnabled(!o.MP3UseVBR);
  OggQuality->setEnabled(o.OGGUseVBR);
  OggBitrate->setEnabled(!o.OGGUseVBR);
  WMAQuality->setEnabled(o.WMAUseVBR);
  WMABitrate->setEnabled(!o.WMAUseVBR);

  SelectIfFound(FlacNumCh, ItemOf(kChannelCounts, o.FLACNumChannels));
  SelectIfFound(FlacFreq, ItemOf(kWavRates, o.FLACFreq));
  SelectIfFound(FlacLevel, ItemOf(kFlacLevels, o.FLACLevel));
  SelectIfFound(OpusNumCh, ItemOf(kChannelCounts, o.OpusNumChannels));
  SelectIfFound(OpusBitrate, BitrateItemOf(kOpusBitrateFirst, kOpusBitrateItems, o.OpusBitrate));
  SetTicked(OpusUseVBR, o.OpusUseVBR);

  const bool custom = !o.OutputFolder.empty();
  SetChosen(custom ? CustomOutFolderBut : SourceFolderBut);
  Browse->setEnabled(custom);
  CustomFolder->setEnabled(custom);
  CustomFolder->setText(custom ? QFile::decodeName(QByteArray::fromStdString(o.OutputFolder))
                               : QString());

  SetTicked(DeleteSrc, o.Delete);

  const QSignalBlocker quietPatterns(RenameChBox);
  if (o.OutputName == 0) {
    SetChosen(DontRenameFileBut);
    RenameChBox->setEnabled(false);
    RenameChBox->setCurrentIndex(0);
  } else {
    SetChosen(RenameBut);
    RenameChBox->setEnabled(true);
    const int pattern = o.OutputName - 1;
    RenameChBox->setCurrentIndex(pattern >= 0 && pattern < RenameChBox->count() ? pattern : -1);
  }
  ShowJobs(JobsEdit);
  ShowReplayGain(ReplayGainList);
}

void TOptionsBox::WAVNumChChange(int item) {
  if (item >= 0 && item < int(kChannelCounts.size()))
    ConvFunc.Options.WAVNumChannels = kChannelCounts[size_t(item)];
}

void TOptionsBox::OggNumChChange(int item) {
  if (item >= 0 && item < int(kChannelCounts.size()))
    ConvFunc.Options.OGGNumChannels = kChannelCounts[size_t(item)];
}

void TOptionsBox::MP3NumChChange(int item) {
  if (item >= 0 && item < int(kChannelCounts.size()))
    ConvFunc.Options.MP3NumChannels = kChannelCounts[size_t(item)];
}

void TOptionsBox::WAVFreqChange(int item) {
  if (item >= 0 && item < int(kWavRates.size())) ConvFunc.Options.WAVFreq = kWavRates[size_t(item)];
}

void TOptionsBox::OggFreqChange(int item) {
  if (item >= 0 && item < int(kCodecRates.size()))
    ConvFunc.Options.OGGFreq = kCodecRates[size_t(item)];
}

void TOptionsBox::MP3FreqChange(int item) {
  if (item >= 0 && item < int(kCodecRates.size()))
    ConvFunc.Options.MP3Freq = kCodecRates[size_t(item)];
}

void TOptionsBox::OggBitrateChange(int item) {
  if (item >= 0 && item < int(kOggBitrateItems))
    ConvFunc.Options.OGGBitrate = BitrateNumber(kOggBitrateFirst + size_t(item));
}

void TOptionsBox::MP3BitrateChange(int item) {
  if (item >= 0 && item < int(kMp3BitrateItems))
    ConvFunc.Options.MP3Bitrate = BitrateNumber(kMp3BitrateFirst + size_t(item));
}

void TOptionsBox::WMABitrateChange(int item) {
  if (item >= 0 && item < int(kWmaBitrateItems))
    ConvFunc.Options.WMABitrate = BitrateNumber(kWmaBitrateFirst + size_t(item));
}

void TOptionsBox::FlacNumChChange(int item) {
  if (item >= 0 && item < int(kChannelCounts.size()))
    ConvFunc.Options.FLACNumChannels = kChannelCounts[size_t(item)];
}

void TOptionsBox::FlacFreqChange(int item) {
  if (item >= 0 && item < int(kWavRates.size())) ConvFunc.Options.FLACFreq = kWavRates[size_t(item)];
}

void TOptionsBox::FlacLevelChange(int item) {
  if (item >= 0 && item < int(kFlacLevels.size()))
    ConvFunc.Options.FLACLevel = kFlacLevels[size_t(item)];
}

void TOptionsBox::OpusNumChChange(int item) {
  if (item >= 0 && item < int(kChannelCounts.size()))
    ConvFunc.Options.OpusNumChannels = kChannelCounts[size_t(item)];
}

void TOptionsBox::OpusBitrateChange(int item) {
  if (item >= 0 && item < int(kOpusBitrateItems))
    ConvFunc.Options.OpusBitrate = BitrateNumber(kOpusBitrateFirst + size_t(item));
}

// Opus keeps its bitrate list enabled either way: the bitrate is the target of both modes.
void TOptionsBox::OpusUseVBRClick(bool ticked) { ConvFunc.Options.OpusUseVBR = ticked; }

void TOptionsBox::OggUseVBRClick(bool ticked) {
  ConvFunc.Options.OGGUseVBR = ticked;
  OggQuality->setEnabled(ticked);
  OggBitrate->setEnabled(!ticked);
}

void TOptionsBox::MP3UseVBRClick(bool ticked) {
  ConvFunc.Options.MP3UseVBR = ticked;
  MP3Quality->setEnabled(ticked);
  MP3Bitrate->setEnabled(!ticked);
}

void TOptionsBox::WMAUseVBRClick(bool ticked) {
  ConvFunc.Options.WMAUseVBR = ticked;
  WMAQuality->setEnabled(ticked);
  WMABitrate->setEnabled(!ticked);
}

void TOptionsBox::QualityOggClick(int position) {
  ConvFunc.Options.OGGQuality = position + 1;
  OggQuality->setText(QualityName(QualityNames, position));
}

void TOptionsBox::QtyMP3Click(int position) {
  ConvFunc.Options.MP3Quality = position + 1;
  MP3Quality->setText(QualityName(QualityNames, position));
}

void TOptionsBox::WMAqtyClick(int position) {
  ConvFunc.Options.WMAQuality = position + 1;
  WMAQuality->setText(QualityName(WMAQualityNames, position));
}

void TOptionsBox::SourceFolderButClick() {
  ConvFunc.Options.OutputFolder.clear();
  CustomFolder->clear();
  CustomFolder->setEnabled(false);
  Browse->setEnabled(false);
}

void TOptionsBox::CustomOutFolderButClick() {
  CustomFolder->setEnabled(true);
  Browse->setEnabled(true);
  if (!CustomFolder->text().isEmpty())
    ConvFunc.Options.OutputFolder = QFile::encodeName(CustomFolder->text()).toStdString();
}

void TOptionsBox::CustomFolderEnter() { Browse->setFocus(Qt::OtherFocusReason); }

void TOptionsBox::BrowseClick() {
  std::string folder;
  if (!ChooseFolder || !ChooseFolder(folder) || folder.empty()) return;
  folder = WithoutTrailingSeparator(std::move(folder));

  if (const TFolderProblem problem = FolderSettingProblem(folder);
      problem != TFolderProblem::None) {
    WarnUser(this, FolderProblemText(problem));
    return;
  }

  if (!CanCreateFileIn(folder)) {
    WarnUser(this, QStringLiteral("Выходные файлы не могут располагаться на CD/DVD.\n"
                                  "Пожалуйста, выберите другой каталог"));
    folder = QFile::encodeName(QDir::homePath()).toStdString();
  }

  ConvFunc.Options.OutputFolder = folder;
  CustomFolder->setText(QFile::decodeName(QByteArray::fromStdString(folder)));
}

void TOptionsBox::DontRenameFileButClick() {
  ConvFunc.Options.OutputName = 0;
  RenameChBox->setEnabled(false);
}

void TOptionsBox::RenameButClick() {
  ConvFunc.Options.OutputName = 1;
  {
    const QSignalBlocker quiet(RenameChBox);
    RenameChBox->setCurrentIndex(0);
  }
  RenameChBox->setEnabled(true);
}

void TOptionsBox::RenameChBoxChange(int item) {
  if (item >= 0) ConvFunc.Options.OutputName = item + 1;
}

void TOptionsBox::DeleteSrcClick(bool ticked) { ConvFunc.Options.Delete = ticked; }

void TOptionsBox::OKClick() { accept(); }

void TOptionsBox::showEvent(QShowEvent* event) {
  // A window restored by the desktop is not a new showing.
  if (!event->spontaneous()) {
    FormShow();
    if (!parentWidget()) {
      // Without a parent Qt centres on the screen; centre over the main window instead.
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != this && top->isVisible() && !qobject_cast<QDialog*>(top)) {
          move(top->frameGeometry().center() - rect().center());
          break;
        }
      }
    }
  }
  QDialog::showEvent(event);
}

bool TOptionsBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == CustomFolder && event->type() == QEvent::FocusIn) CustomFolderEnter();
  return QDialog::eventFilter(watched, event);
}
