// How command lines are read: options before the image path, the original
// rules after it.

#include "command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using d88unpack::Options;
using d88unpack::ParseCommandLine;
using Action = Options::Action;

Options Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "prog");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, ArgumentsAfterTheImageKeepTheirRules) {
  struct Case {
    std::vector<const char*> args;
    Action action;
    bool subdirectories;
  };
  const Case cases[] = {
      {{}, Action::kUsageError, true},
      {{"a.d88"}, Action::kExtract, true},
      {{"a.d88", "-d"}, Action::kExtract, false},
      {{"a.d88", "-D"}, Action::kExtract, true},
      {{"a.d88", "-d", "x"}, Action::kExtract, true},
      {{"a.d88", "x", "-d"}, Action::kExtract, true},
      {{"a.d88", "--list"}, Action::kExtract, true},  // not an option after the image
      {{"a.d88", "x", "y", "z"}, Action::kUsageError, true},
  };
  for (const Case& c : cases) {
    Options o = Parse(c.args);
    SCOPED_TRACE(c.args.size());
    EXPECT_EQ(o.action, c.action);
    if (c.action == Action::kExtract) {
      EXPECT_EQ(o.image_path, "a.d88");
      EXPECT_EQ(o.make_subdirectories, c.subdirectories);
      EXPECT_FALSE(o.list_only);
      EXPECT_EQ(o.output_directory, "");
    }
    EXPECT_EQ(o.error, "");
  }
}

TEST(CommandLineTest, LeadingOptions) {
  struct Case {
    std::vector<const char*> args;
    Action action;
    bool list;
    bool subdirectories;
    const char* directory;
    const char* image;
    const char* error;
  };
  const Case cases[] = {
      {{"-h"}, Action::kHelp, false, true, "", "", ""},
      {{"--help", "a.d88"}, Action::kHelp, false, true, "", "", ""},
      {{"-V"}, Action::kVersion, false, true, "", "", ""},
      {{"--version"}, Action::kVersion, false, true, "", "", ""},
      {{"-l", "a.d88"}, Action::kExtract, true, true, "", "a.d88", ""},
      {{"--list", "a.d88", "-d"}, Action::kExtract, true, false, "", "a.d88", ""},
      {{"-d", "a.d88"}, Action::kExtract, false, false, "", "a.d88", ""},
      {{"-ld", "a.d88"}, Action::kExtract, true, false, "", "a.d88", ""},
      {{"-C", "out", "a.d88"}, Action::kExtract, false, true, "out", "a.d88", ""},
      {{"-Cout", "a.d88"}, Action::kExtract, false, true, "out", "a.d88", ""},
      {{"-lC", "out", "a.d88"}, Action::kExtract, true, true, "out", "a.d88", ""},
      {{"--directory", "out", "a.d88"}, Action::kExtract, false, true, "out", "a.d88", ""},
      {{"--directory=out", "a.d88"}, Action::kExtract, false, true, "out", "a.d88", ""},
      {{"--", "-x.d88"}, Action::kExtract, false, true, "", "-x.d88", ""},
      {{"-l", "--", "--", "-d"}, Action::kExtract, true, false, "", "--", ""},
      {{"-x", "a.d88"}, Action::kUsageError, false, true, "", "", "unknown option '-x'"},
      {{"-lq", "a.d88"}, Action::kUsageError, false, true, "", "", "unknown option '-q'"},
      {{"--lis", "a.d88"}, Action::kUsageError, false, true, "", "", "unknown option '--lis'"},
      {{"--list=yes", "a.d88"},
       Action::kUsageError,
       false,
       true,
       "",
       "",
       "unknown option '--list=yes'"},
      {{"-C"}, Action::kUsageError, false, true, "", "", "option '-C' needs a directory"},
      {{"--directory="},
       Action::kUsageError,
       false,
       true,
       "",
       "",
       "option '--directory' needs a directory"},
      {{"-l"}, Action::kUsageError, false, true, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Options o = Parse(c.args);
    EXPECT_EQ(o.action, c.action);
    EXPECT_EQ(o.error, c.error);
    if (c.action == Action::kExtract) {
      EXPECT_EQ(o.list_only, c.list);
      EXPECT_EQ(o.make_subdirectories, c.subdirectories);
      EXPECT_EQ(o.output_directory, c.directory);
      EXPECT_EQ(o.image_path, c.image);
    }
  }
}

TEST(CommandLineTest, ProgramNameComesFromArgumentZero) {
  const char* with_path[] = {"/usr/bin/d88unpack", nullptr};
  EXPECT_EQ(ParseCommandLine(1, with_path).program_name, "/usr/bin/d88unpack");
  const char* empty[] = {"", nullptr};
  EXPECT_EQ(ParseCommandLine(1, empty).program_name, "d88unpack");
  const char* none[] = {nullptr};
  EXPECT_EQ(ParseCommandLine(0, none).program_name, "d88unpack");
}

}  // namespace
