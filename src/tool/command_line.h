// Command-line parsing.
//
//   d88unpack [OPTION]... IMAGE [-d]
//
// Options come before the image path. What follows the image path keeps the
// tool's original rules: IMAGE alone, IMAGE -d (no numbered directories), or
// IMAGE plus any one or two arguments, which are ignored; "-d" counts only as
// the sole argument after IMAGE.

#ifndef D88UNPACK_TOOL_COMMAND_LINE_H_
#define D88UNPACK_TOOL_COMMAND_LINE_H_

#include <cstdio>
#include <string>

namespace d88unpack {

struct Options {
  enum class Action {
    kExtract,     // run over the images
    kHelp,        // print the help text, status 0
    kVersion,     // print the version, status 0
    kUsageError,  // print `error` (if any) and the usage text, status 1
  };
  Action action = Action::kUsageError;
  bool make_subdirectories = true;
  bool list_only = false;
  std::string output_directory;  // empty: the working directory
  std::string image_path;
  std::string error;  // why the command line was refused, when it names a reason
  std::string program_name = "d88unpack";  // argument 0, for the usage text
};

Options ParseCommandLine(int argc, const char* const* argv);

// The two usage lines, with the program name in the first.
void PrintUsage(FILE* stream, const std::string& program_name);
// The usage lines followed by a line per option.
void PrintHelp(FILE* stream, const std::string& program_name);

}  // namespace d88unpack

#endif  // D88UNPACK_TOOL_COMMAND_LINE_H_
