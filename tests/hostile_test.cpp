// Damaged and hostile D88 files against the whole tool: a valid file cut at
// every length, and a table of crafted images and output trees.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "d88_image.h"
#include "extract.h"
#include "reference_reader.h"
#include "run.h"
#include "tool_runner.h"

namespace {

namespace fs = std::filesystem;
using d88build::Bytes;
using d88build::Edition;
using d88build::Image;
using d88build::MakeEntry;
using d88build::Pattern;
using d88build::TitleDisk;
using d88test::TempDir;
using Tree = std::map<std::string, std::string>;

// The output tree with whole file contents: the cases below compare bytes.
Tree Snapshot(const std::string& root) {
  return d88test::Snapshot(root, true);
}

constexpr int kSector = 1024;

// Keeps only the tracks in [first, end) so that test files stay small.
Image KeepTracks(Image image, int first, int end) {
  std::erase_if(image.tracks, [&](const auto& t) { return t.first < first || t.first >= end; });
  return image;
}

std::string Str(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// `data` as the tool writes it: padded with zeros to whole sectors.
std::string Padded(const Bytes& data) {
  std::string s = Str(data);
  s.resize((data.size() + kSector - 1) / kSector * kSector, '\0');
  return s;
}

// --- Truncation sweep ----------------------------------------------------------

struct InProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

// The text written to `f` since it was last emptied; empties it again.
std::string TakeAll(FILE* f) {
  std::fflush(f);
  std::string s;
  std::rewind(f);
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) {
    s.append(buf, got);
  }
  std::rewind(f);
  EXPECT_EQ(::ftruncate(::fileno(f), 0), 0);
  return s;
}

// Runs the tool's code in this process, as "d88unpack -C OUT IMAGE" would,
// with its standard output and error going to two temporary files.
class InProcessTool {
 public:
  InProcessTool() : console_{std::tmpfile(), std::tmpfile(), false} {}
  ~InProcessTool() {
    std::fclose(console_.out);
    std::fclose(console_.err);
  }
  InProcessTool(const InProcessTool&) = delete;
  InProcessTool& operator=(const InProcessTool&) = delete;

  InProcessResult Run(const std::string& out, const std::string& path) {
    const char* argv[] = {"d88unpack", "-C", out.c_str(), path.c_str()};
    // The program's own steps, with one set of buffers for every run.
    d88unpack::Options options = d88unpack::ParseCommandLine(4, argv);
    EXPECT_EQ(options.action, d88unpack::Options::Action::kExtract);
    InProcessResult result;
    result.status = d88unpack::RunImages(image_, options, console_, work_);
    if (std::fflush(console_.out) != 0) {
      result.status = d88unpack::kExitFailure;
    }
    result.out = TakeAll(console_.out);
    result.err = TakeAll(console_.err);
    return result;
  }

 private:
  d88::D88Image image_;
  d88unpack::Workspace work_;
  d88unpack::Console console_;
};

// A scratch directory on tmpfs when there is one: the sweep writes and
// removes a few files for every length.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern =
        std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                    : fs::temp_directory_path().c_str()) +
        "/d88t-sweep-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) {
      path_ = buf.data();
    }
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file of three images: a 2D disk whose files cross a track boundary, an
// image of a media type the title doesn't use, and a 2HD disk. Only the
// tracks that hold the directory and the files are stored.
struct SweepFile {
  Bytes bytes;
  Tree files;  // path under the output directory -> full contents
};

SweepFile MakeSweepFile() {
  SweepFile f;
  TitleDisk d2(Edition::k2D, "SWEEP 2D");
  Bytes first = Pattern(2 * kSector, 1);
  Bytes second = Pattern(2000, 2);
  Bytes cross = Pattern(2 * kSector, 3);
  d2.AppendFile("FIRST", first);
  d2.AppendFile("second", second);
  d2.AddFile("CROSS", 2, 5, cross);  // track 2 sector 5, track 3 sector 1
  f.files["000/FIRST"] = Padded(first);
  f.files["000/second_"] = Padded(second);
  f.files["000/CROSS"] = Padded(cross);

  Image other;
  other.name = "OTHER MEDIA";
  other.media = 0x10;

  TitleDisk hd(Edition::k2HD, "SWEEP 2HD");
  Bytes one = Pattern(kSector, 4);
  Bytes two = Pattern(5000, 5);
  hd.AppendFile("ONE", one);
  hd.AppendFile("TWO", two);
  f.files["002/ONE"] = Padded(one);
  f.files["002/TWO"] = Padded(two);

  f.bytes =
      d88build::Build({KeepTracks(d2.ToImage(), 1, 4), other, KeepTracks(hd.ToImage(), 1, 3)});
  return f;
}

// A written file must have its listed size and hold the file's own bytes up
// to some point and zeros after it.
void ExpectPrefixThenZeros(const std::string& got, const std::string& full, const std::string& at) {
  ASSERT_EQ(got.size(), full.size()) << at;
  size_t k = 0;
  while (k < got.size() && got[k] == full[k]) {
    ++k;
  }
  for (size_t i = k; i < got.size(); ++i) {
    ASSERT_EQ(got[i], '\0') << at << ": byte " << i << " is neither the file's nor zero";
  }
}

TEST(TruncationSweep, EveryLengthRunsCleanly) {
  const SweepFile f = MakeSweepFile();
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir / "in.d88";
  const std::string out = dir / "out";
  ASSERT_TRUE(d88build::WriteFile(path, f.bytes));
  InProcessTool tool;

  // The whole file extracts every file.
  fs::create_directory(out);
  InProcessResult whole = tool.Run(out, path);
  ASSERT_EQ(whole.status, 0) << whole.err;
  Tree expected = f.files;
  expected["000"] = "<dir>";
  expected["002"] = "<dir>";
  ASSERT_EQ(Snapshot(out), expected);

  // Every shorter length, from the longest down: a few lengths also run the
  // real executable, which must do exactly what the in-process run did.
  const size_t full = f.bytes.size();
  const size_t sample_step = full / 23;
  for (size_t length = full; length-- > 0;) {
    fs::remove_all(out);
    fs::create_directory(out);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
    const std::string at = "length " + std::to_string(length);

    InProcessResult r = tool.Run(out, path);
    ASSERT_TRUE(r.status == 0 || r.status == 1) << at << ": status " << r.status;
    ASSERT_EQ(Names(dir.path()), (std::vector<std::string>{"in.d88", "out"})) << at;
    Tree tree = Snapshot(out);
    for (const auto& [name, contents] : tree) {
      if (contents == "<dir>") {
        ASSERT_TRUE(name == "000" || name == "002") << at << ": directory " << name;
        continue;
      }
      auto it = f.files.find(name);
      ASSERT_NE(it, f.files.end()) << at << ": unexpected " << name;
      ExpectPrefixThenZeros(contents, it->second, at + " " + name);
    }

    if (length % sample_step == 0 || (length < 700 && length % 50 == 0)) {
      fs::remove_all(out);
      fs::create_directory(out);
      d88test::ProgramResult p =
          d88test::RunProgram(D88UNPACK_EXE, {D88UNPACK_EXE, "-C", out, path}, dir.path());
      ASSERT_EQ(p.status, r.status) << at;
      ASSERT_EQ(p.out, r.out) << at;
      ASSERT_EQ(p.err, r.err) << at;
      ASSERT_EQ(Snapshot(out), tree) << at;
    }
  }
}

// --- Hostile images and output trees ------------------------------------------

// A small 2D disk with one file GOOD of one sector on track 2 sector 1, and
// whatever extra entries a case adds. Tracks 1 to 3 are stored.
struct SmallDisk {
  explicit SmallDisk(Edition edition = Edition::k2D) : disk(edition, "HOSTILE") {
    disk.AppendFile("GOOD", good);
  }
  Image ToImage(int end = 4) const { return KeepTracks(disk.ToImage(), 1, end); }
  Bytes Build() const { return d88build::Build(ToImage()); }

  Bytes good = Pattern(kSector, 100);
  TitleDisk disk;
};

const std::string kGood = Str(Pattern(kSector, 100));

struct HostileCase {
  const char* name;
  std::function<Bytes()> image;
  int status;
  Tree tree;                         // what the output directory holds afterwards
  std::vector<std::string> err_has;  // texts that standard error must hold
  // Prepares the scratch directory (it holds "out" already); returns the
  // image path to run on, or "" for the image written as in.d88.
  std::function<std::string(const std::string& root)> setup = nullptr;
  bool needs_permissions = false;      // relies on permission checks (skipped as root)
  std::vector<std::string> args = {};  // options before the image path
};

Bytes WithDiskSize(uint32_t size) {
  SmallDisk first;
  Image a = first.ToImage();
  a.disk_size = size;
  SmallDisk second(Edition::k2HD);
  return d88build::Build({a, second.ToImage(3)});
}

Bytes WithTrackOffset(int track, uint32_t offset, std::optional<uint32_t> disk_size = {}) {
  Image a = SmallDisk().ToImage();
  a.track_offsets[track] = offset;
  a.disk_size = disk_size;
  return d88build::Build({a, SmallDisk().ToImage()});
}

// Track 2 of the small disk with its records changed by `change`.
Bytes WithTrack2(const std::function<void(std::vector<d88build::Sector>&)>& change,
                 const std::vector<d88build::Entry>& entries = {}) {
  SmallDisk d;
  for (const auto& e : entries) {
    d.disk.AddEntry(e);
  }
  Image image = d.ToImage();
  change(image.tracks[2]);
  return d88build::Build(image);
}

const Tree kOnlyGood = {{"000", "<dir>"}, {"000/GOOD", kGood}};
const Tree kEmpty000 = {{"000", "<dir>"}};

std::vector<HostileCase> Cases() {
  std::vector<HostileCase> cases;

  // With and without the numbered directories: with -d the names are tried
  // right in the output directory.
  const auto unsafe_names = [] {
    SmallDisk d;
    for (const char* name : {"../x", "/tmp/x", "a/b", ".", "..", ""}) {
      d.disk.AddEntry(MakeEntry(name, 2, 1, 2, 1));
    }
    return d.Build();
  };
  const std::vector<std::string> unsafe_warnings = {
      "image 0 entry 2: unsafe file name \"../x\": not written",
      "image 0 entry 3: unsafe file name \"/tmp/x\": not written",
      "image 0 entry 4: unsafe file name \"a/b_\": not written",
      "image 0 entry 5: unsafe file name \".\": not written",
      "image 0 entry 6: unsafe file name \"..\": not written",
      "image 0 entry 7: unsafe file name \"\": not written"};
  cases.push_back({"UnsafeNames", unsafe_names, 0, kOnlyGood, unsafe_warnings});
  cases.push_back({"UnsafeNamesInOneDirectory",
                   unsafe_names,
                   0,
                   {{"GOOD", kGood}},
                   unsafe_warnings,
                   nullptr,
                   false,
                   {"-d"}});

  // From track 2 sector 1 to track 255 sector 255: far more than the image
  // holds. The file keeps its listed size; what the image lacks is zeros.
  const size_t big = static_cast<size_t>((255 * 5 + 255) - (2 * 5 + 1) + 1) * kSector;
  std::string big_contents = kGood + std::string(4 * kSector, '\xE5');
  big_contents.resize(big, '\0');
  // Track 3 is stored too: its 5 sectors are formatted (0xE5).
  big_contents.replace(5 * kSector, 5 * kSector, std::string(5 * kSector, '\xE5'));
  cases.push_back({"ExtentBeyondTheDisk",
                   [] {
                     SmallDisk d;
                     d.disk.AddEntry(MakeEntry("BIG", 2, 1, 255, 255));
                     return d.Build();
                   },
                   0,
                   {{"000", "<dir>"}, {"000/GOOD", kGood}, {"000/BIG", big_contents}},
                   {"000/BIG: incomplete: the image holds 10240 of its 1556480 bytes"}});

  // An entry on a track index past the track table, and one whose run steps
  // off the last track index after its first sector.
  const Bytes last = Pattern(kSector, 163);
  cases.push_back({"TracksPastTheTable",
                   [last] {
                     SmallDisk d;
                     d.disk.AddEntry(MakeEntry("HIGH", 0xFF, 1, 0xFF, 2));
                     d.disk.AddEntry(MakeEntry("LAST", 163, 5, 164, 1));
                     Image image = d.ToImage();
                     d88build::Sector s;
                     s.c = 81;
                     s.h = 1;
                     s.r = 5;
                     s.data = last;
                     image.tracks[163].push_back(s);
                     return d88build::Build(image);
                   },
                   0,
                   {{"000", "<dir>"},
                    {"000/GOOD", kGood},
                    {"000/LAST", Str(last) + std::string(kSector, '\0')}},
                   {"000/HIGH: first sector (track ff sector 01) is not on the image",
                    "000/LAST: incomplete: the image holds 1024 of its 2048 bytes"}});

  // A disk size below a header's length is one image and ends the scan; with
  // it every track entry lies past the disk size, so no track is there.
  for (uint32_t size : {0u, 1u, 687u}) {
    cases.push_back(
        {"DiskSizeBelowHeader", [size] { return WithDiskSize(size); }, 0, kEmpty000, {}});
  }
  // A disk size past the end of the file: one image, read normally.
  for (uint32_t size : {0x7FFFFFFFu, 0xFFFFFFFFu}) {
    cases.push_back(
        {"DiskSizePastTheFile", [size] { return WithDiskSize(size); }, 0, kOnlyGood, {}});
  }

  const std::string missing = "000/GOOD: first sector (track 02 sector 01) is not on the image";
  cases.push_back({"TrackOffsetPastTheFile",
                   [] { return WithTrackOffset(2, 0x10000000, 0x7FFFFFFF); },
                   0,
                   kEmpty000,
                   {missing}});
  cases.push_back({"TrackOffsetIntoTheHeader",
                   [] { return WithTrackOffset(2, 0x20); },
                   0,
                   {{"000", "<dir>"}, {"001", "<dir>"}, {"001/GOOD", kGood}},
                   {missing}});
  // An entry equal to the disk size points at the next image: no track.
  cases.push_back({"TrackOffsetAtTheNextImage",
                   [] {
                     Image a = SmallDisk().ToImage();
                     a.track_offsets[2] = static_cast<uint32_t>(d88build::Build(a).size());
                     return d88build::Build({a, SmallDisk().ToImage()});
                   },
                   0,
                   {{"000", "<dir>"}, {"001", "<dir>"}, {"001/GOOD", kGood}},
                   {missing}});

  cases.push_back({"SectorCountZero",
                   [] { return WithTrack2([](auto& t) { t[0].count = 0; }); },
                   0,
                   kEmpty000,
                   {missing}});
  // A count of 65535 lets the walk run on through the following tracks to
  // the end of the file, without finding the sector and without hanging.
  cases.push_back({"SectorCount65535",
                   [] {
                     return WithTrack2(
                         [](auto& t) {
                           for (auto& s : t)
                             s.count = 65535;
                         },
                         {MakeEntry("NONE", 2, 7, 2, 7)});
                   },
                   0,
                   kOnlyGood,
                   {"000/NONE: first sector (track 02 sector 07) is not on the image"}});

  cases.push_back({"DataSizeZero",
                   [] { return WithTrack2([](auto& t) { t[0].data_size = 0; }); },
                   0,
                   kEmpty000,
                   {missing}});
  // 65535 bytes declared: the sector comes in full, and the walk skips the
  // rest of the track, so the second sector of TWO is missing.
  cases.push_back(
      {"DataSize65535",
       [] {
         return WithTrack2([](auto& t) { t[0].data_size = 65535; }, {MakeEntry("TWO", 2, 1, 2, 2)});
       },
       0,
       {{"000", "<dir>"}, {"000/GOOD", kGood}, {"000/TWO", kGood + std::string(kSector, '\0')}},
       {"000/TWO: incomplete: the image holds 1024 of its 2048 bytes"}});

  // Sector numbers of 0x80 and above are compared as unsigned bytes.
  cases.push_back(
      {"HighSectorNumber",
       [] {
         return WithTrack2([](auto& t) { t[1].r = 0xF0; }, {MakeEntry("HIGHR", 2, 0xF0, 2, 0xF0)});
       },
       0,
       {{"000", "<dir>"}, {"000/GOOD", kGood}, {"000/HIGHR", std::string(kSector, '\xE5')}},
       {}});

  // 65 images: the first 64 are extracted, the rest is not seen.
  {
    Tree tree;
    for (int i = 0; i < 64; ++i) {
      char name[8];
      std::snprintf(name, sizeof name, "%03d", i);
      tree[name] = "<dir>";
      tree[std::string(name) + "/GOOD"] = kGood;
    }
    cases.push_back({"SixtyFiveImages",
                     [] { return d88build::Build(std::vector<Image>(65, SmallDisk().ToImage(3))); },
                     0,
                     tree,
                     {}});
  }

  // Output trees planted before the run.
  cases.push_back({"SymlinkForNumberedDirectory",
                   [] {
                     return d88build::Build({SmallDisk().ToImage(), SmallDisk().ToImage()});
                   },
                   1,
                   {{"000", "-> ../elsewhere"}, {"001", "<dir>"}, {"001/GOOD", kGood}},
                   {"out/000: is a symbolic link, not followed: image 0 skipped"},
                   [](const std::string& root) {
                     fs::create_directory(root + "/elsewhere");
                     fs::create_symlink("../elsewhere", root + "/out/000");
                     return "";
                   }});
  cases.push_back({"SymlinkForOutputFile",
                   [] { return SmallDisk().Build(); },
                   1,
                   {{"000", "<dir>"}, {"000/GOOD", "-> ../../victim"}},
                   {"out/000/GOOD: is a symbolic link, not followed"},
                   [](const std::string& root) {
                     d88build::WriteFile(root + "/victim", {'k', 'e', 'e', 'p'});
                     fs::create_directory(root + "/out/000");
                     fs::create_symlink("../../victim", root + "/out/000/GOOD");
                     return "";
                   }});
  cases.push_back({"DanglingSymlinkForOutputFile",
                   [] { return SmallDisk().Build(); },
                   1,
                   {{"000", "<dir>"}, {"000/GOOD", "-> ../../created"}},
                   {"out/000/GOOD: is a symbolic link, not followed"},
                   [](const std::string& root) {
                     fs::create_directory(root + "/out/000");
                     fs::create_symlink("../../created", root + "/out/000/GOOD");
                     return "";
                   }});
  // A hard link to a file outside is replaced, never written through.
  cases.push_back({"HardLinkForOutputFile",
                   [] { return SmallDisk().Build(); },
                   0,
                   kOnlyGood,
                   {},
                   [](const std::string& root) {
                     d88build::WriteFile(root + "/victim", {'k', 'e', 'e', 'p'});
                     fs::create_directory(root + "/out/000");
                     fs::create_hard_link(root + "/victim", root + "/out/000/GOOD");
                     return "";
                   }});
  cases.push_back({"RegularFileNamed000",
                   [] {
                     return d88build::Build({SmallDisk().ToImage(), SmallDisk().ToImage()});
                   },
                   1,
                   {{"000", "not a directory"}, {"001", "<dir>"}, {"001/GOOD", kGood}},
                   {"out/000: cannot enter directory: Not a directory: image 0 skipped"},
                   [](const std::string& root) {
                     d88build::WriteFile(root + "/out/000",
                                         Bytes{'n', 'o', 't', ' ', 'a', ' ', 'd', 'i', 'r', 'e',
                                               'c', 't', 'o', 'r', 'y'});
                     return "";
                   }});
  // A directory where the file should go: fails for root as well.
  cases.push_back({"DirectoryForOutputFile",
                   [] { return SmallDisk().Build(); },
                   1,
                   {{"000", "<dir>"}, {"000/GOOD", "<dir>"}},
                   {"out/000/GOOD: cannot create: Is a directory"},
                   [](const std::string& root) {
                     fs::create_directories(root + "/out/000/GOOD");
                     return "";
                   }});
  cases.push_back({"ReadOnlyOutputDirectory",
                   [] { return SmallDisk().Build(); },
                   1,
                   {},
                   {"out/000: cannot create directory: Permission denied: image 0 skipped"},
                   [](const std::string& root) {
                     fs::permissions(root + "/out", fs::perms::owner_read | fs::perms::owner_exec);
                     return "";
                   },
                   true});

  // Inputs that are not regular files are refused at once, without waiting
  // for a writer.
  cases.push_back({"InputIsADirectory",
                   [] { return Bytes{}; },
                   1,
                   {},
                   {"is a directory"},
                   [](const std::string& root) {
                     fs::create_directory(root + "/dir.d88");
                     return root + "/dir.d88";
                   }});
  cases.push_back({"InputIsAFifo",
                   [] { return Bytes{}; },
                   1,
                   {},
                   {"not a regular file"},
                   [](const std::string& root) {
                     std::string fifo = root + "/fifo.d88";
                     EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
                     return fifo;
                   }});
  return cases;
}

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.name;
}

class Hostile : public ::testing::TestWithParam<HostileCase> {};

// Everything under `root` but the output directory.
Tree Outside(const std::string& root) {
  Tree tree = Snapshot(root);
  std::erase_if(tree,
                [](const auto& e) { return e.first == "out" || e.first.starts_with("out/"); });
  return tree;
}

TEST_P(Hostile, RunsCleanly) {
  const HostileCase& c = GetParam();
  if (c.needs_permissions && ::geteuid() == 0) {
    GTEST_SKIP() << "runs as root, for whom directory permissions don't stop writes";
  }
  TempDir dir;
  fs::create_directory(dir / "out");
  std::string path = dir / "in.d88";
  ASSERT_TRUE(d88build::WriteFile(path, c.image()));
  if (c.setup) {
    std::string other = c.setup(dir.path());
    if (!other.empty()) {
      path = other;
    }
  }
  const Tree before = Outside(dir.path());
  const bool tmp_x_before = fs::exists(fs::symlink_status("/tmp/x"));

  std::vector<std::string> args = {D88UNPACK_EXE, "-C", "out"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  args.push_back(path);
  d88test::ProgramResult r = d88test::RunProgram(D88UNPACK_EXE, args, dir.path(), {}, 20);
  fs::permissions(dir / "out", fs::perms::owner_all, fs::perm_options::add);

  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(Snapshot(dir / "out"), c.tree);
  EXPECT_EQ(Outside(dir.path()), before);
  EXPECT_EQ(fs::exists(fs::symlink_status("/tmp/x")), tmp_x_before);
  for (const std::string& text : c.err_has) {
    EXPECT_NE(r.err.find(text), std::string::npos) << "missing: " << text << "\nstderr:\n" << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, Hostile, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& row) {
                           return std::string(row.param.name) + "_" + std::to_string(row.index);
                         });

// Sector IDs of 0x80 and above in every byte, straight through the reader,
// against the reference reader.
TEST(HostileReader, HighSectorIdsMatchAsUnsignedBytes) {
  Image image;
  image.media = 0x20;
  for (uint8_t v : {uint8_t{0x80}, uint8_t{0xA5}, uint8_t{0xFF}}) {
    d88build::Sector s;
    s.c = v;
    s.h = static_cast<uint8_t>(v ^ 0x01);
    s.r = static_cast<uint8_t>(v ^ 0x02);
    s.n = static_cast<uint8_t>(v == 0xFF ? 0xFF : 3);
    s.data = Pattern(300, v);
    image.tracks[7].push_back(s);
  }
  const Bytes bytes = d88build::Build(image);
  TempDir dir;
  ASSERT_TRUE(d88build::WriteFile(dir / "in.d88", bytes));
  d88::D88Image reader;
  ASSERT_TRUE(reader.Open(dir / "in.d88"));
  ASSERT_TRUE(reader.SelectImage(0));
  d88test::ReferenceReader ref(bytes);
  ASSERT_TRUE(ref.Select(0));
  for (const auto& s : image.tracks[7]) {
    uint8_t a[400] = {};
    uint8_t b[400] = {};
    EXPECT_EQ(reader.ReadSector(7, s.c, s.h, s.r, s.n, a, 400), 300);
    EXPECT_EQ(ref.ReadSector(7, s.c, s.h, s.r, s.n, b, 400), 300);
    EXPECT_EQ(0, std::memcmp(a, s.data.data(), 300));
    EXPECT_EQ(0, std::memcmp(b, s.data.data(), 300));
    // The same bytes read as signed values name no sector.
    EXPECT_EQ(reader.ReadSector(7, static_cast<int8_t>(s.c), s.h, s.r, s.n, a, 400), 0);
  }
}

}  // namespace
