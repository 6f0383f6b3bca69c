// MIDI files rendered with the General MIDI soundfont: exact, finite length, a usable level,
// and a clear refusal of what cannot be played.
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio.h"
#include "channel.h"
#include "midifixture.h"
#include "modulefixture.h"
#include "channelpull.h"
#include "wavfixture.h"

using audio_detail::Channel;

namespace {
double Seconds(const Channel& c) { return double(c.length_bytes) / c.frame_bytes() / c.rate; }

// Sets an environment variable for one scope.
class TEnvOverride {
 public:
  TEnvOverride(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvOverride() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};
}  // namespace

class TestMidi : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  std::string Path(const char* name) { return dir_.filePath(name).toStdString(); }

 private slots:
  void initTestCase() {
    const char* chosen = std::getenv("ORVIK_SOUNDFONT");
    const QString soundfont = chosen && *chosen ? chosen : "/usr/share/sounds/sf2/default-GM.sf2";
    if (!QFile::exists(soundfont)) QSKIP("no General MIDI soundfont installed");
  }

  void lengthIsExactAndCoversTheNotes_data() {
    QTest::addColumn<uint32_t>("rate");
    QTest::newRow("44100") << 44100u;
    QTest::newRow("22050") << 22050u;
  }
  void lengthIsExactAndCoversTheNotes() {
    QFETCH(uint32_t, rate);
    const std::string path = Path("scale.mid");
    QVERIFY(WriteMidiFile(path, MidiScale(4)));  // two seconds of notes
    auto channel = audio_detail::open_midi_channel(path, rate);
    QVERIFY(channel);
    QCOMPARE(channel->ctype, AUDIO_CTYPE_MIDI);
    QCOMPARE(channel->chans, 2u);
    QCOMPARE(channel->rate, rate);
    // The last note is released at 2 s; its release dies away within a few seconds.
    QVERIFY2(Seconds(*channel) > 2.0 && Seconds(*channel) < 6.0,
             qPrintable(QString::number(Seconds(*channel))));
    const TChannelPulled pulled = PullChannel(*channel, 10000);
    QCOMPARE(pulled.bytes, channel->length_bytes);
    QVERIFY(!channel->active());
    QVERIFY(pulled.peak > 1000);
  }

  // A song opened again (the batch measures the list, then converts) keeps its length and
  // sound; a file rewritten with another song is counted anew.
  void reopenedSongKeepsItsLengthAndChangedSongIsCountedAgain() {
    const std::string path = Path("again.mid");
    QVERIFY(WriteMidiFile(path, MidiScale(4)));
    auto first = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(first);
    const TChannelPulled firstPulled = PullChannel(*first);
    auto second = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(second);
    QCOMPARE(second->length_bytes, first->length_bytes);
    const TChannelPulled secondPulled = PullChannel(*second);
    QCOMPARE(secondPulled.bytes, firstPulled.bytes);
    QCOMPARE(secondPulled.peak, firstPulled.peak);

    QVERIFY(WriteMidiFile(path, MidiScale(8)));  // two seconds longer
    auto longer = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(longer);
    QVERIFY2(Seconds(*longer) > Seconds(*first) + 1.5,
             qPrintable(QString("%1 after %2").arg(Seconds(*longer)).arg(Seconds(*first))));

    // The same notes at double speed: a file of the very same size, differing in three
    // bytes of the tempo, is a song of its own.
    QVERIFY(WriteMidiFile(path, MidiScale(8), 480, 250000));
    auto faster = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(faster);
    QVERIFY2(Seconds(*faster) < Seconds(*longer) - 1.5,
             qPrintable(QString("%1 after %2").arg(Seconds(*faster)).arg(Seconds(*longer))));
  }

  void loudSongComesNearFullScaleWithoutClipping() {
    const std::string path = Path("loud.mid");
    QVERIFY(WriteMidiFile(path, MidiLoudChords(4)));
    auto channel = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(channel);
    const TChannelPulled pulled = PullChannel(*channel);
    QVERIFY2(pulled.peak > 32767 / 4, qPrintable(QString::number(pulled.peak)));
    QVERIFY2(pulled.clipped == 0, qPrintable(QString::number(pulled.clipped)));
  }

  void songWithoutNotesEndsSilently() {
    const std::string path = Path("empty.mid");
    QVERIFY(WriteMidiFile(path, {}, 480, 500000, 960));  // one second of nothing
    auto channel = audio_detail::open_midi_channel(path, 44100);
    if (!channel) return;  // refusing it is as good as a short silence
    QVERIFY(Seconds(*channel) < 2.0);
    const TChannelPulled pulled = PullChannel(*channel);
    QCOMPARE(pulled.bytes, channel->length_bytes);
    QCOMPARE(pulled.peak, 0);
  }

  // An organ note that is never released would sound for ever; the song ends with its
  // release after the last event instead.
  void noteWithoutNoteOffEndsWithTheSong() {
    const std::string path = Path("stuck.mid");
    TMidiNote organ;
    organ.key = 60, organ.lengthTicks = 960, organ.noteOff = false;
    QVERIFY(WriteMidiFile(path, {organ}, 480, 500000, 960, 19));
    auto channel = audio_detail::open_midi_channel(path, 44100);
    QVERIFY(channel);
    QVERIFY2(Seconds(*channel) >= 1.0 && Seconds(*channel) < 5.0,
             qPrintable(QString::number(Seconds(*channel))));
    const TChannelPulled pulled = PullChannel(*channel, 4000);
    QCOMPARE(pulled.bytes, channel->length_bytes);
    QVERIFY(pulled.peak > 1000);
  }

  void refusesWhatIsNoMidiFileQuickly_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("wav named .mid") << "wav";
    QTest::newRow("module named .mid") << "module";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("missing file") << "missing";
  }
  void refusesWhatIsNoMidiFileQuickly() {
    QFETCH(QString, what);
    const std::string path = Path("not.mid");
    std::remove(path.c_str());
    if (what == "wav") QVERIFY(WriteWav(path, 44100, 2, MakeTone(44100, 2, 44100, 440.0)));
    if (what == "module") QVERIFY(WriteModule(path, TModuleKind::Mod, 8, {{0, 0}}));
    if (what == "empty") QVERIFY(std::fclose(std::fopen(path.c_str(), "wb")) == 0);
    const auto start = std::chrono::steady_clock::now();
    QVERIFY(!audio_detail::open_midi_channel(path, 44100));
    // Refused before the soundfont (hundreds of megabytes) is loaded.
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(50));
  }

  void garbledMidiNeitherCrashesNorHangs_data() {
    QTest::addColumn<int>("keep");
    QTest::newRow("header only") << 14;
    QTest::newRow("cut inside the track") << 30;
  }
  void garbledMidiNeitherCrashesNorHangs() {
    QFETCH(int, keep);
    const std::string whole = Path("whole.mid");
    QVERIFY(WriteMidiFile(whole, MidiScale(8)));
    std::vector<char> bytes(static_cast<size_t>(keep));
    FILE* f = std::fopen(whole.c_str(), "rb");
    QCOMPARE(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const std::string path = Path("cut.mid");
    f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    auto channel = audio_detail::open_midi_channel(path, 44100);
    if (!channel) return;
    const TChannelPulled pulled = PullChannel(*channel);
    QCOMPARE(pulled.bytes, channel->length_bytes);
  }

  // A refused song says why: the check's or FluidSynth's reason for damage, or no notes.
  void refusalSaysWhy_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("detail");
    const auto smf = [](uint16_t tracks, uint16_t division, const QByteArray& events) {
      QByteArray bytes("MThd\0\0\0\6\0\0", 10);
      for (const uint16_t v : {tracks, division}) bytes += char(v >> 8), bytes += char(v & 255);
      const int size = events.size();
      bytes += QByteArray("MTrk") + char(size >> 24) + char(size >> 16) + char(size >> 8) + char(size);
      return bytes + events;
    };
    const QByteArray note("\0\x90\x3C\x64\x83\x60\x80\x3C\x40", 9), end("\0\xFF\x2F\0", 4);
    const QByteArray silent("\0\x90\x3C\0\x83\x60\x80\x3C\x40", 9);
    QTest::newRow("no notes") << smf(1, 480, silent + end) << AUDIO_ERROR_MIDI_NO_NOTES << "";
    QTest::newRow("cut inside the track") << smf(1, 480, note + end).chopped(6)
                                          << AUDIO_ERROR_MIDI_DAMAGED << "track 1 ends inside an event";
    QTest::newRow("undefined event") << smf(1, 480, QByteArray("\0\xF4", 2) + note + end)
                                     << AUDIO_ERROR_MIDI_DAMAGED << "track 1 holds the undefined event 0xF4";
    QTest::newRow("missing track") << smf(2, 480, note + end) << AUDIO_ERROR_MIDI_DAMAGED
                                   << "the header announces 2 tracks, the file holds 1";
    QTest::newRow("SMPTE timing") << smf(1, 0xE728, note + end) << AUDIO_ERROR_MIDI_DAMAGED << "SMPTE";
    QTest::newRow("no soundfont") << smf(1, 480, note + end) << AUDIO_ERROR_NO_SOUNDFONT << "missing.sf2";
    QTest::newRow("not MIDI") << QByteArray("RIFF") << AUDIO_ERROR_UNKNOWN_FORMAT << "";
  }
  void refusalSaysWhy() {
    QFETCH(QByteArray, file);
    QFETCH(int, error);
    QFETCH(QString, detail);
    QFile out(dir_.filePath("why.mid"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    const bool noFont = error == AUDIO_ERROR_NO_SOUNDFONT;
    const char* chosen = std::getenv("ORVIK_SOUNDFONT");
    TEnvOverride env("ORVIK_SOUNDFONT", noFont ? Path("missing.sf2") : chosen ? chosen : "");
    QVERIFY(audio_init(0, 44100, 0, nullptr, nullptr));
    const uint32_t handle = midi_open_file(0, Path("why.mid").c_str(), 0, 0, 0x220000, 44100);
    const int got = audio_error_get();
    const QString said = QString::fromStdString(audio_error_detail());
    audio_free();
    QCOMPARE(handle, 0u);
    QCOMPARE(got, error);
    QVERIFY2(detail.isEmpty() ? said.isEmpty() : said.contains(detail), qPrintable(said));
  }

  void missingSoundfontRefusesTheFile_data() {
    QTest::addColumn<QString>("soundfont");
    QTest::newRow("no such file") << "missing.sf2";
    QTest::newRow("not a soundfont") << "fake.sf2";
  }
  void missingSoundfontRefusesTheFile() {
    QFETCH(QString, soundfont);
    const std::string fake = Path("fake.sf2");
    QVERIFY(WriteWav(fake, 44100, 1, MakeTone(44100, 1, 1000, 440.0)));
    const std::string path = Path("song.mid");
    QVERIFY(WriteMidiFile(path, MidiScale(2)));
    TEnvOverride env("ORVIK_SOUNDFONT", dir_.filePath(soundfont).toStdString());
    QVERIFY(!audio_detail::open_midi_channel(path, 44100));
  }
};

QTEST_GUILESS_MAIN(TestMidi)
#include "test_midi.moc"
