// Whole runs of the program: the command line, the run over the images, the
// output tree, exit statuses, console encodings and output failures.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

#include "d88_builder.h"
#include "extract.h"
#include "run.h"
#include "tool_fixture.h"

namespace {

namespace fs = std::filesystem;
using d88build::Bytes;
using d88build::Edition;
using d88build::Image;
using d88build::Pattern;
using d88build::TitleDisk;
using d88test::kCannotOpen;
using d88test::kRecognised2D;
using d88test::kRecognised2HD;
using d88test::kUnsupported;
using Tree = std::map<std::string, std::string>;

// A 2D and a 2HD disk that share a file name, and the tree they extract to.
struct TwoDisks {
  TwoDisks() {
    TitleDisk a(Edition::k2D, "DISK A");
    a.AppendFile("COMMON", Pattern(1024, 1));
    a.AppendFile("alpha", Pattern(6 * 1024, 2));
    TitleDisk b(Edition::k2HD, "DISK B");
    b.AppendFile("COMMON", Pattern(2048, 3));
    b.AppendFile("BETA", Pattern(9 * 1024, 4));
    images = {a.ToImage(), b.ToImage()};
  }
  std::vector<Image> images;
  const std::string out_a =
      "COMMON     START:02 01    END:02 01   SIZE:0400\n"
      "alpha_     START:02 02    END:03 02   SIZE:1800\n";
  const std::string out_b =
      "COMMON     START:02 01    END:02 02   SIZE:0800\n"
      "BETA       START:02 03    END:03 03   SIZE:2400\n";
  std::string Stdout() const {
    return kRecognised2D + "\n[DISK A] -> 000\n" + out_a + kRecognised2HD + "\n[DISK B] -> 001\n" +
           out_b;
  }
  Tree Files() const {
    return {{"000", "<dir>"},
            {"000/COMMON", Sum(Pattern(1024, 1))},
            {"000/alpha_", Sum(Pattern(6 * 1024, 2))},
            {"001", "<dir>"},
            {"001/COMMON", Sum(Pattern(2048, 3))},
            {"001/BETA", Sum(Pattern(9 * 1024, 4))}};
  }
  static std::string Sum(const Bytes& b) {
    return d88test::Summary(std::string(b.begin(), b.end()));
  }
};

using EndToEndTest = d88test::ToolTest;

TEST_F(EndToEndTest, ExtractsEveryImageIntoItsNumberedDirectory) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, disks.Stdout());
  EXPECT_EQ(Output(), disks.Files());

  // A second run over the same output reuses the directories and replaces
  // the files.
  fs::resize_file(work_ + "/001/BETA", 5);
  auto again = Run({path});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.out, disks.Stdout());
  EXPECT_EQ(Output(), disks.Files());
}

TEST_F(EndToEndTest, SampleImageFromTheGenerator) {
  auto made = d88test::RunProgram(D88SAMPLE_EXE, {"d88sample", dir_ / "sample.d88"}, dir_.path());
  ASSERT_EQ(made.status, 0) << made.err;
  auto run = Run({"../sample.d88"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kRecognised2D +
                         "\n[SAMPLE DISK 2D] -> 000\n"
                         "README     START:02 01    END:02 01   SIZE:0400\n"
                         "LOADER     START:02 02    END:02 03   SIZE:0800\n"
                         "map01_     START:02 04    END:03 05   SIZE:1c00\n" +
                         kRecognised2HD +
                         "\n[SAMPLE DISK 2HD] -> 001\n"
                         "README     START:02 01    END:02 01   SIZE:0400\n"
                         "PROGRAM    START:02 02    END:03 05   SIZE:3000\n"
                         "scene_     START:03 06    END:03 08   SIZE:0c00\n");
  auto out = Output();
  EXPECT_EQ(out.size(), 8u);
  EXPECT_EQ(d88test::ReadFileBytes(work_ + "/001/README").substr(0, 40),
            "This file came off the 2HD sample disk.\n");
  EXPECT_EQ(d88test::ReadFileBytes(work_ + "/001/PROGRAM").size(), 12u * 1024);
}

TEST_F(EndToEndTest, DashDPutsEveryFileInTheWorkingDirectory) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  auto run = Run({path, "-d"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRecognised2D + disks.out_a + kRecognised2HD + disks.out_b);
  Tree files = disks.Files();
  EXPECT_EQ(Output(), (Tree{{"COMMON", files["001/COMMON"]},  // the later image's file wins
                            {"alpha_", files["000/alpha_"]},
                            {"BETA", files["001/BETA"]}}));
}

TEST_F(EndToEndTest, ArgumentsAfterTheImage) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  const std::string usage = "Usage: d88unpack [d88file]\n       -d : not make sub directory\n";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    bool subdirectories;
  };
  const Case cases[] = {
      {"no arguments", {}, 1, false},
      {"four arguments", {path, "-d", "x", "y"}, 1, false},
      {"-d compared exactly", {path, "-D"}, 0, true},
      {"any other word", {path, "keep"}, 0, true},
      {"-d with one more argument", {path, "-d", "x"}, 0, true},
      {"two extra arguments", {path, "x", "y"}, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work_);
    fs::create_directory(work_);
    auto run = Run(c.args);
    EXPECT_EQ(run.status, c.status);
    if (c.status == 1) {
      EXPECT_EQ(run.err, usage);
      EXPECT_EQ(run.out, "");
      EXPECT_TRUE(Output().empty());
    } else {
      EXPECT_EQ(run.out, disks.Stdout());
      EXPECT_EQ(Output(), disks.Files());
    }
  }
}

TEST_F(EndToEndTest, ImageFilesThatCannotBeRead) {
  ASSERT_EQ(mkfifo((dir_ / "fifo.d88").c_str(), 0600), 0);
  fs::create_directory(dir_ / "dir.d88");
  struct Case {
    std::string path;
    std::string reason;
  };
  const Case cases[] = {
      {"../missing.d88", "No such file or directory"},
      {"../dir.d88", "is a directory"},
      {"../fifo.d88", "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto run = Run({c.path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kCannotOpen + "d88unpack: " + c.path + ": " + c.reason + "\n");
  }
  EXPECT_TRUE(Output().empty());
}

TEST_F(EndToEndTest, AListingThatCannotBeWrittenFailsTheRun) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  auto run = d88test::RunProgram(D88UNPACK_EXE, {"d88unpack", path}, work_, {}, 60, "/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "d88unpack: cannot write to standard output: No space left on device\n");
  EXPECT_EQ(Output(), disks.Files());
}

TEST_F(EndToEndTest, FilesWithoutAUsableImageSucceedQuietly) {
  for (size_t size : {0, 100, 687}) {
    SCOPED_TRACE(size);
    std::string path = WriteImage(Bytes(size, 0));
    auto run = Run({path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
  EXPECT_TRUE(Output().empty());
}

TEST_F(EndToEndTest, UnsupportedMediaAreSkippedWithoutADirectory) {
  TwoDisks disks;
  Image dd = disks.images[0];
  dd.media = 0x10;  // 2DD
  std::string path = WriteImages({disks.images[0], dd, disks.images[1]});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, kUnsupported);
  EXPECT_EQ(run.out, kRecognised2D + "\n[DISK A] -> 000\n" + disks.out_a + kRecognised2HD +
                         "\n[DISK B] -> 002\n" + disks.out_b);
  auto out = Output();
  EXPECT_TRUE(out.count("000") && out.count("002"));
  EXPECT_FALSE(out.count("001"));
}

TEST_F(EndToEndTest, MessagesFollowTheLocaleCharacterSet) {
  TwoDisks dd_disks;
  Image dd = dd_disks.images[0];
  dd.media = 0x10;
  std::string path = WriteImages({dd_disks.images[0], dd, dd_disks.images[1]});
  const std::string sjis_2d =
      "2D\x94\xc5(PC88/X1)\x82\xf0\x94\x46\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n";
  const std::string sjis_2hd =
      "2HD\x94\xc5(PC98)\x82\xf0\x94\x46\x8e\xaf\x82\xb5\x82\xdc\x82\xb5\x82\xbd.\n";
  const std::string sjis_unsupported =
      "\x96\xa2\x91\xce\x89\x9e\x82\xcc\x83\x66\x83\x42\x83\x58\x83\x4e\x83\x43\x83\x81\x81\x5b\x83"
      "\x57"
      "\x8c\x60\x8e\xae\x82\xc5\x82\xb7.\n";
  const std::string sjis_cannot_open =
      "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x83\x49\x81\x5b\x83\x76\x83\x93\x82\xc5\x82\xab\x82"
      "\xdc"
      "\x82\xb9\x82\xf1.\n";

  // A Shift-JIS locale made for this test.
  d88test::TempDir locales;
  std::string make = "localedef -f SHIFT_JIS -i ja_JP " + (locales / "ja_JP.SJIS") +
                     " --no-warnings=ascii >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0) << "localedef failed";
  const std::vector<std::string> sjis_env = {"LOCPATH=" + locales.path(), "LC_ALL=ja_JP.SJIS"};

  struct Case {
    const char* what;
    std::vector<std::string> env;
    bool sjis;
  };
  const Case cases[] = {
      {"C locale", {}, false},
      {"UTF-8 locale", {"LC_ALL=C.UTF-8"}, false},
      {"installed Shift-JIS locale", sjis_env, true},
      {"LC_CTYPE decides",
       {"LOCPATH=" + locales.path(), "LC_ALL=", "LANG=C", "LC_CTYPE=ja_JP.SJIS"},
       true},
      {"Shift-JIS locale that is not installed", {"LC_ALL=", "LANG=ja_JP.SJIS"}, true},
      {"CP932 by name", {"LC_ALL=ja_JP.CP932"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto run = Run({path, "-d"}, c.env);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, (c.sjis ? sjis_2d : kRecognised2D) + dd_disks.out_a +
                           (c.sjis ? sjis_2hd : kRecognised2HD) + dd_disks.out_b);
    EXPECT_EQ(run.err, c.sjis ? sjis_unsupported : kUnsupported);
    auto missing = Run({"../missing.d88"}, c.env);
    EXPECT_EQ(missing.err.substr(0, missing.err.find('\n') + 1),
              c.sjis ? sjis_cannot_open : kCannotOpen);
  }
}

// Where a numbered directory should go there is something else: that image
// is skipped whole, reported, and the run goes on with the next one.
TEST_F(EndToEndTest, NumberedDirectoryThatCannotBeUsed) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  fs::create_directory(dir_ / "elsewhere");
  struct Case {
    const char* what;
    std::function<void()> plant;
    std::string reason;
    std::string planted;
  };
  const Case cases[] = {
      {"symbolic link to a directory",
       [&] { fs::create_directory_symlink("../elsewhere", work_ + "/000"); },
       "is a symbolic link, not followed", "-> ../elsewhere"},
      {"dangling symbolic link", [&] { fs::create_symlink("../nowhere", work_ + "/000"); },
       "is a symbolic link, not followed", "-> ../nowhere"},
      {"regular file", [&] { d88build::WriteFile(work_ + "/000", {'x'}); },
       "cannot enter directory: Not a directory", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(work_);
    fs::create_directory(work_);
    c.plant();
    auto outside = Outside();
    auto run = Run({path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "d88unpack: 000: " + c.reason + ": image 0 skipped\n");
    EXPECT_EQ(run.out, kRecognised2D + kRecognised2HD + "\n[DISK B] -> 001\n" + disks.out_b);
    Tree expected = disks.Files();
    std::erase_if(expected, [](const auto& e) { return e.first.rfind("000", 0) == 0; });
    expected["000"] = c.planted;
    EXPECT_EQ(Output(), expected);
    EXPECT_EQ(Outside(), outside);
    EXPECT_FALSE(fs::exists(dir_ / "001"));
  }
}

TEST_F(EndToEndTest, OutputFilesAreNeverWrittenThroughLinks) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  d88build::WriteFile(dir_ / "victim", {'k', 'e', 'e', 'p'});
  fs::create_directory(work_ + "/000");
  fs::create_symlink("../../victim", work_ + "/000/COMMON");
  fs::create_directory(work_ + "/001");
  fs::create_hard_link(dir_ / "victim", work_ + "/001/COMMON");
  auto run = Run({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "d88unpack: 000/COMMON: is a symbolic link, not followed\n");
  EXPECT_EQ(run.out, disks.Stdout());
  Tree expected = disks.Files();
  expected["000/COMMON"] = "-> ../../victim";
  EXPECT_EQ(Output(), expected);  // the hard link was replaced, not written through
  EXPECT_EQ(d88test::ReadFileBytes(dir_ / "victim"), "keep");
}

TEST_F(EndToEndTest, AFileThatCannotBeCreatedIsReportedAndTheRunGoesOn) {
  TwoDisks disks;
  std::string path = WriteImages(disks.images);
  fs::create_directories(work_ + "/000/alpha_");  // a directory where a file goes
  auto run = Run({path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "d88unpack: 000/alpha_: cannot create: Is a directory\n");
  Tree expected = disks.Files();
  expected["000/alpha_"] = "<dir>";
  EXPECT_EQ(Output(), expected);
}

// Runs the program's code in this process, with its console on temporary
// files, for what a separate process can't easily be made to meet.
class InProcessTest : public ::testing::Test {
 protected:
  InProcessTest() {
    console_.out = std::tmpfile();
    console_.err = std::tmpfile();
  }
  ~InProcessTest() override {
    std::fclose(console_.out);
    std::fclose(console_.err);
  }
  static std::string Contents(FILE* f) {
    std::fflush(f);
    std::string text;
    std::rewind(f);
    for (int ch; (ch = std::fgetc(f)) != EOF;) {
      text.push_back(static_cast<char>(ch));
    }
    return text;
  }
  d88unpack::Console console_;
  d88::D88Image image_;
  d88test::TempDir dir_;
};

TEST_F(InProcessTest, WithoutArgumentZeroTheUsageNamesTheTool) {
  const char* argv[] = {nullptr};
  EXPECT_EQ(d88unpack::ToolMain(0, argv, image_, console_), 1);
  EXPECT_EQ(Contents(console_.err),
            "Usage: d88unpack [d88file]\n       -d : not make sub directory\n");
  EXPECT_EQ(Contents(console_.out), "");
}

TEST_F(InProcessTest, AnImageWhoseHeaderIsGoneIsReportedAndFails) {
  TitleDisk disk(Edition::k2D, "KEPT");
  disk.AppendFile("FILE", Pattern(1024, 1));
  Bytes bytes = d88build::Build({disk.ToImage(), disk.ToImage()});
  std::string path = dir_ / "image.d88";
  ASSERT_TRUE(d88build::WriteFile(path, bytes));
  ASSERT_TRUE(image_.Open(path));
  ASSERT_EQ(image_.GetImageCount(), 2);
  // The file shrinks after the scan counted both images.
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(bytes.size() / 2 + 100)), 0);
  int root = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
  d88unpack::Options options;
  d88unpack::Workspace work;
  EXPECT_EQ(d88unpack::ExtractImages(image_, options, console_, root, "", work), 1);
  close(root);
  EXPECT_EQ(Contents(console_.err), "d88unpack: image 1: cannot read its header\n");
  EXPECT_EQ(Contents(console_.out), d88test::kRecognised2D + "\n[KEPT] -> 000\n" +
                                        "FILE       START:02 01    END:02 01   SIZE:0400\n");
  EXPECT_TRUE(fs::exists(dir_ / "000/FILE"));
  EXPECT_FALSE(fs::exists(dir_ / "001"));
}

}  // namespace
