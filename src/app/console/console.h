// The console front end: a text box that prints what is added to it, and the
// interactive key loop.
#pragma once

#include <iosfwd>
#include <string>

#include "session/session.h"
#include "session/text_box.h"

namespace hostprobe {

// Prints each addition to the text as it is made (CR LF shown as a line
// end); a text that replaces everything is printed whole.
class ConsoleTextBox : public TextBox {
 public:
  explicit ConsoleTextBox(std::ostream& out) : out_(out) {}
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override;

 private:
  std::ostream& out_;
  std::string text_;
};

// The interactive console: reads keys from `in` until Konec or end of input.
// On a terminal every key counts ("1", Enter, "2", "t", "k", "q", Esc); from a
// pipe every line counts by its first character, an empty line being Enter.
// Errors propagate to the caller.
void RunConsole(Session& session, std::istream& in, std::ostream& out, bool terminal);

}  // namespace hostprobe
