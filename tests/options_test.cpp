// The leading options of the real executable: help, version, list-only runs,
// an output directory, "-d" before the image, "--", and refused options.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "d88_image.h"
#include "run.h"
#include "tool_runner.h"

namespace {

using d88build::Edition;
using d88build::Pattern;
using d88build::TitleDisk;
using d88test::ProgramResult;
using d88test::RunProgram;
using d88test::Snapshot;
using d88test::TempDir;
using Tree = std::map<std::string, std::string>;

const std::string kUsage =
    "Usage: d88unpack [d88file]\n"
    "       -d : not make sub directory\n";

// Runs the tool with argument 0 "d88unpack" and `args` after it.
ProgramResult Tool(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv = {"d88unpack"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(D88UNPACK_EXE, argv, cwd);
}

// Two images of the title with a file that shares its name across them.
d88build::Bytes GoodFile() {
  TitleDisk a(Edition::k2D, "DISK A");
  a.AppendFile("README", Pattern(1000, 1));
  a.AppendFile("data", Pattern(6 * 1024, 2));
  TitleDisk b(Edition::k2HD, "DISK B");
  b.AppendFile("README", Pattern(3000, 3));
  b.AppendFile("PROG", Pattern(9 * 1024, 4));
  return d88build::Build({a.ToImage(), b.ToImage()});
}

// Images the tool has to warn about: a file whose first sector is gone, one
// whose later sector is gone, names that can't be used as file names, and a
// media type the title never came on.
d88build::Bytes DamagedFile() {
  TitleDisk a(Edition::k2D, "DAMAGED");
  a.AppendFile("GOOD", Pattern(2 * 1024, 5));
  a.AppendFile("NOSTART", Pattern(1024, 6));   // track 2 sector 3
  a.AppendFile("HOLE", Pattern(4 * 1024, 7));  // track 2 sector 4 .. track 3 sector 2
  a.AddEntry(d88build::MakeEntry("..", 4, 1, 4, 1));
  a.AddEntry(d88build::MakeEntry("A/B", 4, 2, 4, 2));
  a.AppendFile("LAST", Pattern(1024, 8));
  d88build::Image image = a.ToImage();
  auto drop = [&image](int track, int sector) {
    std::erase_if(image.tracks[track],
                  [sector](const d88build::Sector& s) { return s.r == sector; });
  };
  drop(2, 3);
  drop(3, 1);
  d88build::Image odd = TitleDisk(Edition::k2D, "2DD").ToImage();
  odd.media = 0x10;
  TitleDisk c(Edition::k2HD, "AFTER");
  c.AppendFile("TAIL", Pattern(1500, 9));
  return d88build::Build({image, odd, c.ToImage()});
}

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(d88build::WriteFile(image_, GoodFile()));
    ASSERT_TRUE(d88build::WriteFile(damaged_, DamagedFile()));
    std::filesystem::create_directory(work_);
  }

  // A fresh empty directory under the scratch directory.
  std::string NewDir(const std::string& name) {
    std::string path = scratch_ / name;
    std::filesystem::create_directory(path);
    return path;
  }

  TempDir scratch_;
  const std::string image_ = scratch_ / "good.d88";
  const std::string damaged_ = scratch_ / "damaged.d88";
  const std::string work_ = scratch_ / "work";
};

TEST_F(OptionsTest, HelpGoesToStandardOutputWithAnOptionPerLine) {
  for (const char* option : {"-h", "--help"}) {
    SCOPED_TRACE(option);
    ProgramResult r = Tool({option}, work_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.substr(0, kUsage.size()), kUsage);
    // After the usage lines, one line per option, each starting with its names.
    std::vector<std::string> lines;
    for (size_t at = kUsage.size(); at < r.out.size();) {
      size_t end = r.out.find('\n', at);
      ASSERT_NE(end, std::string::npos) << "unterminated last line";
      lines.push_back(r.out.substr(at, end - at));
      at = end + 1;
    }
    const std::vector<std::string> names = {"-l, --list ", "-C, --directory DIR ", "-d ",
                                            "-h, --help ", "-V, --version ",       "-- "};
    ASSERT_EQ(lines.size(), names.size()) << r.out;
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("  " + names[i], 0), 0u) << lines[i];
      EXPECT_NE(lines[i].find_first_not_of(' ', 2 + names[i].size()), std::string::npos)
          << "no description: " << lines[i];
    }
    EXPECT_TRUE(Snapshot(work_).empty());
  }
  // Help wins over an image on the same command line: nothing is extracted.
  ProgramResult r = Tool({"-h", image_}, work_);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Snapshot(work_).empty());
}

TEST_F(OptionsTest, VersionComesFromTheProjectVersion) {
  for (const char* option : {"-V", "--version"}) {
    SCOPED_TRACE(option);
    ProgramResult r = Tool({option}, work_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("d88unpack ") + D88UNPACK_VERSION + "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(OptionsTest, RefusedCommandLinesNameTheProblemAndShowTheUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // what the first line of standard error must hold
  };
  const std::vector<Case> cases = {
      {{"-x", image_}, "'-x'"},
      {{"-lq", image_}, "'-q'"},
      {{"--bogus", image_}, "'--bogus'"},
      {{"--list=yes", image_}, "'--list=yes'"},
      {{"--dir", "out", image_}, "'--dir'"},
      {{"-", image_}, "'-'"},
      {{"-C"}, "'-C'"},
      {{"--directory"}, "'--directory'"},
      {{"--directory=", image_}, "'--directory'"},
      {{"-x.d88"}, "'-x'"},  // an image named like an option needs ./ or --
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ProgramResult r = Tool(c.args, work_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_GT(r.err.size(), kUsage.size());
    const std::string first = r.err.substr(0, r.err.size() - kUsage.size());
    EXPECT_EQ(r.err.substr(first.size()), kUsage);
    EXPECT_EQ(first.rfind("d88unpack: ", 0), 0u) << first;
    EXPECT_NE(first.find(c.message), std::string::npos) << first;
    EXPECT_TRUE(Snapshot(work_).empty());
  }
}

TEST_F(OptionsTest, ListPrintsWhatARunPrintsAndWritesNothing) {
  // Our own images, a file that can't be opened, and D88 files of other
  // software, which list garbage or nothing.
  std::vector<std::string> files = {image_, damaged_, scratch_ / "missing.d88"};
  for (const auto& entry : std::filesystem::directory_iterator(D88_REALWORLD_DIR)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".d88" || ext == ".d77") {
      files.push_back(entry.path().string());
    }
  }
  for (const std::string& file : files) {
    for (const std::vector<std::string>& rest : std::vector<std::vector<std::string>>{
             {file}, {file, "-d"}, {file, "x"}, {file, "-d", "x"}}) {
      SCOPED_TRACE(rest.size() > 1 ? file + " " + rest[1] : file);
      const std::string run_dir = NewDir("run");
      const std::string list_dir = NewDir("list");
      ProgramResult run = Tool(rest, run_dir);
      if (file == image_ || file == damaged_) {
        ASSERT_FALSE(Snapshot(run_dir).empty());
      }

      for (const char* option : {"-l", "--list"}) {
        std::vector<std::string> args = {option};
        args.insert(args.end(), rest.begin(), rest.end());
        ProgramResult list = Tool(args, list_dir);
        EXPECT_EQ(list.out, run.out);
        EXPECT_EQ(list.err, run.err);
        EXPECT_EQ(list.status, run.status);
        EXPECT_TRUE(Snapshot(list_dir).empty());
      }
      std::filesystem::remove_all(run_dir);
      std::filesystem::remove_all(list_dir);
    }
  }
}

TEST_F(OptionsTest, ListOfTheDamagedImageWarnsAboutEachProblem) {
  ProgramResult r = Tool({"-l", damaged_}, work_);
  EXPECT_EQ(r.status, 0);
  for (const char* needle : {"000/NOSTART: first sector", "000/HOLE: incomplete",
                             "unsafe file name \"..\"", "unsafe file name \"A/B\""}) {
    EXPECT_NE(r.err.find(needle), std::string::npos) << needle << " not in:\n" << r.err;
  }
  EXPECT_NE(r.out.find("\n[AFTER] -> 002\n"), std::string::npos) << r.out;
  EXPECT_TRUE(Snapshot(work_).empty());
}

TEST_F(OptionsTest, ListLeavesAnEarlierOutputTreeAlone) {
  ASSERT_EQ(Tool({image_}, work_).status, 0);
  d88build::WriteFile(work_ + "/000/README", {'o', 'l', 'd'});
  std::filesystem::remove(work_ + "/001/PROG");
  const Tree before = Snapshot(work_);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-l", image_}, {"-l", image_, "-d"}, {"-ld", image_}}) {
    EXPECT_EQ(Tool(args, work_).status, 0);
    EXPECT_EQ(Snapshot(work_), before);
  }
}

TEST_F(OptionsTest, DirectoryOptionExtractsUnderTheGivenDirectory) {
  const std::string reference = NewDir("reference");
  ProgramResult expected = Tool({image_}, reference);
  ASSERT_EQ(expected.status, 0);
  const Tree tree = Snapshot(reference);

  struct Case {
    std::vector<std::string> args;
    std::string out_dir;  // relative to work_
  };
  const std::vector<Case> cases = {
      {{"-C", "out", image_}, "out"},
      {{"-Cout", image_}, "out"},
      {{"--directory", "out", image_}, "out"},
      {{"--directory=out", image_}, "out"},
      {{"-C", "out/", image_}, "out"},
      {{"-C", "nested/deeper", image_}, "nested/deeper"},
      {{"-C", ".", image_}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_ + "/" + c.out_dir);
    ProgramResult r = Tool(c.args, work_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Snapshot(work_ + "/" + c.out_dir), tree);
    if (!c.out_dir.empty()) {
      EXPECT_FALSE(std::filesystem::exists(work_ + "/000"));
    }
  }

  // An absolute directory, with the tool started somewhere else.
  const std::string target = NewDir("absolute");
  ProgramResult r = Tool({"-C", target, image_}, work_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Snapshot(target), tree);
}

TEST_F(OptionsTest, DirectoryOptionNeedsAnExistingDirectory) {
  d88build::WriteFile(work_ + "/plain", {'x'});
  for (const char* dir : {"missing", "plain", "missing/sub"}) {
    SCOPED_TRACE(dir);
    const Tree before = Snapshot(work_);
    for (const char* list : {"", "-l"}) {
      std::vector<std::string> args;
      if (*list != '\0') {
        args.push_back(list);
      }
      args.insert(args.end(), {"-C", dir, image_});
      ProgramResult r = Tool(args, work_);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind(std::string("d88unpack: ") + dir + ": ", 0), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_EQ(Snapshot(work_), before);
    }
  }
}

TEST_F(OptionsTest, DirectoryOptionLabelsWarningsWithTheDirectory) {
  std::filesystem::create_directory(work_ + "/out");
  ProgramResult r = Tool({"-C", "out", damaged_}, work_);
  EXPECT_NE(r.err.find("d88unpack: out/000/HOLE: incomplete"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(work_ + "/out/000/HOLE"));
  EXPECT_TRUE(std::filesystem::exists(work_ + "/out/002/TAIL"));
  EXPECT_FALSE(std::filesystem::exists(work_ + "/000"));
}

TEST_F(OptionsTest, DashDBeforeTheImageIsDashDAfterIt) {
  const std::string after = NewDir("after");
  ProgramResult expected = Tool({image_, "-d"}, after);
  ASSERT_EQ(expected.status, 0);
  const Tree tree = Snapshot(after);
  ASSERT_EQ(tree.count("README"), 1u);
  ASSERT_EQ(tree.count("000"), 0u);

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-d", image_}, {"-d", image_, "x"}, {"-d", image_, "-d"}, {"-d", "--", image_}}) {
    SCOPED_TRACE(args[1] + (args.size() > 2 ? " " + args[2] : ""));
    std::filesystem::remove_all(work_);
    std::filesystem::create_directory(work_);
    ProgramResult r = Tool(args, work_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected.out);
    EXPECT_EQ(Snapshot(work_), tree);
  }
  // With -C the files go straight into the directory given.
  std::filesystem::remove_all(work_);
  std::filesystem::create_directories(work_ + "/out");
  EXPECT_EQ(Tool({"-d", "-C", "out", image_}, work_).status, 0);
  EXPECT_EQ(Snapshot(work_ + "/out"), tree);
}

TEST_F(OptionsTest, ArgumentsAfterTheImageKeepTheirRules) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool numbered;  // whether 000 is made under out/
  };
  const std::vector<Case> cases = {
      {{"-C", "out", image_, "-d"}, 0, false},
      {{"-C", "out", image_, "-D"}, 0, true},
      {{"-C", "out", image_, "-l"}, 0, true},  // an option after the image is just a word
      {{"-C", "out", image_, "-d", "x"}, 0, true},
      {{"-C", "out", image_, "a", "b", "c"}, 1, false},
      {{"-C", "out"}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_ + "/out");
    ProgramResult r = Tool(c.args, work_);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(std::filesystem::exists(work_ + "/out/000/README"), c.numbered);
    if (c.status == 1) {
      EXPECT_EQ(r.err, kUsage);
      EXPECT_EQ(Snapshot(work_ + "/out"), Tree{});
    }
  }
}

TEST_F(OptionsTest, DoubleDashEndsTheOptions) {
  // Images whose names look like options, in the directory the tool runs in.
  d88build::WriteFile(work_ + "/-x.d88", GoodFile());
  d88build::WriteFile(work_ + "/--list", GoodFile());
  const Tree images = Snapshot(work_);
  const std::string reference = NewDir("reference");
  ProgramResult expected = Tool({image_}, reference);
  const Tree tree = Snapshot(reference);

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--", "-x.d88"}, {"./-x.d88"}, {"--", "--list"}, {"--", "--list", "x"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ProgramResult r = Tool(args, work_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected.out);
    Tree written = Snapshot(work_);
    std::erase_if(written, [&images](const auto& entry) { return images.count(entry.first) != 0; });
    EXPECT_EQ(written, tree);
    std::filesystem::remove_all(work_ + "/000");
    std::filesystem::remove_all(work_ + "/001");
  }
  // Options before "--" still count.
  ProgramResult r = Tool({"-l", "--", "--list"}, work_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected.out);
  EXPECT_EQ(Snapshot(work_), images);
}

TEST_F(OptionsTest, AFailedWriteToStandardOutputFailsTheRun) {
  FILE* full = std::fopen("/dev/full", "w");
  if (full == nullptr) {
    GTEST_SKIP() << "no /dev/full";
  }
  // The last thing this image's run prints is a warning, which flushes
  // standard output first: the final flush then finds nothing left to write.
  TitleDisk disk(Edition::k2D, "LAST WARNS");
  disk.AppendFile("FIRST", Pattern(1024, 1));
  disk.AddEntry(d88build::MakeEntry("GONE", 40, 1, 40, 1));
  d88build::Image last_warns = disk.ToImage();
  last_warns.tracks.erase(40);
  const std::string last_warns_path = scratch_ / "last_warns.d88";
  ASSERT_TRUE(d88build::WriteFile(last_warns_path, d88build::Build(last_warns)));

  const std::vector<std::vector<std::string>> cases = {
      {"-V"}, {"--help"}, {"-l", image_}, {"-l", last_warns_path}, {"-l", damaged_}};
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    std::vector<const char*> argv = {"d88unpack"};
    for (const std::string& a : args) {
      argv.push_back(a.c_str());
    }
    FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    std::clearerr(full);
    d88::D88Image reader;
    d88unpack::Console console{full, err, false};
    EXPECT_EQ(d88unpack::ToolMain(static_cast<int>(argv.size()), argv.data(), reader, console), 1);
    std::rewind(err);
    std::string text;
    for (int ch; (ch = std::fgetc(err)) != EOF;) {
      text.push_back(static_cast<char>(ch));
    }
    std::fclose(err);
    EXPECT_NE(text.find("d88unpack: cannot write to standard output"), std::string::npos) << text;
  }
  std::fclose(full);
}

}  // namespace
