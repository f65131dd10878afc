// Helpers shared by the tests: a scratch directory that becomes the current
// directory, file reading and writing, and running the command line.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace hostprobe::testing {

// Creates a fresh directory, makes it the current directory, and on
// destruction returns to the previous one and removes it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// The path of a file under tests/fixtures.
std::string Fixture(const std::string& name);

struct CliResult {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs the command line in-process with `args` and standard input `in`.
CliResult RunCliCapture(const std::vector<std::string>& args, const std::string& in = "");

// A log split into its records: each ends in quote CR LF where the next
// record's quote follows, the last at the end of the log.
std::vector<std::string> SplitRecords(const std::string& log);

// The system's text for "access denied" as a failing call reports it here.
std::string AccessDeniedText();

// The log written by the given number of records with the fixed timestamp of
// a snapshot: convenience to build expected logs.
std::string Record(const std::string& timestamp, const std::string& message);

}  // namespace hostprobe::testing
