#include "app/cli.h"

#include <iostream>

#include "app/console/console.h"
#include "app/machine.h"
#include "session/session.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/replace_file.h"
#include "platform/snapshot/snapshot.h"
#include "usage_text.h"  // generated from docs/hostprobe.1.txt

#ifndef HOSTPROBE_VERSION
#define HOSTPROBE_VERSION "0.0.0"
#endif

namespace hostprobe {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

struct Options {
  enum class Mode { kDefault, kPass, kTest, kConsole, kCapture, kVirt, kHelp, kVersion } mode = Mode::kDefault;
  int pass = 0;
  std::string capture;
  std::optional<std::string> replay;
};

struct UsageError {
  std::string message;
};

Options Parse(const std::vector<std::string>& args) {
  Options o;
  // --help and --version win over any other action, but every argument is
  // still checked: a mistyped option is not hidden behind them.
  std::optional<Options::Mode> info;
  auto set_mode = [&](Options::Mode mode, const std::string& name) {
    if (o.mode != Options::Mode::kDefault && o.mode != mode) {
      throw UsageError{name + " cannot be combined with another action"};
    }
    if (o.mode == mode) throw UsageError{name + " given twice"};
    o.mode = mode;
  };
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_ended) throw UsageError{"unexpected argument \"" + ShownName(args[i]) + "\""};
    if (arg == "--") {
      options_ended = true;  // no operands follow in any mode
      continue;
    }
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      inline_value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
      return args[++i];
    };
    auto no_value = [&] {
      if (inline_value) throw UsageError{arg + " takes no value"};
    };
    if (arg == "--pass") {
      set_mode(Options::Mode::kPass, arg);
      const std::string v = value();
      if (v != "1" && v != "2") throw UsageError{"--pass takes 1 or 2, not \"" + ShownName(v) + "\""};
      o.pass = v[0] - '0';
    } else if (arg == "--test") {
      no_value();
      set_mode(Options::Mode::kTest, arg);
    } else if (arg == "--console") {
      no_value();
      set_mode(Options::Mode::kConsole, arg);
    } else if (arg == "--capture") {
      set_mode(Options::Mode::kCapture, arg);
      o.capture = value();
      if (o.capture.empty()) throw UsageError{"--capture needs a file name"};
    } else if (arg == "--virt") {
      no_value();
      set_mode(Options::Mode::kVirt, arg);
    } else if (arg == "--replay") {
      if (o.replay) throw UsageError{"--replay given twice"};
      o.replay = value();
      if (o.replay->empty()) throw UsageError{"--replay needs a file name"};
    } else if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "/?") {  // /? as on Windows
      no_value();
      info = Options::Mode::kHelp;
    } else if (arg == "--version") {
      no_value();
      if (!info) info = Options::Mode::kVersion;
    } else {
      throw UsageError{"unknown argument \"" + ShownName(args[i]) + "\""};
    }
  }
  if (o.mode == Options::Mode::kVirt && o.replay) {
    throw UsageError{"--virt reads this machine and cannot be combined with --replay"};
  }
  if (info) o.mode = *info;
  return o;
}

int Capture(Platform& platform, const std::string& file, std::ostream& out, std::ostream& err) {
  const std::string text = CaptureMachine(platform);
  if (file == "-") {
    out << text;
    return kExitOk;
  }
  if (const auto reason = ReplaceWholeFile(file, text)) {
    err << "hostprobe: error: cannot write the snapshot " << ShownName(file) << ": " << *reason << "\n";
    return kExitError;
  }
  return kExitOk;
}

}  // namespace

std::string UsageText() { return kUsageText; }

namespace {

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        const CliHooks& hooks) {
  Options o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    err << "hostprobe: " << e.message << "\nTry 'hostprobe --help' for more information.\n";
    return kExitUsage;
  }
  if (o.mode == Options::Mode::kHelp) {
    out << UsageText();
    return kExitOk;
  }
  if (o.mode == Options::Mode::kVersion) {
    out << "hostprobe " << HOSTPROBE_VERSION << "\n";
    return kExitOk;
  }
  if (o.mode == Options::Mode::kVirt) {
    const VirtNames names = DetectVirt();
    out << "hypervisor: " << names.hypervisor << "\ncontainer: " << names.container << "\n";
    return kExitOk;
  }
  if (o.mode == Options::Mode::kDefault && hooks.open_window) {
    if (auto code = hooks.open_window(o.replay)) return *code;
  }
  try {
    Platform platform = OpenPlatform(o.replay);
    if (o.mode == Options::Mode::kCapture) return Capture(platform, o.capture, out, err);
    ConsoleTextBox text_box(out);
    Session session(platform, text_box);
    switch (o.mode) {
      case Options::Mode::kPass: session.Command1_Click(static_cast<int16_t>(o.pass - 1)); break;
      case Options::Mode::kTest: session.Test_Click(); break;
      default: {
        const std::shared_ptr<void> key_mode = hooks.enter_key_mode ? hooks.enter_key_mode() : nullptr;
        RunConsole(session, in, out, key_mode != nullptr);
        break;
      }
    }
    return kExitOk;
  } catch (const Error& e) {
    // A bad snapshot is bad usage: nothing ran, and its message says which
    // file and where.
    if (e.kind() == ErrorKind::kSnapshot) {
      err << "hostprobe: " << e.what() << "\n";
      return kExitUsage;
    }
    out.flush();
    err << "hostprobe: error: " << e.what() << "\n";
    return kExitError;
  } catch (const std::bad_alloc&) {
    out.flush();
    err << "hostprobe: error: out of memory\n";
    return kExitError;
  }
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const CliHooks& hooks) {
  const int code = Run(args, in, out, err, hooks);
  // What was to be printed is part of the result: output that could not be
  // written is a failed run, not a success.
  out.flush();
  if (!out && code == kExitOk) {
    err << "hostprobe: error: cannot write to standard output\n";
    return kExitError;
  }
  return code;
}

}  // namespace hostprobe
