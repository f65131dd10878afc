// hostprobe-window: the Qt window, started by hostprobe when a display is
// available. Kept apart so that the command line never loads Qt.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/qt/window.h"
#include "app/window_program.h"

namespace {

bool g_shown = false;
QtMessageHandler g_default_handler = nullptr;
QString g_display_problem;

// Until the window is up, a display that does not work is hostprobe's
// business, not the user's: Qt's platform messages are held back, and its
// fatal "no display" ends this program with the code that makes hostprobe
// start the console instead.
void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (!g_shown) {
    const bool platform = context.category && std::strncmp(context.category, "qt.qpa", 6) == 0;
    if (type == QtFatalMsg) {
      const QString why = g_display_problem.isEmpty() ? message : g_display_problem;
      std::fprintf(stderr, "hostprobe: the display cannot be used (%s); using the console\n",
                   why.toLocal8Bit().constData());
      std::fflush(stderr);
      ::_exit(hostprobe::kWindowNoDisplayExit);
    }
    if (platform) {
      if (g_display_problem.isEmpty()) g_display_problem = message;
      return;
    }
  }
  g_default_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  // As in hostprobe: a full log or a file-size limit is a write error shown
  // in the window, not a silent end.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  int shown_fd = -1;
  if (const char* fd = std::getenv(hostprobe::kWindowShownFdVariable)) {
    if (const std::optional<int> parsed = hostprobe::ParseShownFd(fd)) {
      shown_fd = *parsed;
    } else {
      std::fprintf(stderr, "hostprobe-window: %s is not a descriptor: ignored\n", hostprobe::kWindowShownFdVariable);
    }
    ::unsetenv(hostprobe::kWindowShownFdVariable);
  }
  g_default_handler = qInstallMessageHandler(OnQtMessage);
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setDesktopFileName("hostprobe");
  QApplication::setWindowIcon(hostprobe::WindowIcon());
  const std::vector<std::string> args(argv + 1, argv + argc);
  return hostprobe::RunWindow(args, [shown_fd] {
    g_shown = true;
    if (shown_fd >= 0) {
      const char byte = 1;
      if (::write(shown_fd, &byte, 1) != 1) {
        // hostprobe has gone or closed its end: nobody waits for the byte.
      }
      ::close(shown_fd);
    }
  });
}
