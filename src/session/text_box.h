// The window's multi-line text box as the session sees it. Text is UTF-8 with
// CR LF line ends; each front end shows it in its own way.
#pragma once

#include <string>

namespace hostprobe {

class TextBox {
 public:
  virtual ~TextBox() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

// A text box that only holds its text (tests, front ends without a screen).
class MemoryTextBox : public TextBox {
 public:
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }

 private:
  std::string text_;
};

}  // namespace hostprobe
