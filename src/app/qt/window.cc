#include "app/qt/window.h"

#include <QFontMetrics>
#include <QIcon>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <new>

#include "platform/error.h"
#include "app/form_layout.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"

namespace hostprobe {
namespace {

constexpr int kClientWidth = kFormClientWidth;
constexpr int kClientHeight = kFormClientHeight;
constexpr TwipRect kTxt = kFormTxt;
constexpr TwipRect kCommand1[2] = {kFormStart1, kFormStart2};
constexpr TwipRect kCommand2 = kFormKonec;
constexpr TwipRect kTest = kFormTest;

constexpr const char* kTitle = "hostprobe";

// The text box on a QPlainTextEdit. The session's text is UTF-8 with CR LF;
// the widget holds lines, so CR LF becomes a line break and back.
class QtTextBox : public TextBox {
 public:
  explicit QtTextBox(QPlainTextEdit& edit) : edit_(edit) {}

  std::string Text() const override {
    QString text = edit_.toPlainText();
    text.replace(QChar('\n'), QStringLiteral("\r\n"));
    return text.toUtf8().toStdString();
  }

  void SetText(const std::string& text) override {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    edit_.setPlainText(shown);
    // Paint now: the run does not return to the event loop until it ends.
    edit_.viewport()->repaint();
  }

 private:
  QPlainTextEdit& edit_;
};

void Place(QWidget* widget, const TwipRect& r, int dpi_x, int dpi_y) {
  // Edges are converted, not sizes, so neighbours stay exactly as far apart.
  const int left = TwipsToPixels(r.left, dpi_x);
  const int top = TwipsToPixels(r.top, dpi_y);
  widget->setGeometry(left, top, TwipsToPixels(r.left + r.width, dpi_x) - left,
                      TwipsToPixels(r.top + r.height, dpi_y) - top);
}

// The smallest DPI at or above `dpi` at which the twip rectangle `r` holds
// `needed` pixels across (`across`) or down.
int DpiToHold(const TwipRect& r, int needed, int dpi, bool across) {
  const int twips = across ? r.width : r.height;
  const int edge = across ? r.left : r.top;
  while (TwipsToPixels(edge + twips, dpi) - TwipsToPixels(edge, dpi) < needed) ++dpi;
  return dpi;
}

// The size a button needs to show its caption unclipped: the caption, half
// an average character on either side, and the style's frame around it.
QSize CaptionRoom(QPushButton& button) {
  button.ensurePolished();
  const QFontMetrics metrics(button.font());
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  option.rect = QRect(0, 0, 1000, 1000);
  const QRect contents = button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
  return QSize(metrics.horizontalAdvance(button.text()) + metrics.averageCharWidth() +
                   (option.rect.width() - contents.width()),
               metrics.height() + (option.rect.height() - contents.height()));
}

void ShowError(QWidget* parent, const std::string& text) {
  QMessageBox::critical(parent, kTitle, QString::fromUtf8(text.c_str()));
}

}  // namespace

FrmTest::FrmTest(Platform& platform, QWidget* parent) : QDialog(parent) {
  setWindowTitle(kTitle);
  setWindowIcon(WindowIcon());
  // A plain top-level window: no "?" button, but minimize like any window.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  // Created in tab order: Txt, Command1(0), Command1(1), Command2, Test.
  txt_ = new QPlainTextEdit(this);
  txt_->setObjectName("Txt");
  txt_->setReadOnly(true);
  txt_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  txt_->setFocusPolicy(Qt::StrongFocus);
  txt_->setTabChangesFocus(true);
  command1_[0] = new QPushButton(QStringLiteral("START TESTU 1/2"), this);
  command1_[0]->setObjectName("Command1_0");
  command1_[1] = new QPushButton(QStringLiteral("START TESTU 2/2"), this);
  command1_[1]->setObjectName("Command1_1");
  command2_ = new QPushButton(QStringLiteral("Konec"), this);
  command2_->setObjectName("Command2");
  test_ = new QPushButton(QStringLiteral("TEST"), this);
  test_->setObjectName("Test");
  setTabOrder(txt_, command1_[0]);
  setTabOrder(command1_[0], command1_[1]);
  setTabOrder(command1_[1], command2_);
  setTabOrder(command2_, test_);
  // Enter clicks START TESTU 1/2 (or the button that has the focus); Esc
  // rejects the dialog, which is Konec.
  command1_[0]->setDefault(true);

  // The twips are converted at the screen's DPI, or at a higher one where the
  // font needs it: the whole form grows in proportion until every button
  // holds its caption (a large font on an ordinary screen).
  int dpi_x = logicalDpiX();
  int dpi_y = logicalDpiY();
  struct {
    QPushButton* button;
    TwipRect rect;
  } const buttons[] = {{command1_[0], kCommand1[0]}, {command1_[1], kCommand1[1]},
                       {command2_, kCommand2}, {test_, kTest}};
  for (const auto& b : buttons) {
    const QSize needed = CaptionRoom(*b.button);
    dpi_x = DpiToHold(b.rect, needed.width(), dpi_x, true);
    dpi_y = DpiToHold(b.rect, needed.height(), dpi_y, false);
  }
  // One scale for both directions keeps the form's proportions.
  const double grow = std::max(double(dpi_x) / logicalDpiX(), double(dpi_y) / logicalDpiY());
  layout_dpi_x_ = std::max(dpi_x, static_cast<int>(std::ceil(logicalDpiX() * grow)));
  layout_dpi_y_ = std::max(dpi_y, static_cast<int>(std::ceil(logicalDpiY() * grow)));
  dpi_x = layout_dpi_x_;
  dpi_y = layout_dpi_y_;
  setFixedSize(TwipsToPixels(kClientWidth, dpi_x), TwipsToPixels(kClientHeight, dpi_y));
  Place(txt_, kTxt, dpi_x, dpi_y);
  Place(command1_[0], kCommand1[0], dpi_x, dpi_y);
  Place(command1_[1], kCommand1[1], dpi_x, dpi_y);
  Place(command2_, kCommand2, dpi_x, dpi_y);
  Place(test_, kTest, dpi_x, dpi_y);

  text_box_ = std::make_unique<QtTextBox>(*txt_);
  session_ = std::make_unique<Session>(platform, *text_box_);

  for (int16_t index : {int16_t{0}, int16_t{1}}) {
    connect(command1_[index], &QPushButton::clicked, this,
            [this, index] { Handle([this, index] { session_->Command1_Click(index); }); });
  }
  connect(test_, &QPushButton::clicked, this, [this] { Handle([this] { session_->Test_Click(); }); });
  connect(command2_, &QPushButton::clicked, this, [this] {
    session_->Command2_Click();
    reject();
  });
  txt_->setFocus();
}

FrmTest::~FrmTest() = default;

QIcon WindowIcon() {
  // The bitmaps rendered from docs/hostprobe.svg, built in: the window has
  // its icon whatever icon theme is installed.
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/hostprobe/icons/hostprobe-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

template <typename Handler>
void FrmTest::Handle(Handler handler) {
  // A click queued behind a run that ended in an error finds the window gone.
  if (!isVisible()) return;
  std::string message;
  try {
    handler();
    return;
  } catch (const Error& e) {
    message = e.what();
  } catch (const std::bad_alloc&) {
    message = "out of memory";
  }
  ShowError(this, message);
  done(1);
}

int RunWindow(const std::vector<std::string>& args, const std::function<void()>& on_shown) {
  std::optional<std::string> replay;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--replay" && i + 1 < args.size() && !replay) {
      replay = args[++i];
    } else if (args[i].rfind("--replay=", 0) == 0 && !replay) {
      replay = args[i].substr(9);
    } else {
      std::cerr << "hostprobe-window: unknown argument \"" << args[i]
                << "\"\nUsage: hostprobe-window [--replay FILE]\n";
      return 2;
    }
  }
  Platform platform;
  try {
    platform = OpenPlatform(replay);
  } catch (const Error& e) {
    ShowError(nullptr, e.what());
    return e.kind() == ErrorKind::kSnapshot ? 2 : 1;
  }
  FrmTest window(platform);
  if (on_shown) QTimer::singleShot(0, &window, on_shown);
  return window.exec();
}

}  // namespace hostprobe
