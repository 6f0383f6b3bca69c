// Album images cut into tracks by their cue sheets: every track's samples against the
// image's own, the list's texts and output names, and bad sheets that convert nothing.
#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "album.h"
#include "audio.h"
#include "codecs/audioguards.h"
#include "codecs/convfunc.h"
#include "main/albumentries.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"
#include "runfolders.h"
#include "songtags.h"
#include "wavfixture.h"

namespace {

using Samples = std::vector<int16_t>;

enum Embedded { kNone, kBlock, kComment };

struct MetadataDeleter {
  void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using MetadataPtr = std::unique_ptr<FLAC__StreamMetadata, MetadataDeleter>;
struct EncoderDeleter {
  void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};

// A CUESHEET block with each track's INDEX 01 at `starts` (samples); from the second track
// on, INDEX 00 lies 333 samples before it, as a pregap.
MetadataPtr CueSheetBlock(const QList<qint64>& starts, qint64 total) {
  MetadataPtr block(FLAC__metadata_object_new(FLAC__METADATA_TYPE_CUESHEET));
  if (!block) return nullptr;
  block->data.cue_sheet.is_cd = false;
  for (int i = 0; i <= starts.size(); ++i) {
    if (!FLAC__metadata_object_cuesheet_insert_blank_track(block.get(), unsigned(i))) return nullptr;
    FLAC__StreamMetadata_CueSheet_Track& track = block->data.cue_sheet.tracks[i];
    const bool leadOut = i == starts.size();
    track.number = leadOut ? 255 : FLAC__byte(i + 1);
    const qint64 pregap = i > 0 && !leadOut ? 333 : 0;
    track.offset = FLAC__uint64(leadOut ? total : starts[i] - pregap);
    if (leadOut) continue;
    for (int k = pregap > 0 ? 0 : 1; k <= 1; ++k) {
      const unsigned at = block->data.cue_sheet.tracks[i].num_indices;
      if (!FLAC__metadata_object_cuesheet_track_insert_blank_index(block.get(), unsigned(i), at))
        return nullptr;
      block->data.cue_sheet.tracks[i].indices[at].number = FLAC__byte(k);
      block->data.cue_sheet.tracks[i].indices[at].offset = FLAC__uint64(k == 0 ? 0 : pregap);
    }
  }
  const char* violation = nullptr;
  return FLAC__metadata_object_cuesheet_is_legal(block.get(), false, &violation) ? std::move(block)
                                                                                 : nullptr;
}

bool WriteFlac(const std::string& path, uint32_t rate, const Samples& samples, Embedded embedded,
               const QList<qint64>& starts, const QByteArray& sheet) {
  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
  if (!encoder) return false;
  FLAC__StreamEncoder* e = encoder.get();
  std::vector<MetadataPtr> owned;
  if (embedded == kBlock) owned.push_back(CueSheetBlock(starts, qint64(samples.size() / 2)));
  if (embedded == kComment) {
    owned.emplace_back(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    if (!owned.back() ||
        !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, "CUESHEET", sheet.constData()) ||
        !FLAC__metadata_object_vorbiscomment_append_comment(owned.back().get(), entry, false))
      return false;
  }
  std::vector<FLAC__StreamMetadata*> blocks;
  for (const MetadataPtr& m : owned) {
    if (!m) return false;
    blocks.push_back(m.get());
  }
  if (!FLAC__stream_encoder_set_channels(e, 2) || !FLAC__stream_encoder_set_bits_per_sample(e, 16) ||
      !FLAC__stream_encoder_set_sample_rate(e, rate) ||
      (!blocks.empty() && !FLAC__stream_encoder_set_metadata(e, blocks.data(), unsigned(blocks.size()))) ||
      FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    return false;
  std::vector<FLAC__int32> wide(samples.begin(), samples.end());
  return FLAC__stream_encoder_process_interleaved(e, wide.data(), unsigned(samples.size() / 2)) &&
         FLAC__stream_encoder_finish(e);
}

QByteArray Contents(const std::string& path) {
  QFile file(QFile::decodeName(path.c_str()));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteText(const std::string& path, const QByteArray& text) {
  QFile file(QFile::decodeName(path.c_str()));
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// Everything a source delivers, through the opener cascade; `length` is what it promised.
Samples Decoded(const std::string& path, uint64_t* length = nullptr, SongTags* tags = nullptr) {
  TSourceHandle source(OpenSource(path, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE));
  if (!source) return {};
  if (length) *length = audio_get_length(source.Get());
  if (tags) audio_get_tags(source.Get(), tags);
  Samples all;
  std::vector<int16_t> buffer(32768);
  int32_t got;
  while ((got = audio_get_data(source.Get(), buffer.data(), uint32_t(buffer.size() * 2))) > 0)
    all.insert(all.end(), buffer.begin(), buffer.begin() + got / 2);
  return all;
}

QStringList Texts(const std::vector<TListedSource>& entries, bool shown) {
  QStringList texts;
  for (const TListedSource& e : entries) texts << QString::fromStdString(shown ? e.shown : e.path);
  return texts;
}

}  // namespace

class TestCueSheet : public QObject {
  Q_OBJECT
  QTemporaryDir root_;
  int counter_ = 0;

 private slots:
  void init() {
    QVERIFY(root_.isValid());
    QVERIFY(audio_init(-1, 44100, 0, nullptr, nullptr));
  }
  void cleanup() { audio_free(); }

  void tracksJoinToTheImage_data() {
    QTest::addColumn<QString>("kind");              // flac or wav images
    QTest::addColumn<int>("rate");
    QTest::addColumn<QList<qint64>>("lengths");     // of each image, in sample frames
    QTest::addColumn<int>("embedded");
    QTest::addColumn<QByteArray>("sheet");          // IMG1... stand for the images' names
    QTest::addColumn<QList<qint64>>("starts");      // of each track in the joined images
    QTest::addColumn<QStringList>("shown");         // SHEET stands for the sheet's name
    QTest::addColumn<QStringList>("stems");
    QTest::addColumn<QString>("artist");            // of the second track

    // INDEX 01 00:07:33 is 558 frames of 588 samples; the pregap before it stays in track 1.
    QTest::newRow("flac 44100, UTF-8 with a byte-order mark, pregaps")
        << "flac" << 44100 << QList<qint64>{588 * 1501} << int(kNone)
        << QByteArray("\xEF\xBB\xBFPERFORMER \"Ансамбль\"\r\nTITLE \"Песни\"\r\nREM DATE 1987\r\n"
                      "REM GENRE Folk\r\nFILE \"IMG1\" WAVE\r\n  TRACK 01 AUDIO\r\n"
                      "    TITLE \"Первая\"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n"
                      "    TITLE \"Вторая/Часть\"\r\n    PERFORMER \"Гость\"\r\n"
                      "    INDEX 00 00:05:10\r\n    INDEX 01 00:07:33\r\n"
                      "  TRACK 03 AUDIO\r\n    INDEX 01 00:15:01\r\n")
        << QList<qint64>{0, 558 * 588, 1126 * 588}
        << QStringList{"SHEET: 01 - Первая", "SHEET: 02 - Вторая/Часть", "SHEET: 03"}
        << QStringList{"01 - Первая", "02 - Вторая_Часть", "album 03"} << "Гость";
    // "Песня" and "Ночь" in Windows-1251; 48000 Hz makes 640 samples a frame.
    QTest::newRow("wav 48000, Windows-1251")
        << "wav" << 48000 << QList<qint64>{640 * 1001} << int(kNone)
        << QByteArray("PERFORMER \"\xC3\xF0\xF3\xEF\xEF\xE0\"\nFILE \"IMG1\" WAVE\n TRACK 01 AUDIO\n"
                      "  TITLE \"\xCF\xE5\xF1\xED\xFF\"\n  INDEX 01 00:00:00\n TRACK 02 AUDIO\n"
                      "  TITLE \"\xCD\xEE\xF7\xFC\"\n  INDEX 01 00:06:00\n")
        << QList<qint64>{0, 450 * 640} << QStringList{"SHEET: 01 - Песня", "SHEET: 02 - Ночь"}
        << QStringList{"01 - Песня", "02 - Ночь"} << "Группа";
    // One file per track: pregaps at the end of the file before (a FILE line inside a track)
    // and at the start of the track's own file, both kept with the track before; the fifth
    // track has no FILE line of its own. 294 samples a frame.
    QTest::newRow("wav 22050, one file per track")
        << "wav" << 22050 << QList<qint64>{294 * 601, 294 * 455, 294 * 377, 294 * 301} << int(kNone)
        << QByteArray("FILE \"IMG1\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n"
                      " TRACK 02 AUDIO\n  INDEX 00 00:07:00\nFILE \"IMG2\" WAVE\n  INDEX 01 00:00:00\n"
                      "FILE \"IMG3\" WAVE\n TRACK 03 AUDIO\n  INDEX 00 00:00:00\n  INDEX 01 00:01:00\n"
                      " TRACK 04 AUDIO\n  INDEX 00 00:02:50\nFILE \"IMG4\" WAVE\n  INDEX 01 00:00:00\n"
                      " TRACK 05 AUDIO\n  INDEX 01 00:02:00\n")
        << QList<qint64>{0, 176694, 310464 + 22050, 421302, 421302 + 44100}
        << QStringList{"SHEET: 01", "SHEET: 02", "SHEET: 03", "SHEET: 04", "SHEET: 05"}
        << QStringList{"album 01", "album 02", "album 03", "album 04", "album 05"} << "";
    // A CUESHEET block counts samples: at 32000 Hz a CD frame is no whole number of them.
    QTest::newRow("flac 32000, CUESHEET block")
        << "flac" << 32000 << QList<qint64>{1280 * 257 + 7} << int(kBlock) << QByteArray()
        << QList<qint64>{0, 100333, 250001} << QStringList{"SHEET: 01", "SHEET: 02", "SHEET: 03"}
        << QStringList{"album 01", "album 02", "album 03"} << "";
    QTest::newRow("flac 44100, CUESHEET comment")
        << "flac" << 44100 << QList<qint64>{588 * 777} << int(kComment)
        << QByteArray("PERFORMER \"Band\"\nFILE \"rip.wav\" WAVE\n TRACK 01 AUDIO\n  TITLE \"One\"\n"
                      "  INDEX 01 00:00:00\n TRACK 02 AUDIO\n  TITLE \"Two\"\n  INDEX 00 00:03:00\n"
                      "  INDEX 01 00:04:00\n")
        << QList<qint64>{0, 300 * 588} << QStringList{"SHEET: 01 - One", "SHEET: 02 - Two"}
        << QStringList{"01 - One", "02 - Two"} << "Band";
  }

  // Each track delivers exactly its stretch of the joined images, with the length it
  // promised; the list shows the sheet, the number and the title.
  void tracksJoinToTheImage() {
    QFETCH(QString, kind);
    QFETCH(int, rate);
    QFETCH(QList<qint64>, lengths);
    QFETCH(int, embedded);
    QFETCH(QByteArray, sheet);
    QFETCH(QList<qint64>, starts);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, stems);
    QFETCH(QString, artist);
    const std::string folder = root_.path().toStdString() + "/" + std::to_string(++counter_) + "/";
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));

    Samples joined;
    std::string sheetPath = folder + "album.cue";
    for (int i = 0; i < lengths.size(); ++i) {
      // Every image a tone of its own, the channels apart, so a misplaced cut shows.
      const Samples tone = MakeTone(uint32_t(rate), 2, uint64_t(lengths[i]), 300.0 + 170 * i, 0.5, true);
      const std::string name = (embedded != kNone ? "album." : "img" + std::to_string(i + 1) + ".") +
                               kind.toStdString();
      const bool written = kind == "flac"
          ? WriteFlac(folder + name, uint32_t(rate), tone, Embedded(embedded), starts, sheet)
          : WriteWav(folder + name, uint32_t(rate), 2, tone);
      QVERIFY(written);
      joined.insert(joined.end(), tone.begin(), tone.end());
      sheet.replace("IMG" + QByteArray::number(i + 1), QByteArray::fromStdString(name));
      if (embedded != kNone) sheetPath = folder + name;
    }
    if (embedded == kNone) QVERIFY(WriteText(sheetPath, sheet));

    const std::vector<TListedSource> entries = ListedSourcesOf(sheetPath);
    const QString sheetName = QString::fromStdString(sheetPath.substr(folder.size()));
    QCOMPARE(Texts(entries, true), shown.replaceInStrings("SHEET", sheetName));
    QCOMPARE(int(entries.size()), starts.size());
    starts << qint64(joined.size() / 2);
    for (size_t k = 0; k < entries.size(); ++k) {
      QCOMPARE(QString::fromStdString(AlbumTrackOutputStem(entries[k].path)), stems[int(k)]);
      uint64_t length = 0;
      SongTags tags;
      const Samples track = Decoded(entries[k].path, &length, &tags);
      const qint64 from = starts[int(k)] * 2, to = starts[int(k) + 1] * 2;
      QCOMPARE(qint64(length), (to - from) * 2);
      QCOMPARE(qint64(track.size()), to - from);
      QVERIFY2(std::equal(track.begin(), track.end(), joined.begin() + from),
               qPrintable(QString("track %1 differs from the image").arg(k + 1)));
      QCOMPARE(tags.track, uint32_t(k + 1));
      QCOMPARE(tags.track_total, uint32_t(entries.size()));
      if (k == 1) QCOMPARE(QString::fromStdString(tags.artist), artist);
    }
  }

  void badSheetsConvertNothing_data() {
    QTest::addColumn<QByteArray>("sheet");
    QTest::addColumn<QString>("reason");
    const QByteArray head = "FILE \"img.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n";
    QTest::newRow("missing image")
        << QByteArray("FILE \"gone.flac\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n")
        << "album.cue: its image gone.flac is missing";
    QTest::newRow("index beyond the end") << head + " TRACK 02 AUDIO\n  INDEX 01 00:09:00\n"
                                          << "album.cue: track 2 starts beyond the end of img.wav";
    QTest::newRow("indexes out of order")
        << head + " TRACK 02 AUDIO\n  INDEX 01 00:03:00\n TRACK 03 AUDIO\n  INDEX 01 00:02:00\n"
        << "album.cue: track 3 does not start after track 2";
    QTest::newRow("garbled") << QByteArray("\x01\x02 TRACK zz \"\n FILE", 19)
                             << "album.cue: not a readable cue sheet";
  }

  // A bad sheet gives a reason naming it and no output; with deletion on, the image and
  // the sheet stay as they were.
  void badSheetsConvertNothing() {
    QFETCH(QByteArray, sheet);
    QFETCH(QString, reason);
    TRunFolders folders;
    QVERIFY(MakeRunFolders(root_.path(), 100 + counter_++, &folders));
    const std::string image = folders.music + "img.wav", cue = folders.music + "album.cue";
    QVERIFY(WriteWav(image, 44100, 2, MakeTone(44100, 2, 588 * 500, 440.0)));
    QVERIFY(WriteText(cue, sheet));
    const QByteArray imageBefore = Contents(image);

    const std::vector<TListedSource> entries = ListedSourcesOf(cue);
    QVERIFY(!entries.empty());
    QVERIFY(OpenSource(entries.back().path, AUDIO_FLAG_UNICODE, AUDIO_FLAG_UNICODE) == 0);
    QCOMPARE(audio_error_get(), AUDIO_ERROR_BAD_SHEET);
    QCOMPARE(QString::fromStdString(audio_error_detail()), reason);

    audio_free();
    ConvFunc.Options = FirstRunOptions();
    ConvFunc.Options.OutputFormat = "wav";
    ConvFunc.Options.Delete = true;
    ConvFunc.Stage = STAGE_NONE;
    UiHooks = TUiHooks();
    MainFunc.FileList.clear();
    for (const TListedSource& e : entries) MainFunc.FileList.push_back(e.path);
    MainFunc.Rows.Items = MainFunc.FileList;
    MainFunc.ConvertAll();
    QCOMPARE(FilesIn(folders.music), (std::set<std::string>{"album.cue", "img.wav"}));
    QCOMPARE(Contents(image), imageBefore);
    QCOMPARE(Contents(cue), sheet);
    QVERIFY(audio_init(-1, 44100, 0, nullptr, nullptr));
  }
};

QTEST_GUILESS_MAIN(TestCueSheet)
#include "test_cuesheet.moc"
