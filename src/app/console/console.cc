#include "app/console/console.h"

#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>

#include "platform/error.h"

namespace hostprobe {
namespace {

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

enum class Action { kStart1, kStart2, kTest, kEnd, kNone };

Action ActionOf(char key) {
  switch (key) {
    case '1':
    case '\r':
    case '\n': return Action::kStart1;
    case '2': return Action::kStart2;
    case 't':
    case 'T': return Action::kTest;
    case 'k':
    case 'K':
    case 'q':
    case 'Q':
    case '\x1b':
    case '\x04':  // Ctrl-D: end of input on a terminal read key by key
      return Action::kEnd;
    default: return Action::kNone;
  }
}

}  // namespace

void ConsoleTextBox::SetText(const std::string& text) {
  if (text.compare(0, text_.size(), text_) == 0) {
    out_ << WithoutCarriageReturns(text.substr(text_.size()));
  } else {
    out_ << WithoutCarriageReturns(text);
  }
  out_.flush();
  text_ = text;
}

void RunConsole(Session& session, std::istream& in, std::ostream& out, bool terminal) {
  out << "hostprobe: 1 or Enter = START TESTU 1/2, 2 = START TESTU 2/2, t = TEST, "
         "k, q or Esc = Konec\n";
  out.flush();
  while (true) {
    char key;
    errno = 0;
    if (terminal) {
      if (!in.get(key)) break;
      // A cursor or function key arrives as Esc and more bytes in one read:
      // drop the sequence instead of taking its Esc for Konec.
      if (key == '\x1b' && in.rdbuf()->in_avail() > 0) {
        while (in.rdbuf()->in_avail() > 0) in.get();
        continue;
      }
    } else {
      std::string line;
      if (!std::getline(in, line)) break;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      key = line.empty() ? '\n' : line[0];
    }
    switch (ActionOf(key)) {
      case Action::kStart1: session.Command1_Click(0); break;
      case Action::kStart2: session.Command1_Click(1); break;
      case Action::kTest: session.Test_Click(); break;
      case Action::kEnd: session.Command2_Click(); return;
      case Action::kNone: break;
    }
  }
  // End of input ends like Konec; input that cannot be read at all (a
  // directory, a terminal that went away) is an error, not a quiet end.
  if (in.bad()) {
    const int err = errno;
    throw Error(ErrorKind::kFile, std::string("cannot read standard input") +
                                      (err != 0 ? std::string(": ") + std::strerror(err) : std::string()));
  }
  session.Command2_Click();
}

}  // namespace hostprobe
