// The session behind the window: the three click handlers and the fixed run
// of eight tests. Every front end drives one Session over its own text box.
#pragma once

#include <cstdint>
#include <string>

#include "session/log_writer.h"
#include "session/text_box.h"
#include "platform/platform.h"
#include "vmdetect/probe_library.h"

namespace hostprobe {

class Session {
 public:
  // `platform` and `text_box` must outlive the session.
  Session(Platform& platform, TextBox& text_box);

  // A start button (Index 0 or 1): the eight tests and the separator record.
  // Throws Error when a test fails; records already written stay.
  void Command1_Click(int16_t index);

  // The Test button: the text box becomes "Test Vmware : True" or "... False".
  void Test_Click();

  // Konec: nothing to do in the session; the front end ends the program.
  void Command2_Click() {}

 private:
  void Append(const std::string& text);
  std::string RunTest(int n);

  Platform& platform_;
  TextBox& text_box_;
  LogWriter log_;
  ProbeLibrary probes_;
};

// Upper-cases ASCII and Latin letters (Latin-1 and Latin Extended-A) of UTF-8
// text; everything else is copied unchanged.
std::string ToUpperUtf8(const std::string& text);

}  // namespace hostprobe
