#include "app/cli.h"

#include <exception>
#include <filesystem>
#include <iostream>
#include <new>

#include "app/console/console.h"
#include "app/machine.h"
#include "session/session.h"
#include "platform/error.h"
#include "platform/live/live.h"
#include "platform/snapshot/snapshot.h"
#include "report/redact.h"
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
  enum class Mode { kDefault, kPass, kTest, kConsole, kCapture, kVirt, kReport, kHelp, kVersion } mode = Mode::kDefault;
  int pass = 0;
  std::string capture;
  std::optional<std::string> replay;
  bool json = false;
  bool redact = false;
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
    } else if (arg == "--report") {
      no_value();
      set_mode(Options::Mode::kReport, arg);
    } else if (arg == "--json" || arg == "--redact") {
      no_value();
      bool& flag = arg == "--json" ? o.json : o.redact;
      if (flag) throw UsageError{arg + " given twice"};
      flag = true;
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
  if (!info && o.json && o.mode != Options::Mode::kReport) throw UsageError{"--json goes with --report"};
  if (!info && o.redact && o.mode != Options::Mode::kReport && o.mode != Options::Mode::kCapture) {
    throw UsageError{"--redact goes with --report or --capture"};
  }
  if (info) o.mode = *info;
  return o;
}

int Capture(Platform& platform, Redactor* redactor, const std::string& file, std::ostream& out,
            std::ostream& err) {
  const std::string text = CaptureMachine(platform, redactor);
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

// Counts the records appended through it, for the line that says where they went.
class CountingLog : public LogFile {
 public:
  explicit CountingLog(std::unique_ptr<LogFile> inner) : inner_(std::move(inner)) {}
  void Append(std::string_view bytes) override {
    inner_->Append(bytes);
    ++records_;
  }
  int records() const { return records_; }

 private:
  std::unique_ptr<LogFile> inner_;
  int records_ = 0;
};

void SayWhereRecordsWent(const CountingLog* log, std::ostream& err, const CliHooks& hooks) {
  if (!log || log->records() == 0 || !hooks.stderr_is_terminal || !hooks.stderr_is_terminal()) return;
  std::string where = kLogFileName;
  try {
    // UTF-8 from the system's own form of the name: on Windows the wide
    // path, where string() would give the ANSI code page's best fit.
    const std::u8string utf8 = (std::filesystem::current_path() / kLogFileName).u8string();
    where.assign(utf8.begin(), utf8.end());
  } catch (const std::exception&) {
    // The name alone, where the current directory cannot be named.
  }
  err << "hostprobe: " << log->records() << (log->records() == 1 ? " record" : " records")
      << " appended to " << ShownName(where) << "\n";
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
    std::shared_ptr<Redactor> redactor;
    if (o.redact) {
      redactor = std::make_shared<Redactor>();
      RedactPlatform(platform, redactor);
    }
    if (o.mode == Options::Mode::kCapture) return Capture(platform, redactor.get(), o.capture, out, err);
    if (o.mode == Options::Mode::kReport) {
      out << ReportMachine(platform, o.replay.has_value(), o.json, redactor.get());
      return kExitOk;
    }
    auto log = std::make_unique<CountingLog>(std::move(platform.log));
    const CountingLog* counted = log.get();
    platform.log = std::move(log);
    // Said after whatever ends the run, while the platform (and its log) lives.
    struct Say {
      const CountingLog* log;
      std::ostream& out;
      std::ostream& err;
      const CliHooks& hooks;
      ~Say() {
        out.flush();
        SayWhereRecordsWent(log, err, hooks);
      }
    } say{counted, out, err, hooks};
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
  int code;
  try {
    code = Run(args, in, out, err, hooks);
  } catch (const std::bad_alloc&) {
    out.flush();
    err << "hostprobe: error: out of memory\n";
    return kExitError;
  } catch (const std::exception& e) {
    // Whatever else ends the run (a library's own exception) is an error
    // like any other, not an abort.
    out.flush();
    err << "hostprobe: error: " << e.what() << "\n";
    return kExitError;
  }
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
