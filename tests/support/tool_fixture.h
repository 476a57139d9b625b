// A fixture for running d88unpack as a user would: a scratch directory with
// the image file in it and an empty working directory beside it.

#ifndef D88UNPACK_TESTS_SUPPORT_TOOL_FIXTURE_H_
#define D88UNPACK_TESTS_SUPPORT_TOOL_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "tool_runner.h"

namespace d88test {

class ToolTest : public ::testing::Test {
 protected:
  ToolTest() : work_(dir_ / "work") { std::filesystem::create_directory(work_); }

  // Writes the image file beside the working directory; returns the path to
  // pass on the command line (relative to the working directory).
  std::string WriteImage(const d88build::Bytes& bytes, const std::string& name = "image.d88") {
    EXPECT_TRUE(d88build::WriteFile(dir_ / name, bytes));
    return "../" + name;
  }
  std::string WriteImages(const std::vector<d88build::Image>& images) {
    return WriteImage(d88build::Build(images));
  }

  // Runs d88unpack in the working directory; `args` follow the program name.
  ProgramResult Run(const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {"d88unpack"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(D88UNPACK_EXE, argv, work_, env);
  }

  // Everything in the working directory.
  std::map<std::string, std::string> Output() const { return Snapshot(work_); }
  // Everything in the scratch directory but the image files and the work
  // directory's own contents: what a run must never touch.
  std::map<std::string, std::string> Outside() const {
    std::map<std::string, std::string> outside;
    for (const auto& [path, contents] : Snapshot(dir_.path())) {
      if (path.rfind("work/", 0) != 0) {
        outside[path] = contents;
      }
    }
    return outside;
  }

  static std::string Str(const d88build::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
  }
  // What a snapshot shows for a file of these bytes.
  static std::string Sum(const d88build::Bytes& bytes) { return Summary(Str(bytes)); }
  static std::string Sum(const std::string& bytes) { return Summary(bytes); }

  TempDir dir_;
  std::string work_;
};

// The fixed messages as the tool prints them in a UTF-8 (or C) locale.
inline const std::string kRecognised2D = "2D版(PC88/X1)を認識しました.\n";
inline const std::string kRecognised2HD = "2HD版(PC98)を認識しました.\n";
inline const std::string kUnsupported = "未対応のディスクイメージ形式です.\n";
inline const std::string kCannotOpen = "ファイルをオープンできません.\n";

}  // namespace d88test

#endif  // D88UNPACK_TESTS_SUPPORT_TOOL_FIXTURE_H_
