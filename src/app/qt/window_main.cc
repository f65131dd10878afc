// hostprobe-window: the Qt window, started by hostprobe when a display is
// available. Kept apart so that the command line never loads Qt.
#include <QApplication>
#include <QIcon>
#include <string>
#include <vector>

#include "app/qt/window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  QApplication::setDesktopFileName("hostprobe");
  QApplication::setWindowIcon(QIcon::fromTheme("hostprobe"));
  const std::vector<std::string> args(argv + 1, argv + argc);
  return hostprobe::RunWindow(args);
}
