// libFuzzer target: the whole tool over one D88 file made of the input.
//
// Each input is written to a file in a scratch directory (on tmpfs when
// /dev/shm is there) and run through d88unpack::RunImages exactly as the
// program runs it: the scan, every image, the directory stage and every file
// extraction. Most inputs run in list mode (same reads, same warnings, nothing
// written); one in sixteen, picked by a hash of its bytes so that the choice
// is the same whenever the input is run again but doesn't pass on to most of
// its mutations, runs for real into an output directory inside the scratch
// directory, which is then checked for anything that doesn't belong there and
// emptied again. After the run the sector reads of the same reader are
// compared with the test suite's reference reader.
//
// Byte 0x11 of the input (inside the image header's unused bytes) sets the
// rest of the command line: bit 3 = no numbered directories, bit 4 =
// Shift-JIS messages.
//
// This file and the reference reader are built without coverage
// instrumentation: the fuzzer steers by the tool's code alone.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d88_image.h"
#include "extract.h"
#include "reference_reader.h"
#include "run.h"

namespace {

constexpr size_t kModeByte = 0x11;
constexpr uint64_t kWriteOneIn = 16;

// FNV-1a over 8-byte words, then the tail.
uint64_t Hash(const uint8_t* data, size_t size) {
  uint64_t h = 0xcbf29ce484222325u;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    h = (h ^ word) * 0x100000001b3u;
  }
  for (; i < size; ++i) {
    h = (h ^ data[i]) * 0x100000001b3u;
  }
  return h ^ (h >> 29) ^ size;
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "d88unpack_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

std::vector<std::string> ListDirectory(int dir) {
  std::vector<std::string> names;
  // The copy shares its position with `dir`: start from the top every time.
  int copy = ::dup(dir);
  DIR* d = copy >= 0 ? ::fdopendir(copy) : nullptr;
  if (d == nullptr) {
    Fail("cannot list directory", std::strerror(errno));
  }
  ::rewinddir(d);
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names.emplace_back(e->d_name);
    }
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Removes everything below directory handle `dir` (not following links).
void EmptyDirectory(int dir) {
  for (const std::string& name : ListDirectory(dir)) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
      int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub >= 0) {
        EmptyDirectory(sub);
        ::close(sub);
      }
      ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(dir, name.c_str(), 0);
    }
  }
}

bool IsNumberedDirectoryName(const std::string& name) {
  return name.size() == 3 &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         std::stoi(name) < d88::D88Image::kMaxImages;
}

// What a real run may leave in the output directory: regular files no larger
// than the transfer buffer, in numbered directories unless `flat`.
void CheckOutputTree(int dir, bool flat, int depth) {
  for (const std::string& name : ListDirectory(dir)) {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      Fail("cannot stat output entry", name);
    }
    const bool file_level = flat || depth == 1;
    if (S_ISREG(st.st_mode) && file_level) {
      if (static_cast<uint64_t>(st.st_size) > d88unpack::Workspace::kTransferSize) {
        Fail("output file larger than any disk", name);
      }
      continue;
    }
    if (S_ISDIR(st.st_mode) && !file_level && IsNumberedDirectoryName(name)) {
      int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        Fail("cannot open output directory", name);
      }
      CheckOutputTree(sub, flat, depth + 1);
      ::close(sub);
      continue;
    }
    Fail("unexpected entry in output tree", name);
  }
}

struct Harness {
  Harness() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88unpack-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
      Fail("mkdtemp", std::strerror(errno));
    }
    root_path = buf.data();
    image_path = root_path + "/image.d88";
    out_path = root_path + "/out";
    if (::mkdir(out_path.c_str(), 0700) != 0) {
      Fail("mkdir", std::strerror(errno));
    }
    root = ::open(root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    out = ::open(out_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    null = std::fopen("/dev/null", "w");
    if (root < 0 || out < 0 || null == nullptr) {
      Fail("scratch setup", std::strerror(errno));
    }
    a.resize(kCompareBytes);
    b.resize(kCompareBytes);
    std::atexit([] { Get().RemoveScratch(); });
  }

  static Harness& Get() {
    static Harness* harness = new Harness();
    return *harness;
  }

  void RemoveScratch() {
    EmptyDirectory(out);
    ::unlinkat(root, "image.d88", 0);
    ::unlinkat(root, "out", AT_REMOVEDIR);
    ::rmdir(root_path.c_str());
  }

  void WriteImage(const uint8_t* data, size_t size) {
    int fd = ::open(image_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
      Fail("cannot write image", std::strerror(errno));
    }
    size_t done = 0;
    while (done < size) {
      ssize_t put = ::write(fd, data + done, size - done);
      if (put <= 0) {
        Fail("cannot write image", std::strerror(errno));
      }
      done += static_cast<size_t>(put);
    }
    ::close(fd);
  }

  // After a real run: nothing but the image and the output directory in the
  // scratch directory, the image untouched, and a well-formed output tree.
  void CheckAfterWriting(size_t size, bool flat) {
    std::vector<std::string> names = ListDirectory(root);
    if (names != std::vector<std::string>{"image.d88", "out"}) {
      std::string all;
      for (const std::string& n : names) {
        all += n + " ";
      }
      Fail("scratch directory changed", all);
    }
    struct stat st;
    if (::fstatat(root, "image.d88", &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<size_t>(st.st_size) != size) {
      Fail("image file changed", image_path);
    }
    if (::fstatat(root, "out", &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
      Fail("output directory replaced", out_path);
    }
    CheckOutputTree(out, flat, 0);
    EmptyDirectory(out);
  }

  void Compare(const uint8_t* data, size_t size);
  void CompareSector(d88test::ReferenceReader& ref, int track, int c, int h, int r, int n, int max);
  void CompareRun(d88test::ReferenceReader& ref, int track, int c, int h, int r, int n, int total);

  static constexpr size_t kCompareBytes = 3 * 65536;

  std::string root_path;
  std::string image_path;
  std::string out_path;
  int root = -1;
  int out = -1;
  FILE* null = nullptr;
  d88::D88Image image;
  d88unpack::Workspace work;
  std::vector<uint8_t> a;
  std::vector<uint8_t> b;
};

void Harness::CompareSector(d88test::ReferenceReader& ref, int track, int c, int h, int r, int n,
                            int max) {
  int got = image.ReadSector(track, c, h, r, n, a.data(), max);
  int want = ref.ReadSector(track, c, h, r, n, b.data(), max);
  if (got != want || std::memcmp(a.data(), b.data(), static_cast<size_t>(std::max(got, 0))) != 0) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "ReadSector(%d, %d, %d, %d, %d, %d): %d bytes, expected %d", track, c, h, r, n,
                  max, got, want);
    Fail("reader differs from reference", detail);
  }
}

void Harness::CompareRun(d88test::ReferenceReader& ref, int track, int c, int h, int r, int n,
                         int total) {
  int got = image.ReadSectors(track, c, h, r, n, a.data(), total);
  int want = ref.ReadSectors(track, c, h, r, n, b.data(), total);
  if (got != want || std::memcmp(a.data(), b.data(), static_cast<size_t>(std::max(got, 0))) != 0) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "ReadSectors(%d, %d, %d, %d, %d, %d): %d bytes, expected %d", track, c, h, r, n,
                  total, got, want);
    Fail("reader differs from reference", detail);
  }
}

// Sector reads of the real reader against the reference, on the IDs of the
// first records of a few tracks (taken straight from the bytes) and on the
// title's directory and file runs.
void Harness::Compare(const uint8_t* data, size_t size) {
  d88test::ReferenceReader ref(std::vector<uint8_t>(data, data + size));
  if (image.GetImageCount() != ref.ImageCount()) {
    Fail("image count differs from reference", std::to_string(image.GetImageCount()));
  }
  const int count = image.GetImageCount();
  for (int i = 0; i < count; i = i < 2 ? i + 1 : std::max(i + 1, count - 1)) {
    if (!image.SelectImage(i) || !ref.Select(i)) {
      Fail("cannot select image", std::to_string(i));
    }
    if (image.GetMediaType() != ref.MediaType() || image.GetDiskName() != ref.DiskName()) {
      Fail("image header differs from reference", std::to_string(i));
    }
    const uint64_t base = static_cast<uint64_t>(image.GetImageOffset(i));
    const int extra_track = size > 0x12 ? data[0x12] % d88::D88Image::kTrackCount : 5;
    for (int track : {0, 1, 2, extra_track}) {
      // The IDs of the first few records of the track, as stored.
      uint64_t at = base + image.GetTrackOffset(track);
      for (int k = 0; k < 4 && at <= size && size - at >= 16; ++k) {
        const uint8_t* rec = data + at;
        CompareSector(ref, track, rec[0], rec[1], rec[2], rec[3], 65536);
        CompareSector(ref, track, rec[0], rec[1], rec[2], rec[3], 700);
        at += 16 + d88::ReadLE16(rec + 14);
      }
      CompareSector(ref, track, track / 2, track % 2, 1, 3, 1024);
    }
    for (int s : {5, 8}) {
      image.SetSectorRange(1, s);
      ref.SetSectorRange(1, s);
      CompareRun(ref, 1, 0, 1, 1, 3, s * 1024);
      CompareRun(ref, 2, 1, 0, 1, 3, 3 * s * 1024 - 500);
    }
    // A run from the first record of a track, over a range from the input.
    uint64_t at = base + image.GetTrackOffset(extra_track);
    if (at <= size && size - at >= 16) {
      const uint8_t* rec = data + at;
      const int first = size > 0x13 ? data[0x13] % 4 : 1;
      const int last = size > 0x14 ? data[0x14] % 20 : 16;
      image.SetSectorRange(first, last);
      ref.SetSectorRange(first, last);
      CompareRun(ref, extra_track, rec[0], rec[1], rec[2], rec[3] % 8, 40000);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness& h = Harness::Get();
  h.WriteImage(data, size);

  const uint8_t mode = size > kModeByte ? data[kModeByte] : 0;
  const bool write = Hash(data, size) % kWriteOneIn == 0;
  d88unpack::Options options;
  options.action = d88unpack::Options::Action::kExtract;
  options.image_path = h.image_path;
  options.list_only = !write;
  options.make_subdirectories = (mode & 0x08) == 0;
  if (write) {
    options.output_directory = h.out_path;
  }
  d88unpack::Console console;
  console.out = h.null;
  console.err = h.null;
  console.shift_jis = (mode & 0x10) != 0;

  int status = d88unpack::RunImages(h.image, options, console, h.work);
  if (status != d88unpack::kExitOk && status != d88unpack::kExitFailure) {
    Fail("unexpected exit status", std::to_string(status));
  }
  if (write) {
    h.CheckAfterWriting(size, !options.make_subdirectories);
  }
  h.Compare(data, size);
  return 0;
}
