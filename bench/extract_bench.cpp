// Extraction benchmark: d88unpack against GNU tar on the same output tree.
//
// Generates one D88 file of 64 full 2HD disks in the title's layout (about
// 7,600 files of 1 to 30 sectors), extracts it once with d88unpack, packs the
// result with `tar -cf` and checks that `tar -xf` gives back an identical
// tree. Then it alternates the two extractions, each into a fresh directory,
// and prints the medians, their ratio, the throughput and d88unpack's peak
// resident memory. Everything lives in a scratch directory under $TMPDIR (or
// /tmp) that is removed at the end.
//
//   extract_bench [--pairs N] [--images N] [--d88unpack PATH] [--tar PATH]
//                 [--compare PATH] [--keep-image PATH] [--verbose]
//
// --compare times a second d88unpack executable (an older build, say) in the
// same rounds and checks that it writes the same tree.

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "d88_builder.h"

#ifndef D88UNPACK_EXE
#define D88UNPACK_EXE "d88unpack"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSectorsPerFile = 30;
constexpr int kDirectoryEntries = 511;  // entries 1 to 511 of an 8-sector directory

struct Settings {
  int pairs = 9;
  int images = 64;
  std::string d88unpack = D88UNPACK_EXE;
  std::string tar = "tar";
  std::string keep_image;
  std::string compare;  // another d88unpack build to time alongside
  bool verbose = false;
};

struct Totals {
  int files = 0;
  uint64_t bytes = 0;  // bytes of the extracted files
  uint64_t image_bytes = 0;
};

uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}

// Sectors of file `k` on disk `disk`: the smaller of two draws from 1 to 30,
// which averages about 10 and fills a 2HD disk with some 120 files.
int FileSectors(int disk, int k) {
  uint32_t a = Mix(static_cast<uint32_t>(disk) * 7919u + static_cast<uint32_t>(k) * 2u);
  uint32_t b = Mix(static_cast<uint32_t>(disk) * 7919u + static_cast<uint32_t>(k) * 2u + 1u);
  return 1 + static_cast<int>(std::min(a % kMaxSectorsPerFile, b % kMaxSectorsPerFile));
}

std::string FileName(int disk, int k) {
  char name[16];
  // Every fourth name starts in lower case, which the tool marks with "_".
  std::snprintf(name, sizeof name, k % 4 == 3 ? "d%02df%04d" : "D%02dF%04d", disk % 100, k % 10000);
  return name;
}

// One disk of the title, filled with files up to its last sector.
d88build::Image MakeDisk(int disk, Totals* totals) {
  using d88build::Edition;
  char disk_name[24];
  std::snprintf(disk_name, sizeof disk_name, "BENCH DISK %02d", disk);
  d88build::TitleDisk title(Edition::k2HD, disk_name);
  const int s = d88build::SectorsPerTrack(Edition::k2HD);
  const int tracks = d88build::TrackCount(Edition::k2HD);
  for (int k = 1; k <= kDirectoryEntries; ++k) {
    int left = (tracks - title.next_track()) * s - (title.next_sector() - 1);
    if (left <= 0) {
      break;
    }
    int sectors = std::min(FileSectors(disk, k), left);
    uint32_t seed = static_cast<uint32_t>(disk * 1000 + k);
    // The last sector is only partly used; the disk holds zeros after it.
    size_t size = static_cast<size_t>(sectors) * d88build::kSectorSize - Mix(seed) % 1000;
    title.AppendFile(FileName(disk, k), d88build::Pattern(size, seed));
    totals->files += 1;
    totals->bytes += static_cast<uint64_t>(sectors) * d88build::kSectorSize;
  }
  return title.ToImage();
}

bool GenerateFile(const std::string& path, int images, Totals* totals) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    return false;
  }
  bool ok = true;
  for (int i = 0; i < images && ok; ++i) {
    d88build::Bytes bytes = d88build::Build(MakeDisk(i, totals));
    ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    totals->image_bytes += bytes.size();
  }
  ok = std::fclose(out) == 0 && ok;
  return ok;
}

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Seconds(const struct timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

struct RunResult {
  int status = -1;
  double wall = 0;   // seconds from fork to reaping
  double cpu = 0;    // user + system seconds of the child
  long max_rss = 0;  // KiB
};

// Runs `args` (args[0] is looked up in PATH when it has no '/') in `cwd`,
// standard output and standard error to the given files.
RunResult Spawn(const std::vector<std::string>& args, const std::string& cwd,
                const std::string& out_path, const std::string& err_path) {
  std::vector<char*> argv;
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  RunResult result;
  double start = Now();
  // fork rather than vfork or posix_spawn: the child's peak resident size then
  // starts from this process's current one (kept small), not from its peak.
  pid_t pid = fork();
  if (pid < 0) {
    return result;
  }
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int wstatus = 0;
  struct rusage usage;
  std::memset(&usage, 0, sizeof usage);
  while (wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
  }
  result.wall = Now() - start;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  result.max_rss = usage.ru_maxrss;
  return result;
}

bool SameContents(const fs::path& a, const fs::path& b) {
  FILE* fa = std::fopen(a.c_str(), "rb");
  FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa != nullptr && fb != nullptr;
  char ba[65536];
  char bb[65536];
  while (same) {
    size_t na = std::fread(ba, 1, sizeof ba, fa);
    size_t nb = std::fread(bb, 1, sizeof bb, fb);
    same = na == nb && std::memcmp(ba, bb, na) == 0;
    if (na == 0) {
      break;
    }
  }
  if (fa != nullptr) {
    std::fclose(fa);
  }
  if (fb != nullptr) {
    std::fclose(fb);
  }
  return same;
}

// Lists every entry below `root` (relative paths, sorted); a trailing '/'
// marks a directory.
std::vector<std::string> ListTree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    entries.push_back(e.is_directory() ? rel + "/" : rel);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Whether the trees hold the same names, kinds and file contents. Prints the
// first difference.
bool SameTree(const fs::path& a, const fs::path& b, int* files) {
  std::vector<std::string> la = ListTree(a);
  std::vector<std::string> lb = ListTree(b);
  if (la != lb) {
    std::fprintf(stderr, "extract_bench: %s and %s list different entries\n", a.c_str(), b.c_str());
    return false;
  }
  *files = 0;
  for (const std::string& rel : la) {
    if (rel.back() == '/') {
      continue;
    }
    ++*files;
    if (!fs::is_regular_file(fs::symlink_status(a / rel)) ||
        !fs::is_regular_file(fs::symlink_status(b / rel)) || !SameContents(a / rel, b / rel)) {
      std::fprintf(stderr, "extract_bench: %s differs\n", rel.c_str());
      return false;
    }
  }
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : (n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

std::string FirstLine(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) {
    return "";
  }
  char line[256] = {};
  if (std::fgets(line, sizeof line, f) == nullptr) {
    line[0] = '\0';
  }
  std::fclose(f);
  std::string s = line;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
    s.pop_back();
  }
  return s;
}

bool ParseArgs(int argc, char** argv, Settings* settings) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--pairs" && value(&v)) {
      settings->pairs = std::atoi(v.c_str());
    } else if (arg == "--images" && value(&v)) {
      settings->images = std::atoi(v.c_str());
    } else if (arg == "--d88unpack" && value(&v)) {
      settings->d88unpack = fs::absolute(v).string();
    } else if (arg == "--tar" && value(&v)) {
      settings->tar = v;
    } else if (arg == "--compare" && value(&v)) {
      settings->compare = fs::absolute(v).string();
    } else if (arg == "--keep-image" && value(&v)) {
      settings->keep_image = v;
    } else if (arg == "--verbose" || arg == "-v") {
      settings->verbose = true;
    } else {
      return false;
    }
  }
  return settings->pairs >= 1 && settings->images >= 1 && settings->images <= 64;
}

class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88bench-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) {
      path_ = buf.data();
    }
  }
  ~ScratchDir() {
    if (!path_.empty()) {
      std::error_code ec;
      fs::remove_all(path_, ec);
    }
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return fs::path(path_) / name; }

 private:
  std::string path_;
};

int Fail(const char* what) {
  std::fprintf(stderr, "extract_bench: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArgs(argc, argv, &settings)) {
    std::fprintf(stderr,
                 "Usage: %s [--pairs N] [--images 1-64] [--d88unpack PATH] [--tar PATH]\n"
                 "          [--compare PATH] [--keep-image PATH] [--verbose]\n",
                 argv[0]);
    return 2;
  }
  ScratchDir scratch;
  if (!scratch.ok()) {
    return Fail("cannot create a scratch directory");
  }
  const std::string image = (scratch / "bench.d88").string();
  const std::string archive = (scratch / "tree.tar").string();
  const std::string out_log = (scratch / "stdout.txt").string();
  const std::string err_log = (scratch / "stderr.txt").string();

  Totals totals;
  if (!GenerateFile(image, settings.images, &totals)) {
    return Fail("cannot write the image file");
  }
  if (!settings.keep_image.empty()) {
    fs::copy_file(image, settings.keep_image, fs::copy_options::overwrite_existing);
  }

  // The reference extraction, the archive of its tree, and a check that tar
  // (and the build to compare with, if any) gives back the same tree.
  const fs::path reference = scratch / "reference";
  fs::create_directory(reference);
  RunResult first = Spawn({settings.d88unpack, image}, reference.string(), out_log, err_log);
  if (first.status != 0 || fs::file_size(err_log) != 0) {
    return Fail("d88unpack failed on the generated file");
  }
  RunResult pack =
      Spawn({settings.tar, "--sort=name", "-cf", archive, "-C", reference.string(), "."},
            scratch.path(), out_log, err_log);
  if (pack.status != 0) {
    return Fail("tar -cf failed");
  }

  struct Contender {
    std::string label;
    std::vector<std::string> args;
    std::vector<double> wall;
    std::vector<double> cpu;
    long max_rss = 0;
  };
  std::vector<Contender> contenders;
  contenders.push_back({"d88unpack", {settings.d88unpack, image}, {}, {}, 0});
  if (!settings.compare.empty()) {
    contenders.push_back({"compared", {settings.compare, image}, {}, {}, 0});
  }
  contenders.push_back({"tar -xf", {settings.tar, "-xf", archive}, {}, {}, 0});

  for (size_t c = 1; c < contenders.size(); ++c) {
    const fs::path check = scratch / "check";
    fs::create_directory(check);
    RunResult r = Spawn(contenders[c].args, check.string(), out_log, err_log);
    int files = 0;
    if (r.status != 0 || !SameTree(reference, check, &files)) {
      std::fprintf(stderr, "extract_bench: %s: ", contenders[c].label.c_str());
      return Fail("its tree differs from d88unpack's");
    }
    if (files != totals.files) {
      return Fail("d88unpack did not write every file");
    }
    fs::remove_all(check);
  }
  fs::remove_all(reference);
  Spawn({settings.tar, "--version"}, scratch.path(), out_log, err_log);
  const std::string tar_version = FirstLine(out_log);

  // Hand freed memory back so that the children start small (see Spawn).
  malloc_trim(0);
  RunResult floor = Spawn({"true"}, scratch.path(), out_log, err_log);

  int run = 0;
  const size_t n = contenders.size();
  for (int round = 0; round < settings.pairs; ++round) {
    // The order alternates from round to round, so that a drift in the
    // machine's load hits every contender alike.
    for (size_t k = 0; k < n; ++k) {
      Contender& c = contenders[round % 2 == 0 ? k : n - 1 - k];
      fs::path dir = scratch / ("run" + std::to_string(run++));
      fs::create_directory(dir);
      RunResult r = Spawn(c.args, dir.string(), out_log, err_log);
      if (r.status != 0) {
        std::fprintf(stderr, "extract_bench: %s: ", c.label.c_str());
        return Fail("failed");
      }
      c.wall.push_back(r.wall);
      c.cpu.push_back(r.cpu);
      c.max_rss = std::max(c.max_rss, r.max_rss);
      if (settings.verbose) {
        std::printf("  %-9s %8.1f ms wall %8.1f ms cpu %6ld KiB\n", c.label.c_str(), r.wall * 1e3,
                    r.cpu * 1e3, r.max_rss);
      }
      fs::remove_all(dir);
    }
  }

  const double mb = static_cast<double>(totals.bytes) / 1e6;
  const Contender& tar = contenders.back();
  const double tar_wall = Median(tar.wall);
  const double tar_cpu = Median(tar.cpu);
  std::printf("input:      %d images, %.1f MB D88 file\n", settings.images,
              static_cast<double>(totals.image_bytes) / 1e6);
  std::printf("output:     %d files, %.1f MB (trees identical)\n", totals.files, mb);
  std::printf("tar:        %s\n", tar_version.c_str());
  std::printf("rounds:     %d, alternating, fresh output directory each run\n", settings.pairs);
  for (const Contender& c : contenders) {
    const double wall = Median(c.wall);
    const double cpu = Median(c.cpu);
    std::printf("%-10s  median %7.1f ms wall (%6.1f MB/s), %7.1f ms cpu", (c.label + ":").c_str(),
                wall * 1e3, mb / wall, cpu * 1e3);
    if (&c != &tar) {
      std::printf("; ratio to tar %.2f wall, %.2f cpu; peak RSS %ld KiB (%.2f MiB)",
                  wall / tar_wall, cpu / tar_cpu, c.max_rss, static_cast<double>(c.max_rss) / 1024);
    }
    std::printf("\n");
  }
  std::printf("peak RSS of an empty program spawned alike: %ld KiB\n", floor.max_rss);
  return 0;
}
