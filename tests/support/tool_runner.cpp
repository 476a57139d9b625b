#include "tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace d88test {

namespace fs = std::filesystem;

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Summary(const std::string& contents) {
  if (contents.size() <= 32) {
    return contents;
  }
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char ch : contents) {
    hash = (hash ^ ch) * 0x100000001b3ull;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%zu bytes, fnv1a %016llx", contents.size(),
                static_cast<unsigned long long>(hash));
  return text;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd, const std::vector<std::string>& env,
                         int timeout_seconds, const std::string& stdout_path) {
  TempDir capture;
  const std::string out_path = capture / "out";
  const std::string err_path = capture / "err";

  std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin", "LC_ALL=C"};
  for (const std::string& e : env) {
    std::string key = e.substr(0, e.find('='));
    std::erase_if(environment,
                  [&](const std::string& x) { return x.substr(0, x.find('=')) == key; });
    environment.push_back(e);
  }
  std::vector<char*> argv;
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) {
    envp.push_back(const_cast<char*>(e.c_str()));
  }
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(stdout_path.empty() ? out_path.c_str() : stdout_path.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int wstatus = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ProgramResult result;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = ReadFileBytes(out_path);
  result.err = ReadFileBytes(err_path);
  return result;
}

std::map<std::string, std::string> Snapshot(const std::string& root, bool whole_files) {
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& p = it->path();
    // Lexically: fs::relative would resolve a symbolic link in the tree.
    std::string rel = p.lexically_relative(root).generic_string();
    fs::file_status st = fs::symlink_status(p);
    if (fs::is_symlink(st)) {
      tree[rel] = "-> " + fs::read_symlink(p).string();
    } else if (fs::is_directory(st)) {
      tree[rel] = "<dir>";
    } else if (fs::is_regular_file(st)) {
      std::string contents = ReadFileBytes(p.string());
      tree[rel] = whole_files ? contents : Summary(contents);
    } else {
      tree[rel] = "<other>";
    }
  }
  return tree;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88t-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave directories without write permission behind.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!fs::is_symlink(fs::symlink_status(it->path(), ec))) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
}

}  // namespace d88test
