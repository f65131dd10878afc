// The Linux window frmTest: the multi-line text box Txt and the four buttons
// of the tool, laid out from twips through the screen's logical DPI (raised
// in proportion where the font needs more room). Every
// click runs on the window's thread; a run does not process events, so clicks
// made meanwhile are handled after it, in order.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "app/form_layout.h"
#include "session/session.h"
#include "session/text_box.h"
#include "platform/platform.h"

class QIcon;
class QPlainTextEdit;
class QPushButton;

namespace hostprobe {

class FrmTest : public QDialog {
 public:
  // `platform` must outlive the window.
  explicit FrmTest(Platform& platform, QWidget* parent = nullptr);
  ~FrmTest() override;

  // The controls, by their designer names.
  QPlainTextEdit* Txt() const { return txt_; }
  QPushButton* Command1(int index) const { return command1_[index]; }
  QPushButton* Test() const { return test_; }
  QPushButton* Command2() const { return command2_; }

  // The DPI the twips are converted at: the screen's, raised in proportion
  // where the font needs larger buttons.
  int LayoutDpiX() const { return layout_dpi_x_; }
  int LayoutDpiY() const { return layout_dpi_y_; }

 private:
  // Runs one click handler; an error shows a message box naming it and ends
  // the window with result 1.
  template <typename Handler>
  void Handle(Handler handler);

  QPlainTextEdit* txt_;
  QPushButton* command1_[2];
  QPushButton* test_;
  QPushButton* command2_;
  int layout_dpi_x_ = 0;
  int layout_dpi_y_ = 0;
  std::unique_ptr<TextBox> text_box_;
  std::unique_ptr<Session> session_;
};

// The window's icon, the one of the desktop entry (built into the program).
QIcon WindowIcon();

// The window program: parses `args` (without the program name: nothing, or
// --replay FILE), opens the platform and runs the window until it ends.
// Returns the exit code: 0 ended by Konec, Esc or closing; 1 an error; 2 bad
// usage or a bad snapshot. A QApplication must exist.
// `on_shown`, when set, is called once the window is up and its events run.
int RunWindow(const std::vector<std::string>& args, const std::function<void()>& on_shown = {});

}  // namespace hostprobe
