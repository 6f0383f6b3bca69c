// The conversion list: adding with repeats removed, removing with its selection rules,
// clearing, and what the painting draws, always on both stores together.
#include <QString>
#include <QtTest>

#include <string>
#include <vector>

#include "main/listops.h"
#include "main/mainfunc.h"
#include "main/uihooks.h"

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// Width of a text when every character (code point) is `perChar` pixels wide.
TTextWidth FixedWidth(int perChar) {
  return [perChar](const std::string& text) {
    return static_cast<int>(QString::fromUtf8(text).toUcs4().size()) * perChar;
  };
}

std::vector<std::string> Paths(std::initializer_list<const char*> texts) {
  return std::vector<std::string>(texts.begin(), texts.end());
}

}  // namespace

class TestListOps : public QObject {
  Q_OBJECT

  std::vector<std::string> answer_;
  bool accept_ = true;
  int events_ = 0;
  int repaints_ = 0;

  void SetList(const std::vector<std::string>& paths, int selected = -1, int top = 0) {
    MainFunc.Rows.Items = paths;
    MainFunc.FileList = paths;
    MainFunc.Rows.ItemIndex = selected;
    MainFunc.Rows.TopIndex = top;
    repaints_ = 0;
    events_ = 0;
  }

 private slots:
  void init() {
    SetList({});
    accept_ = true;
    answer_.clear();
    UiHooks.RunOpenDialog = [this](std::vector<std::string>& paths) {
      paths = answer_;
      return accept_;
    };
    UiHooks.ProcessEvents = [this] { ++events_; };
    MainFunc.Rows.OnRepaint = [this] { ++repaints_; };
  }

  void addFiles_data() {
    QTest::addColumn<std::vector<std::string>>("before");
    QTest::addColumn<std::vector<std::string>>("added");
    QTest::addColumn<std::vector<std::string>>("after");
    QTest::newRow("added again moves to the end")
        << Paths({"/m/a.mp3"}) << Paths({"/m/b.mp3", "/m/a.mp3"})
        << Paths({"/m/b.mp3", "/m/a.mp3"});
    QTest::newRow("both added again stand once")
        << Paths({"/m/a.mp3", "/m/b.mp3"}) << Paths({"/m/a.mp3", "/m/b.mp3"})
        << Paths({"/m/a.mp3", "/m/b.mp3"});
    QTest::newRow("letter case counts")
        << Paths({"/m/a.mp3"}) << Paths({"/M/a.mp3", "/m/A.mp3"})
        << Paths({"/m/a.mp3", "/M/a.mp3", "/m/A.mp3"});
    QTest::newRow("repeats within one choice")
        << Paths({}) << Paths({"/x.wav", "/y.wav", "/x.wav", "/x.wav"})
        << Paths({"/y.wav", "/x.wav"});
    QTest::newRow("old entries keep their order")
        << Paths({"/1.ogg", "/2.ogg", "/3.ogg", "/4.ogg"}) << Paths({"/3.ogg", "/1.ogg"})
        << Paths({"/2.ogg", "/4.ogg", "/3.ogg", "/1.ogg"});
    QTest::newRow("spaces, Cyrillic, quotes and % kept exactly")
        << Paths({}) << Paths({"/home/я/Мои песни/\"хит\" 100%.mp3", "/tmp/a b/%s%d.wav"})
        << Paths({"/home/я/Мои песни/\"хит\" 100%.mp3", "/tmp/a b/%s%d.wav"});
    QTest::newRow("bytes that are not UTF-8")
        << Paths({"/m/\xff.mp3"}) << Paths({"/m/\xfe.mp3", "/m/\xff.mp3"})
        << Paths({"/m/\xfe.mp3", "/m/\xff.mp3"});
  }
  void addFiles() {
    QFETCH(std::vector<std::string>, before);
    QFETCH(std::vector<std::string>, added);
    QFETCH(std::vector<std::string>, after);
    SetList(before);
    answer_ = added;
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.Rows.Items, after);
    QCOMPARE(MainFunc.FileList, after);
    QCOMPARE(events_, static_cast<int>(added.size()));
    QCOMPARE(repaints_, 1);

    // Dropped files are appended the same way.
    SetList(before);
    AppendSourcePaths(added);
    QCOMPARE(MainFunc.Rows.Items, after);
    QCOMPARE(MainFunc.FileList, after);
  }

  void cancelledDialogChangesNothing() {
    SetList(Paths({"/a.mp3"}), 0);
    answer_ = Paths({"/b.mp3"});
    accept_ = false;
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.FileList, Paths({"/a.mp3"}));
    QCOMPARE(MainFunc.Rows.Items, Paths({"/a.mp3"}));
    QCOMPARE(MainFunc.Rows.ItemIndex, 0);
    QCOMPARE(events_, 0);

    UiHooks.RunOpenDialog = nullptr;
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.FileList, Paths({"/a.mp3"}));
  }

  void selectionFollowsItsRowWhenRepeatsGo() {
    SetList(Paths({"/a", "/b", "/c"}), 2);
    answer_ = Paths({"/a"});
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.FileList, Paths({"/b", "/c", "/a"}));
    QCOMPARE(MainFunc.Rows.ItemIndex, 1);  // still "/c"

    SetList(Paths({"/a", "/b", "/c"}), 0, 2);
    answer_ = Paths({"/a", "/b", "/c"});
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.FileList, Paths({"/a", "/b", "/c"}));
    QCOMPARE(MainFunc.Rows.ItemIndex, -1);  // its row went
    QCOMPARE(MainFunc.Rows.TopIndex, 2);
  }

  void listChangedWhileAddingKeepsStoresEqual() {
    SetList(Paths({"/old1", "/old2"}), 1);
    answer_ = Paths({"/n1", "/n2", "/n3", "/n1"});
    UiHooks.ProcessEvents = [this] {
      // The user presses Clear between two appends.
      if (++events_ == 2) MainFunc.ClearList();
    };
    MainFunc.AddFiles();
    QCOMPARE(MainFunc.FileList, Paths({"/n2", "/n3", "/n1"}));
    QCOMPARE(MainFunc.Rows.Items, MainFunc.FileList);
  }

  void removeSelected_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("top");
    QTest::addColumn<std::vector<std::string>>("after");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<int>("topAfter");
    QTest::newRow("first of three") << 3 << 0 << 0 << Paths({"/1", "/2"}) << 0 << 0;
    QTest::newRow("third of three") << 3 << 2 << 0 << Paths({"/0", "/1"}) << 1 << 0;
    QTest::newRow("middle") << 3 << 1 << 0 << Paths({"/0", "/2"}) << 0 << 0;
    QTest::newRow("the only row") << 1 << 0 << 0 << Paths({}) << -1 << 0;
    QTest::newRow("none selected still moves the view")
        << 3 << -1 << 2 << Paths({"/0", "/1", "/2"}) << -1 << 1;
    QTest::newRow("view moves up one row") << 4 << 3 << 2 << Paths({"/0", "/1", "/2"}) << 2 << 1;
    QTest::newRow("empty list") << 0 << -1 << 0 << Paths({}) << -1 << 0;
  }
  void removeSelected() {
    QFETCH(int, count);
    QFETCH(int, selected);
    QFETCH(int, top);
    QFETCH(std::vector<std::string>, after);
    QFETCH(int, selectedAfter);
    QFETCH(int, topAfter);
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back("/" + std::to_string(i));
    SetList(paths, selected, top);
    MainFunc.RemoveSelected();
    QCOMPARE(MainFunc.Rows.Items, after);
    QCOMPARE(MainFunc.FileList, after);
    QCOMPARE(MainFunc.Rows.ItemIndex, selectedAfter);
    QCOMPARE(MainFunc.Rows.TopIndex, topAfter);
    QCOMPARE(repaints_, 1);
  }

  void clearList() {
    SetList(Paths({"/a", "/b", "/c"}), 2, 1);
    MainFunc.ClearList();
    QVERIFY(MainFunc.Rows.Items.empty());
    QVERIFY(MainFunc.FileList.empty());
    QCOMPARE(MainFunc.Rows.ItemIndex, -1);
    QCOMPARE(MainFunc.Rows.TopIndex, 0);
    QCOMPARE(repaints_, 1);
  }

  void drawListRows() {
    TListRows rows;
    QVERIFY(ComputeDrawList(rows, FixedWidth(6)).empty());
    for (int i = 0; i < 20; ++i) rows.Items.push_back("/" + std::to_string(i));
    rows.TopIndex = 3;
    rows.ItemIndex = 5;
    auto drawn = ComputeDrawList(rows, FixedWidth(6));
    QCOMPARE(static_cast<int>(drawn.size()), 16);
    for (int k = 0; k < 16; ++k) {
      QCOMPARE(drawn[k].Index, 3 + k);
      QCOMPARE(drawn[k].Y, 16 * k);
      QCOMPARE(drawn[k].Selected, 3 + k == 5);
      QCOMPARE(drawn[k].Text, rows.Items[3 + k]);
    }
    rows.TopIndex = 18;
    rows.ItemIndex = -1;
    drawn = ComputeDrawList(rows, FixedWidth(6));
    QCOMPARE(static_cast<int>(drawn.size()), 2);
    QCOMPARE(drawn[1].Index, 19);
    QCOMPARE(drawn[1].Y, 16);
    QVERIFY(!drawn[0].Selected && !drawn[1].Selected);
  }

  void shortening_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("perChar");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("nine characters never") << QByteArray("/a/b.mp3x") << 8 << QByteArray("/a/b.mp3x");
    QTest::newRow("just below the room") << QByteArray(120, 'a') << 4 << QByteArray(120, 'a');
    const QByteArray exact = QByteArray(114, 'a') + "bcd" + "1234567";  // 121 x 4 = 484
    QTest::newRow("exactly the room is shortened")
        << exact << 4 << QByteArray(110, 'a') + ".. " + "1234567";
    QTest::newRow("much too long")
        << QByteArray(300, 'p') + "/song.mp3" << 4
        << QByteArray(110, 'p') + ".. " + "ong.mp3";
  }
  void shortening() {
    QFETCH(QByteArray, text);
    QFETCH(int, perChar);
    QFETCH(QByteArray, expected);
    const std::string shortened = ShortenToRoom(text.toStdString(), FixedWidth(perChar));
    QCOMPARE(QByteArray::fromStdString(shortened), expected);
    QVERIFY(FixedWidth(perChar)(shortened) < LIST_TEXT_ROOM);
  }

  void firstPassKeepsTheLength() {
    // Narrow dots and blanks: the first pass alone brings the text below the room.
    const auto width = [](const std::string& text) {
      int w = 0;
      for (char c : text) w += c == '.' || c == ' ' ? 2 : 10;
      return w;
    };
    const std::string text = std::string(40, 'x') + "ABC" + "1234567";
    QCOMPARE(ShortenToRoom(text, width), std::string(40, 'x') + ".. 1234567");
  }

  void shorteningNeverCutsALetter() {
    std::string path = "/музыка/";
    for (int i = 0; i < 200; ++i) path += "ё";
    path += "песня.mp3";
    const std::string shortened = ShortenToRoom(path, FixedWidth(4));
    const QString decoded = QString::fromUtf8(shortened);
    QCOMPARE(decoded.toUtf8().toStdString(), shortened);  // whole letters only
    QVERIFY(!decoded.contains(QChar::ReplacementCharacter));
    QVERIFY(decoded.endsWith(QString::fromUtf8("ня.mp3")));
    QCOMPARE(decoded.right(10), QString::fromUtf8(".. сня.mp3"));
    QCOMPARE(static_cast<int>(decoded.toUcs4().size()), 120);
  }

  void shorteningMatchesPassByPass() {
    // Characters of uneven widths; the result must be what dropping one character per
    // pass before the mark gives.
    const auto uneven = [](const std::string& text) {
      int w = 0;
      for (unsigned char c : text) w += c == 'i' ? 2 : c == 'W' ? 13 : c == '.' ? 3 : 7;
      return w;
    };
    const auto passByPass = [&](const std::string& text) {
      if (uneven(text) < LIST_TEXT_ROOM) return text;
      const std::string tail = text.substr(text.size() - 7);
      std::string head = text.substr(0, text.size() - 9);
      std::string x = text;
      while (uneven(x) >= LIST_TEXT_ROOM) {
        head.pop_back();
        x = head + ".. " + tail;
      }
      return x;
    };
    std::string text = "/";
    for (int i = 0; text.size() < 400; ++i) {
      text += "iW.x"[i % 4 == 3 ? 3 : (i * 7) % 3];
      if (text.size() > 60) QCOMPARE(ShortenToRoom(text, uneven), passByPass(text));
    }
  }

  void longPathsAreMeasuredFewTimes() {
    int measured = 0;
    const auto counting = [&measured](const std::string& text) {
      ++measured;
      return static_cast<int>(text.size()) * 4;
    };
    const std::string path = std::string(4000, 'd') + "/song.mp3";
    QCOMPARE(ShortenToRoom(path, counting), std::string(110, 'd') + ".. " + "ong.mp3");
    QVERIFY2(measured < 40, qPrintable(QString::number(measured)));
  }

  void shorteningEndsWhateverTheWidth() {
    // A width that no text ever gets below: the loop must still end.
    const auto huge = [](const std::string&) { return 10000; };
    QCOMPARE(ShortenToRoom("/a/very/long/path/name.mp3", huge),
             std::string(".. ame.mp3"));
    QCOMPARE(ShortenToRoom("/ab.mp3", huge), std::string(".. /ab.mp3"));
    QCOMPARE(ShortenToRoom("", huge), std::string(".. "));
    // Broken UTF-8 counts byte by byte and is never made worse.
    const std::string broken = std::string(130, '\xff') + "\xe2\x82" + "tail.mp3";
    const std::string shortened = ShortenToRoom(broken, FixedWidth(4));
    QVERIFY(shortened.size() < broken.size());
    QCOMPARE(shortened.substr(shortened.size() - 7), std::string("ail.mp3"));
  }
};

QTEST_GUILESS_MAIN(TestListOps)
#include "test_listops.moc"
