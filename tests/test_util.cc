#include "test_util.h"

#include <fstream>
#include <random>
#include <sstream>

#include "app/cli.h"
#ifdef _WIN32
#include "platform/windows/windows_sources.h"
#endif

namespace hostprobe::testing {

ScratchDir::ScratchDir() : previous_(std::filesystem::current_path()) {
  std::random_device rd;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() / ("hostprobe-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) break;
  }
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  // Restore write permission on anything a test locked down, then remove.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Fixture(const std::string& name) { return std::string(HOSTPROBE_FIXTURES) + "/" + name; }

CliResult RunCliCapture(const std::vector<std::string>& args, const std::string& in) {
  std::istringstream input(in);
  std::ostringstream out, err;
  CliResult r;
  r.code = RunCli(args, input, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

std::vector<std::string> SplitRecords(const std::string& log) {
  std::vector<std::string> records;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find("\"\r\n\"", at);
    end = end == std::string::npos ? log.size() : end + 3;
    records.push_back(log.substr(at, end - at));
    at = end;
  }
  return records;
}

std::string AccessDeniedText() {
#ifdef _WIN32
  return SystemErrorText(5);  // ERROR_ACCESS_DENIED
#else
  return "Permission denied";
#endif
}

std::string Record(const std::string& timestamp, const std::string& message) {
  return "\"" + timestamp + "\t" + message + "\"\r\n";
}

}  // namespace hostprobe::testing
