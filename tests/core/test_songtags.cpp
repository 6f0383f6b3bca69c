// Song tags: every source kind converted to every output format keeps its title, artist,
// album, track numbers and the rest (read back by ffprobe, a reader of its own), Cyrillic
// included, while the audio stays exactly what it is without tags. Also: 8-bit text read
// in the code page it was written in, renamed sources, a CD track's number and CD-Text,
// tags that do not fit on the disk, and a cover picture through every format and back.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <map>

#include "audio.h"
#include "cdimagefixture.h"
#include "codecs/convfunc.h"
#include "encodedfixtures.h"
#include "encodercheck.h"
#include "encodertestkit.h"
#include "main/mainfunc.h"
#include "main/paths.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "runfolders.h"
#include "songtags.h"
#include "tagfixtures.h"
#include "wavfixture.h"

namespace {
constexpr uint32_t kRate = 44100;

enum class TSource { Id3v23Mp3, Id3v1Mp3, Ogg, Wma, Flac, Wav, Module, Midi };

SongPicture Cover() {
  SongPicture cover;
  cover.mime = "image/png";
  cover.description = "обложка";
  cover.data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (int i = 0; i < 3000; ++i) cover.data.push_back(static_cast<uint8_t>(i * 37 + i / 7));
  return cover;
}

// The song as each kind of source carries it.
SongTags SongOf(TSource kind) {
  SongTags t;
  if (kind == TSource::Module) {
    t.title = "Orvik tracker song";  // xm names have no Cyrillic
    return t;
  }
  if (kind == TSource::Midi) {
    t.title = "Вальс цветов";
    t.copyright = "(c) 2026 Оркестр";
    return t;
  }
  t.title = "Группа крови";
  t.artist = "Кино";
  t.album = "Звезда по имени Солнце";
  t.date = "1988";
  t.genre = "Rock";
  t.comment = "Ёлка и ёжик";
  t.track = 3;
  if (kind == TSource::Id3v1Mp3) return t;  // ID3v1 holds no more than this
  t.copyright = "Мелодия";
  if (kind == TSource::Wav) return t;  // nor does RIFF INFO, but for the copyright
  t.track_total = 12;
  t.album_artist = "Виктор Цой";
  t.composer = "Цой";
  t.disc = 1;
  t.disc_total = 2;
  if (kind == TSource::Wma) t.track_total = 0;  // ASF holds no total
  return t;
}

// What an output of `format` can hold of `t`.
SongTags Holdable(SongTags t, const std::string& format) {
  if (format == "wma") t.track_total = 0;
  if (format == "wav") {
    t.album_artist.clear();
    t.composer.clear();
    t.track_total = t.disc = t.disc_total = 0;
  }
  return t;
}

// Our fields by ffprobe's names, numbers split at "/".
std::map<std::string, std::string> Expected(const SongTags& t) {
  std::map<std::string, std::string> m;
  const auto put = [&m](const char* k, const std::string& v) { if (!v.empty()) m[k] = v; };
  put("title", t.title);
  put("artist", t.artist);
  put("album", t.album);
  put("album_artist", t.album_artist);
  put("date", t.date);
  put("genre", t.genre);
  put("comment", t.comment);
  put("composer", t.composer);
  put("copyright", t.copyright);
  if (t.track) put("track", std::to_string(t.track));
  if (t.track_total) put("track_total", std::to_string(t.track_total));
  if (t.disc) put("disc", std::to_string(t.disc));
  if (t.disc_total) put("disc_total", std::to_string(t.disc_total));
  return m;
}

// The tags ffprobe finds in the container and its audio stream, named as Expected names
// them; other keys (the encoder's own) are left out.
std::map<std::string, std::string> Probed(const std::string& path) {
  std::string text;
  std::map<std::string, std::string> m;
  // The audio stream only: FFmpeg shows a cover as a picture stream with tags of its own.
  if (RunTool("ffprobe", {"-v", "error", "-select_streams", "a", "-show_entries",
                          "format_tags:stream_tags", "-of", "default=noprint_wrappers=1", path},
              &text) != 0)
    return m;
  static const std::map<QString, std::string> names = {
      {"title", "title"}, {"artist", "artist"}, {"album", "album"},
      {"album_artist", "album_artist"}, {"albumartist", "album_artist"},
      {"date", "date"}, {"wm/year", "date"}, {"genre", "genre"}, {"comment", "comment"}, {"composer", "composer"},
      {"copyright", "copyright"}, {"track", "track"}, {"tracknumber", "track"},
      {"tracktotal", "track_total"}, {"disc", "disc"}, {"discnumber", "disc"},
      {"disctotal", "disc_total"}};
  for (const QString& line : QString::fromUtf8(text.c_str()).split('\n')) {
    if (!line.startsWith("TAG:")) continue;
    const int eq = line.indexOf('=');
    const auto name = names.find(line.mid(4, eq - 4).toLower());
    if (eq < 0 || name == names.end()) continue;
    const QString value = line.mid(eq + 1);
    const int slash = value.indexOf('/');
    if ((name->second == "track" || name->second == "disc") && slash > 0) {
      m[name->second] = value.left(slash).toStdString();
      m[name->second + "_total"] = value.mid(slash + 1).toStdString();
    } else {
      m[name->second] = value.toStdString();
    }
  }
  return m;
}

QString Show(const std::map<std::string, std::string>& m) {
  QString s;
  for (const auto& [k, v] : m) s += QString("%1=%2; ").arg(k.c_str(), QString::fromUtf8(v.c_str()));
  return s;
}

// The file size an ASF file's File Properties object records; 0 when it has none.
uint64_t AsfRecordedSize(const std::string& path) {
  const std::string all = ReadWholeFile(path);
  const char guid[] = "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65";
  const size_t at = all.find(guid, 0, 16);
  if (at == std::string::npos || at + 48 > all.size()) return 0;
  uint64_t size = 0;
  for (int i = 7; i >= 0; --i) size = (size << 8) | static_cast<uint8_t>(all[at + 40 + i]);
  return size;
}

// The last 128 bytes of a file, where an ID3v1 tag sits.
std::string Tail128(const std::string& path) {
  const std::string all = ReadWholeFile(path);
  return all.size() < 128 ? std::string() : all.substr(all.size() - 128);
}
}  // namespace

class TestSongTags : public QObject {
  Q_OBJECT

  QTemporaryDir root_;
  TRunFolders folders_;
  int counter_ = 0;

  // A source of `kind` with a second of sound; tagged, or its untagged twin.
  std::string Source(TSource kind, bool tagged, const std::string& name) {
    const std::string base = folders_.music + name + (tagged ? "" : "-bare");
    const auto tone = MakeTone(kRate, 2, kRate, 440.0);
    const SongTags song = SongOf(kind);
    bool ok = false;
    std::string path;
    switch (kind) {
      case TSource::Id3v23Mp3:
        path = base + ".mp3";
        ok = WriteMp3Fixture(path, kRate, 2, tone);
        if (ok && tagged) {
          SongTags withCover = song;
          withCover.cover = Cover();
          ok = TagMp3Id3v23Utf16(path, withCover);
        }
        break;
      case TSource::Id3v1Mp3:
        path = base + ".mp3";
        ok = WriteMp3Fixture(path, kRate, 2, tone) && (!tagged || AppendId3v1Cp1251(path, song));
        break;
      case TSource::Ogg:
        path = base + ".ogg";
        ok = WriteOggFixture(path, kRate, 2, tone) && (!tagged || TagOggVorbis(path, song));
        break;
      case TSource::Wma:
        path = base + ".wma";
        ok = WriteWmaFixture(path, kRate, 2, tone) && (!tagged || TagWma(path, song));
        break;
      case TSource::Flac:
        path = base + ".flac";
        ok = WriteFfmpegFixture(path, "flac", "flac", kRate, 2, tone) && (!tagged || TagFlac(path, song));
        break;
      case TSource::Wav:
        path = base + ".wav";
        ok = WriteWav(path, kRate, 2, tone) && (!tagged || TagWav(path, song));
        break;
      case TSource::Module:
        path = base + ".xm";
        ok = WriteModule(path, TModuleKind::Xm, 8, {{0, 0}, {4, 1}}) &&
             SetXmTitle(path, tagged ? song.title : "");
        break;
      case TSource::Midi:
        path = base + ".mid";
        ok = WriteMidiFile(path, MidiScale(2)) && (!tagged || AddMidiTexts(path, song.title, song.copyright));
        break;
    }
    if (!ok) qFatal("fixture %s not written", path.c_str());
    return path;
  }

  bool Convert(const std::string& source, const std::string& format, const std::string& output) {
    ConvFunc.Options.OutputFormat = format;
    return MainFunc.ConvertFile(source, output);
  }

 private slots:
  void initTestCase() {
    QVERIFY(root_.isValid());
    QVERIFY(MakeRunFolders(root_.path(), 0, &folders_));
    ConvFunc.Options = FirstRunOptions();
  }
  void cleanupTestCase() { SetProgramDirForTesting(""); }

  void tagsReachEveryOutput_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("format");
    const std::pair<TSource, const char*> kinds[] = {
        {TSource::Id3v23Mp3, "mp3 id3v2.3 utf-16"}, {TSource::Id3v1Mp3, "mp3 id3v1 cp1251"},
        {TSource::Ogg, "ogg"}, {TSource::Wma, "wma"}, {TSource::Flac, "flac"},
        {TSource::Wav, "wav with LIST/INFO"},
        {TSource::Module, "xm"}, {TSource::Midi, "midi"}};
    for (const auto& [kind, name] : kinds) {
      for (const char* format : {"mp3", "ogg", "wma", "wav", "flac", "opus"})
        QTest::addRow("%s to %s", name, format) << static_cast<int>(kind) << format;
    }
  }
  void tagsReachEveryOutput() {
    if (!HaveTool("ffprobe")) QSKIP("ffprobe is not installed");
    QFETCH(int, kind);
    QFETCH(QString, format);
    const auto source = static_cast<TSource>(kind);
    const std::string ext = format.toStdString();
    const std::string name = "s" + std::to_string(counter_++);
    const std::string tagged = Source(source, true, name);
    const std::string bare = Source(source, false, name);
    const std::string out = folders_.music + name + "-out." + ext;
    const std::string bareOut = folders_.music + name + "-bare-out." + ext;
    QVERIFY(Convert(tagged, ext, out));
    QVERIFY(Convert(bare, ext, bareOut));

    const auto expected = Expected(Holdable(SongOf(source), ext));
    const auto found = Probed(out);
    QVERIFY2(found == expected, qPrintable("found " + Show(found) + "\nwanted " + Show(expected)));
    QVERIFY2(Probed(bareOut).empty(), qPrintable(Show(Probed(bareOut))));

    // The audio is exactly what the untagged source gives.
    const TDecodedFile a = DecodeThroughAudioLayer(out, ext == "wma");
    const TDecodedFile b = DecodeThroughAudioLayer(bareOut, ext == "wma");
    QVERIFY(a.ok && b.ok && !a.samples.empty());
    // libopenmpt dithers its 16-bit output with fresh noise on every rendering, so two
    // renderings of a module agree in length only.
    if (source == TSource::Module) QCOMPARE(a.samples.size(), b.samples.size());
    else QVERIFY(a.samples == b.samples);
    if (ext == "wav" && source != TSource::Module) {
      // Header and data in place; the tags follow the data.
      const TWavData wav = ReadWav(out), plain = ReadWav(bareOut);
      QCOMPARE(wav.dataSize, plain.dataSize);
      QCOMPARE(ReadWholeFile(out).substr(44, plain.dataSize), ReadWholeFile(bareOut).substr(44));
    }
    // The header that grew still records the file's size.
    if (ext == "wma") QCOMPARE(AsfRecordedSize(out), ReadWholeFile(out).size());
    if (ext == "mp3") {
      // An ID3v1 tag only where the source had one, in the code page it had.
      const std::string tail = Tail128(out);
      const bool id3v1 = tail.compare(0, 3, "TAG") == 0;
      QCOMPARE(id3v1, source == TSource::Id3v1Mp3);
      if (id3v1) QCOMPARE(tail.substr(3, 12), Cp1251Of(SongOf(source).title));
    }
  }

  // 8-bit ID3v1 text is Windows-1251 where it is plainly Cyrillic, ISO-8859-1 otherwise;
  // a field with no letter or digit is dropped.
  void eightBitTextReadsAsItsWriterMeant_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Russian") << QByteArray("\xCA\xE8\xED\xEE") << "Кино";
    QTest::newRow("short Russian") << QByteArray("\xC4\xC4\xD2") << "ДДТ";
    QTest::newRow("Russian with Latin") << QByteArray("\xC0\xEB\xE8\xF1\xE0 feat. DJ") << "Алиса feat. DJ";
    QTest::newRow("yo") << QByteArray("\xA8\xEB\xEA\xE0") << "Ёлка";
    QTest::newRow("French") << QByteArray("Caf\xE9 del Mar") << "Café del Mar";
    QTest::newRow("German") << QByteArray("M\xFCller & S\xF6hne") << "Müller & Söhne";
    QTest::newRow("ASCII") << QByteArray("Plain title") << "Plain title";
    // Too little to judge by, a mark of Unicode, or nothing that is text.
    QTest::newRow("two high bytes") << QByteArray("\xC0\xE1") << "Àá";
    QTest::newRow("byte-order mark alone") << QByteArray("\xFE\xFF") << "";
    QTest::newRow("UTF-8 after its mark") << QByteArray("\xEF\xBB\xBF\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE") << "Кино";
    QTest::newRow("dashes only") << QByteArray("- -") << "";
  }
  void eightBitTextReadsAsItsWriterMeant() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const std::string path = folders_.music + "v1-" + std::to_string(counter_++) + ".mp3";
    QVERIFY(WriteMp3Fixture(path, kRate, 1, MakeTone(kRate, 1, kRate / 10, 440.0)));
    std::string tag(128, '\0');
    tag.replace(0, 3, "TAG");
    tag.replace(3, static_cast<size_t>(bytes.size()), bytes.toStdString());
    tag[127] = '\xFF';
    QVERIFY(WriteWholeFile(path, ReadWholeFile(path) + tag));
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr));
    SongTags tags;
    const uint32_t h = audio_open_file(0, path.c_str(), 0, 0, AUDIO_FLAG_DECODE);
    const int got = audio_get_tags(h, &tags);
    audio_free();
    QCOMPARE(got, 1);
    QCOMPARE(QString::fromStdString(tags.title), text);
    QVERIFY(tags.had_id3v1);
  }

  // A renamed file's tags are read as what the file is, not what its name says.
  void renamedSourceKeepsItsTags_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("name");
    QTest::newRow("ogg named mp3") << static_cast<int>(TSource::Ogg) << "renamed.mp3";
    QTest::newRow("wma named ogg") << static_cast<int>(TSource::Wma) << "renamed.ogg";
    QTest::newRow("flac named wav") << static_cast<int>(TSource::Flac) << "renamed.wav";
    QTest::newRow("mp3 without extension") << static_cast<int>(TSource::Id3v23Mp3) << "renamed";
  }
  void renamedSourceKeepsItsTags() {
    QFETCH(int, kind);
    QFETCH(QString, name);
    const std::string made = Source(static_cast<TSource>(kind), true, "r" + std::to_string(counter_++));
    const std::string path = folders_.music + name.toStdString();
    QVERIFY(std::rename(made.c_str(), path.c_str()) == 0);
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr));
    SongTags tags;
    const uint32_t h = OpenSource(path, AUDIO_FLAG_DECODE, AUDIO_FLAG_DECODE);
    const int got = audio_get_tags(h, &tags);
    audio_free();
    QCOMPARE(got, 1);
    QCOMPARE(tags.title, SongOf(static_cast<TSource>(kind)).title);
  }

  // Tags that do not fit on the disk fail the conversion like audio that does not fit: no
  // output, nothing half-written left behind, and the source kept although it was to go.
  void tagsThatDoNotFitFailTheConversion_data() {
    QTest::addColumn<QString>("format");
    for (const char* format : {"mp3", "ogg", "wma", "wav", "flac", "opus"})
      QTest::newRow(format) << format;
  }
  void tagsThatDoNotFitFailTheConversion() {
    QFETCH(QString, format);
    const std::string folder = folders_.music + "full-" + format.toStdString() + "/";
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
    const std::string source = folder + "long comment.mp3";
    SongTags song = SongOf(TSource::Id3v23Mp3);
    for (int i = 0; i < 60000; ++i) song.comment += "ж";  // 120 KB of text in every output
    QVERIFY(WriteMp3Fixture(source, kRate, 2, MakeTone(kRate, 2, kRate / 4, 440.0)));
    QVERIFY(TagMp3Id3v23Utf16(source, song));
    const std::string before = ReadWholeFile(source);
    MainFunc.FileList = {source};
    ConvFunc.Options.OutputFormat = format.toStdString();
    ConvFunc.Options.Delete = true;
    // Room for the audio of every format (and the temporary WAV), not for the tags too.
    const TLimitedRun run = RunWithFileSizeLimit(80000, [] {
      MainFunc.ConvertAll();
      return 0;
    });
    ConvFunc.Options.Delete = false;
    MainFunc.FileList.clear();
    QVERIFY(run.limited);
    QCOMPARE(FilesIn(folder), (std::set<std::string>{"long comment.mp3"}));
    QVERIFY(ReadWholeFile(source) == before);
  }

  // A CD track gets its number on the disc and the count, and CD-Text where the disc has it.
  void cdTrackGetsItsNumberAndCdText() {
    if (!HaveTool("ffprobe")) QSKIP("ffprobe is not installed");
    const std::string cue = folders_.music + "disc.cue";
    const auto tone = MakeTone(kRate, 2, kRate / 2, 440.0);
    QVERIFY(WriteCdImage(cue, {tone, tone, tone}));
    QString sheet = QString::fromStdString(ReadWholeFile(cue));
    sheet.prepend("TITLE \"Disc Title\"\nPERFORMER \"Disc Band\"\n");
    sheet.replace("TRACK 02 AUDIO\n", "TRACK 02 AUDIO\n    TITLE \"Second Song\"\n");
    QVERIFY(WriteWholeFile(cue, sheet.toStdString()));
    cd_set_drives_for_testing({cue});
    const std::string out = folders_.music + "cd-track2.mp3";
    const bool converted = Convert(cue + "/Track02.cda", "mp3", out);
    cd_set_drives_for_testing({});
    QVERIFY(converted);
    const std::map<std::string, std::string> expected = {
        {"title", "Second Song"}, {"artist", "Disc Band"},  {"album", "Disc Title"},
        {"album_artist", "Disc Band"}, {"track", "2"}, {"track_total", "3"}};
    const auto found = Probed(out);
    QVERIFY2(found == expected, qPrintable("found " + Show(found)));
  }

  // Through every format that holds a picture: ID3v2, Vorbis comments, a FLAC PICTURE
  // block, OpusTags.
  void coverSurvivesEveryFormatAndBack() {
    const std::string mp3 = Source(TSource::Id3v23Mp3, true, "cover");
    const std::string ogg = folders_.music + "cover-1.ogg";
    const std::string flac = folders_.music + "cover-2.flac";
    const std::string opus = folders_.music + "cover-3.opus";
    const std::string back = folders_.music + "cover-4.mp3";
    QVERIFY(Convert(mp3, "ogg", ogg));
    QVERIFY(Convert(ogg, "flac", flac));
    QVERIFY(Convert(flac, "opus", opus));
    QVERIFY(Convert(opus, "mp3", back));
    std::string mime;
    QVERIFY(Id3v2Picture(back, &mime) == Cover().data);
    QCOMPARE(mime, Cover().mime);
  }
};

QTEST_GUILESS_MAIN(TestSongTags)
#include "test_songtags.moc"
