// Running a program the way a user would, and looking at what it left.

#ifndef D88UNPACK_TESTS_SUPPORT_TOOL_RUNNER_H_
#define D88UNPACK_TESTS_SUPPORT_TOOL_RUNNER_H_

#include <map>
#include <string>
#include <vector>

namespace d88test {

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args` (argument 0 is the program path) in directory
// `cwd`, standard input from /dev/null, an environment of PATH, LC_ALL=C and
// `env` (NAME=VALUE entries, later ones win). Gives up after `timeout_seconds`
// (status 128 + SIGKILL). With `stdout_path`, standard output goes to that
// file instead of being captured.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::vector<std::string>& env = {},
                         int timeout_seconds = 60, const std::string& stdout_path = "");

// Every entry below `root`, by path relative to it: a file's Summary, "<dir>"
// for a directory, "-> target" for a symbolic link, "<other>" otherwise.
// With `whole_files`, files show their whole contents instead.
std::map<std::string, std::string> Snapshot(const std::string& root, bool whole_files = false);

// A fresh directory under the system's temporary directory, removed with
// everything in it when this goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);

// A file's contents as a snapshot shows them: short ones as they are, longer
// ones as their size and a 64-bit FNV-1a hash, so that a failing comparison
// stays readable.
std::string Summary(const std::string& contents);

}  // namespace d88test

#endif  // D88UNPACK_TESTS_SUPPORT_TOOL_RUNNER_H_
