// The Qt window driven through its widgets (QT_QPA_PLATFORM=offscreen): the
// start buttons, TEST, Enter and Esc, repeated runs, clicks queued behind a
// run, and errors ending the window with a message box.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/window.h"
#include "session/session.h"
#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"

namespace hostprobe {
namespace {

const std::string kStamp = "6.12.2026 1:11:54";

std::string Fixture(const char* name) { return std::string(HOSTPROBE_FIXTURES) + "/" + name; }

std::string ReadLog() {
  std::ifstream in("TEST_OUT.TXT", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Record(const std::string& message) { return "\"" + kStamp + "\t" + message + "\"\r\n"; }

// How many records the log holds: each starts with a quote and the stamp at
// the start of the file or after a CR LF.
int CountRecords(const std::string& log) {
  const std::string start = "\"" + kStamp + "\t";
  int count = 0;
  for (std::size_t at = 0; (at = log.find(start, at)) != std::string::npos; at += start.size()) {
    if (at == 0 || log.compare(at - 2, 2, "\r\n") == 0) ++count;
  }
  return count;
}

// Records 4 to 9 of a run over window_plain.json; the reports of tests 1 to 3
// belong to the network and drive code and are compared through a session.
const std::string kRunTail = Record("4.\tFalse") + Record("5.\tTrue") + Record("6.\tFalse") +
                             Record("7.\tTrue") + Record("8.\ta) Native machine detected.\r\n") +
                             Record(std::string(90, '#'));

// What the widget shows after a run: ten lines.
QString Progress(int pass) {
  QString text = QStringLiteral("SOUBOR TESTŮ: %1\n").arg(pass);
  for (int n = 1; n <= 8; ++n) text += QStringLiteral("Start testu č.%1\nKonec testu č.%1\n").arg(n);
  return text;
}

// The log of the given start-button clicks run by a bare session over the
// same snapshot, in a directory of its own.
std::string SessionLog(const std::string& fixture, std::vector<int16_t> clicks) {
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  QDir::setCurrent(dir.path());
  Platform platform = MakeReplayPlatform(ReadSnapshotFile(fixture));
  MemoryTextBox box;
  Session session(platform, box);
  try {
    for (int16_t index : clicks) session.Command1_Click(index);
  } catch (const Error&) {
  }
  std::string log = ReadLog();
  QDir::setCurrent(previous);
  return log;
}

// Watches for a message box while the code under test runs, notes its text
// and closes it.
class MessageBoxCloser {
 public:
  MessageBoxCloser() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts_.push_back(box->text());
        box->close();
      }
    });
    timer_.start();
  }
  const QStringList& texts() const { return texts_; }

 private:
  QTimer timer_;
  QStringList texts_;
};

// A log file that runs `during` before each record is written: lets a test
// act while a run is in progress.
class SpyLog : public LogFile {
 public:
  SpyLog(std::unique_ptr<LogFile> inner, std::function<void()> during)
      : inner_(std::move(inner)), during_(std::move(during)) {}
  void Append(std::string_view bytes) override {
    during_();
    inner_->Append(bytes);
  }

 private:
  std::unique_ptr<LogFile> inner_;
  std::function<void()> during_;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    previous_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QDir::setCurrent(dir_->path());
  }
  void cleanup() {
    QDir::setCurrent(previous_);
    dir_.reset();
  }

  void layoutFollowsTheTwipGeometry() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("hostprobe"));
    // The default font fits the form as drawn: the screen's DPI, unchanged.
    QCOMPARE(w.LayoutDpiX(), w.logicalDpiX());
    QCOMPARE(w.LayoutDpiY(), w.logicalDpiY());
    const int dx = w.logicalDpiX(), dy = w.logicalDpiY();
    auto px = [](int twips, int dpi) { return TwipsToPixels(twips, dpi); };
    QCOMPARE(w.size(), QSize(px(6855, dx), px(4635, dy)));
    QCOMPARE(w.Txt()->geometry(), QRect(0, 0, px(6855, dx), px(3975, dy)));
    struct {
      QPushButton* button;
      const char* caption;
      int left, width;
    } buttons[] = {{w.Command1(0), "START TESTU 1/2", 120, 1695},
                   {w.Command1(1), "START TESTU 2/2", 2040, 1695},
                   {w.Test(), "TEST", 3840, 975},
                   {w.Command2(), "Konec", 4920, 1815}};
    for (const auto& b : buttons) {
      QCOMPARE(b.button->text(), QString::fromUtf8(b.caption));
      QCOMPARE(b.button->geometry(),
               QRect(px(b.left, dx), px(4080, dy), px(b.left + b.width, dx) - px(b.left, dx),
                     px(4080 + 375, dy) - px(4080, dy)));
    }
    // Tab order: Txt, Command1(0), Command1(1), Command2, Test, and round.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.Txt());
    QWidget* expected[] = {w.Command1(0), w.Command1(1), w.Command2(), w.Test(), w.Txt()};
    for (QWidget* next : expected) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
  }

  // A larger font grows the whole form in proportion: every caption fits its
  // button, and every control keeps its twip rectangle at the raised DPI.
  void layoutGrowsWithTheFont_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("18 pt") << 18;
    QTest::newRow("30 pt") << 30;
  }
  void layoutGrowsWithTheFont() {
    QFETCH(int, points);
    struct RestoreFont {
      QFont font = QApplication::font();
      ~RestoreFont() { QApplication::setFont(font); }
    } restore;
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), points));
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    const int dx = w.LayoutDpiX(), dy = w.LayoutDpiY();
    QVERIFY(dx >= w.logicalDpiX() && dy >= w.logicalDpiY());
    if (points >= 18) QVERIFY(dx > w.logicalDpiX());
    // The same scale across and down (to the DPI's rounding).
    QVERIFY2(std::abs(dx * w.logicalDpiY() - dy * w.logicalDpiX()) <= w.logicalDpiX(),
             qPrintable(QStringLiteral("%1 / %2").arg(dx).arg(dy)));
    auto px = [](int twips, int dpi) { return TwipsToPixels(twips, dpi); };
    QCOMPARE(w.size(), QSize(px(6855, dx), px(4635, dy)));
    QCOMPARE(w.Txt()->geometry(), QRect(0, 0, px(6855, dx), px(3975, dy)));
    struct {
      QPushButton* button;
      int left, width;
    } buttons[] = {{w.Command1(0), 120, 1695}, {w.Command1(1), 2040, 1695}, {w.Test(), 3840, 975},
                   {w.Command2(), 4920, 1815}};
    for (const auto& b : buttons) {
      QCOMPARE(b.button->geometry(),
               QRect(px(b.left, dx), px(4080, dy), px(b.left + b.width, dx) - px(b.left, dx),
                     px(4080 + 375, dy) - px(4080, dy)));
      const QFontMetrics metrics(b.button->font());
      QCOMPARE(b.button->font().pointSize(), points);
      // Room for the caption and the button's frame on both sides.
      QVERIFY2(metrics.horizontalAdvance(b.button->text()) + 8 <= b.button->width(),
               qPrintable(b.button->text()));
      QVERIFY2(metrics.height() + 4 <= b.button->height(), qPrintable(b.button->text()));
    }
  }

  void windowHasItsIcon() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    QVERIFY(!w.windowIcon().isNull());
    const QList<QSize> sizes = w.windowIcon().availableSizes();
    for (int n : {16, 32, 48, 256}) QVERIFY2(sizes.contains(QSize(n, n)), qPrintable(QString::number(n)));
  }

  void startButtonsRunTheEightTests_data() {
    QTest::addColumn<int>("index");
    QTest::newRow("START TESTU 1/2") << 0;
    QTest::newRow("START TESTU 2/2") << 1;
  }
  void startButtonsRunTheEightTests() {
    QFETCH(int, index);
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    w.Txt()->setPlainText("left over");
    QTest::mouseClick(w.Command1(index), Qt::LeftButton);
    QCOMPARE(w.Txt()->toPlainText(), Progress(index + 1));
    const std::string log = ReadLog();
    QCOMPARE(CountRecords(log), 9);
    QVERIFY(log.size() > kRunTail.size());
    QCOMPARE(log.substr(log.size() - kRunTail.size()), kRunTail);
    QCOMPARE(log, SessionLog(Fixture("window_plain.json"), {static_cast<int16_t>(index)}));
    QVERIFY(w.isVisible());
  }

  void testButtonShowsOnlyItsLine() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    QTest::mouseClick(w.Command1(0), Qt::LeftButton);
    const std::string log = ReadLog();
    QTest::mouseClick(w.Test(), Qt::LeftButton);
    QCOMPARE(w.Txt()->toPlainText(), QStringLiteral("Test Vmware : False\n"));
    QCOMPARE(ReadLog(), log);  // nothing logged
  }

  void twoRunsReplaceTheTextAndAppendToTheLog() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    QTest::mouseClick(w.Command1(0), Qt::LeftButton);
    QTest::mouseClick(w.Command1(1), Qt::LeftButton);
    QCOMPARE(w.Txt()->toPlainText(), Progress(2));
    const std::string log = ReadLog();
    QCOMPARE(CountRecords(log), 18);
    QCOMPARE(log, SessionLog(Fixture("window_plain.json"), {0, 1}));
  }

  void enterRunsTheDefaultOrFocusedButton() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    w.show();
    w.activateWindow();
    w.Txt()->setFocus();
    QTest::keyClick(w.Txt(), Qt::Key_Return);
    QCOMPARE(w.Txt()->toPlainText(), Progress(1));
    // On another button Enter clicks that one, as a focused button does.
    w.Command1(1)->setFocus();
    QTest::keyClick(w.Command1(1), Qt::Key_Enter);
    QCOMPARE(w.Txt()->toPlainText(), Progress(2));
    w.Test()->setFocus();
    QTest::keyClick(w.Test(), Qt::Key_Return);
    QCOMPARE(w.Txt()->toPlainText(), QStringLiteral("Test Vmware : False\n"));
    QCOMPARE(CountRecords(ReadLog()), 18);
    QVERIFY(w.isVisible());
  }

  void escapeKonecAndClosingEndTheWindow_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("Esc on Txt") << 0;
    QTest::newRow("Esc on TEST") << 1;
    QTest::newRow("Konec") << 2;
    QTest::newRow("close") << 3;
  }
  void escapeKonecAndClosingEndTheWindow() {
    QFETCH(int, how);
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest w(platform);
    QTimer::singleShot(0, &w, [&] {
      switch (how) {
        case 0: QTest::keyClick(w.Txt(), Qt::Key_Escape); break;
        case 1: w.Test()->setFocus(); QTest::keyClick(w.Test(), Qt::Key_Escape); break;
        case 2: QTest::mouseClick(w.Command2(), Qt::LeftButton); break;
        default: w.close(); break;
      }
    });
    QCOMPARE(w.exec(), 0);
    QVERIFY(!w.isVisible());
    QCOMPARE(ReadLog(), std::string());  // nothing logged
  }

  // The run does not process events: a click made during it waits, and is
  // handled after the run, in order.
  void clicksDuringARunAreHandledAfterIt() {
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_plain.json")));
    FrmTest* window = nullptr;
    int records = 0;
    QStringList seen;
    platform.log = std::make_unique<SpyLog>(std::move(platform.log), [&] {
      if (++records == 1) {
        // Mouse press and release on TEST, then on START TESTU 2/2.
        for (QPushButton* b : {window->Test(), window->Command1(1)}) {
          const QPoint at = b->rect().center();
          for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QCoreApplication::postEvent(
                b, new QMouseEvent(type, at, b->mapToGlobal(at), Qt::LeftButton,
                                   type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                   Qt::NoModifier));
          }
        }
      }
      seen << window->Txt()->toPlainText().section('\n', 0, 0);
    });
    FrmTest w(platform);
    window = &w;
    w.show();
    QTest::mouseClick(w.Command1(0), Qt::LeftButton);
    // The whole first run saw only its own header.
    QCOMPARE(seen, QStringList(9, QStringLiteral("SOUBOR TESTŮ: 1")));
    QCoreApplication::processEvents();
    QCOMPARE(w.Txt()->toPlainText(), Progress(2));
    QCOMPARE(records, 18);
    QCOMPARE(seen.mid(9), QStringList(9, QStringLiteral("SOUBOR TESTŮ: 2")));
  }

  // An error ends the run where it happens: the message box names it, the
  // window ends with 1, and the records written so far stay.
  void errorShowsTheMessageBoxAndEndsWithOne() {
    std::string expected;
    {
      QTemporaryDir elsewhere;
      QDir::setCurrent(elsewhere.path());
      try {
        Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("window_no_probes.json")));
        MemoryTextBox box;
        Session(platform, box).Command1_Click(0);
      } catch (const Error& e) {
        expected = e.what();
      }
      QDir::setCurrent(dir_->path());
    }
    QVERIFY(!expected.empty());
    QVERIFY(expected.rfind(ErrorKindName(ErrorKind::kProbeLibrary), 0) == 0);

    MessageBoxCloser closer;
    QTimer::singleShot(0, [] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* w = dynamic_cast<FrmTest*>(top); w && w->isVisible()) {
          QTest::mouseClick(w->Command1(0), Qt::LeftButton);
        }
      }
    });
    QCOMPARE(RunWindow({"--replay", Fixture("window_no_probes.json")}), 1);
    QCOMPARE(closer.texts(), QStringList{QString::fromStdString(expected)});
    const std::string log = ReadLog();
    QCOMPARE(CountRecords(log), 3);
    QCOMPARE(log, SessionLog(Fixture("window_no_probes.json"), {0}));
  }

  // hostprobe without options: the window program where a display is set,
  // the console where none is.
  void hostprobeStartsTheWindowOnlyWithADisplay() {
    const QString fixture = QString::fromStdString(Fixture("window_plain.json"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    QProcess console;
    console.setProcessEnvironment(env);
    console.start(HOSTPROBE_EXE, {"--replay", fixture});
    console.write("k\n");
    console.closeWriteChannel();
    QVERIFY(console.waitForFinished(10000));
    QCOMPARE(console.exitCode(), 0);
    QCOMPARE(ReadLog(), std::string());  // Konec before any run

    // A display that is set but does not answer: the console again.
    const int number = 4000 + static_cast<int>(QCoreApplication::applicationPid() % 1000);
    env.insert("DISPLAY", QStringLiteral(":%1").arg(number));
    QProcess stale;
    stale.setProcessEnvironment(env);
    stale.start(HOSTPROBE_EXE, {"--replay", fixture});
    stale.write("k\n");
    stale.closeWriteChannel();
    QVERIFY(stale.waitForFinished(10000));
    QCOMPARE(stale.exitCode(), 0);

    // A display that answers: a listening socket where an X server's would be.
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
    std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract namespace
    QCOMPARE(::bind(listener, reinterpret_cast<const sockaddr*>(&address),
                    static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
             0);
    QCOMPARE(::listen(listener, 16), 0);

    // ... that takes connections and closes them, as a forwarding left by ssh
    // -X without an X server behind it does: the window program cannot start
    // there, and hostprobe gives the console instead.
    std::atomic<bool> closing{true};
    std::thread closer([&] {
      while (closing) {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 20) == 1) {
          const int c = ::accept(listener, nullptr, nullptr);
          if (c >= 0) ::close(c);
        }
      }
    });
    env.insert("QT_QPA_PLATFORM", "xcb");
    QProcess broken;
    broken.setProcessEnvironment(env);
    broken.start(HOSTPROBE_EXE, {"--replay", fixture});
    broken.write("t\nk\n");
    broken.closeWriteChannel();
    const bool ended = broken.waitForFinished(20000);
    closing = false;
    closer.join();
    QVERIFY(ended);
    QCOMPARE(broken.exitCode(), 0);
    QCOMPARE(broken.readAllStandardOutput().toStdString(),
             "hostprobe: 1 or Enter = START TESTU 1/2, 2 = START TESTU 2/2, t = TEST, k, q or Esc = Konec\n"
             "Test Vmware : False\n");

    // A display that works: the window runs as hostprobe's child, over the
    // same snapshot, and goes when hostprobe goes.
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(HOSTPROBE_EXE, {"--replay", fixture});
    QVERIFY(window.waitForStarted());
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(window.processId());
    QByteArray seen;
    QByteArray child;
    for (int i = 0; i < 500 && !seen.contains("hostprobe-window"); ++i) {
      QTest::qWait(20);
      QFile list(children);
      if (list.open(QIODevice::ReadOnly)) child = list.readAll().trimmed();
      if (child.isEmpty()) continue;
      QFile f(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(child.split(' ')[0])));
      if (f.open(QIODevice::ReadOnly)) seen = f.readAll();
    }
    window.kill();
    window.waitForFinished();
    ::close(listener);
    QCOMPARE(seen.split('\0').mid(1, 2), QList<QByteArray>({"--replay", fixture.toUtf8()}));
    QVERIFY2(seen.split('\0')[0].endsWith("/hostprobe-window"), seen.constData());
    const QString child_proc = QStringLiteral("/proc/%1").arg(QString::fromLatin1(child.split(' ')[0]));
    for (int i = 0; i < 250 && QFile::exists(child_proc + "/exe"); ++i) QTest::qWait(20);
    QVERIFY2(!QFile::exists(child_proc + "/exe"), "the window outlived hostprobe");
  }

  void badSnapshotShowsTheMessageBoxAndEndsWithTwo() {
    MessageBoxCloser closer;
    QCOMPARE(RunWindow({"--replay", "missing.json"}), 2);
    QCOMPARE(closer.texts().size(), 1);
    QVERIFY2(closer.texts()[0].contains("missing.json"), qPrintable(closer.texts()[0]));
    QCOMPARE(RunWindow({"--pass", "1"}), 2);
  }

 private:
  QString previous_;
  std::unique_ptr<QTemporaryDir> dir_;
};

}  // namespace hostprobe

QTEST_MAIN(hostprobe::WindowTest)
#include "window_test.moc"
