#include "command_line.h"

#include <cstring>
#include <utility>

namespace d88unpack {

Options ParseCommandLine(int argc, const char* const* argv) {
  Options options;
  if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') {
    options.program_name = argv[0];
  }
  bool help = false;
  bool version = false;
  int i = 1;
  auto refuse = [&options](std::string why) {
    options.action = Options::Action::kUsageError;
    options.error = std::move(why);
    return options;
  };
  while (i < argc) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      break;
    }
    ++i;
    if (std::strcmp(arg, "--") == 0) {
      break;
    }
    if (arg[1] == '-') {
      const char* name = arg + 2;
      const char* value = std::strchr(name, '=');
      std::string key = value != nullptr ? std::string(name, value) : std::string(name);
      if (key == "directory") {
        if (value != nullptr) {
          options.output_directory = value + 1;
        } else if (i < argc) {
          options.output_directory = argv[i++];
        } else {
          return refuse("option '--directory' needs a directory");
        }
        if (options.output_directory.empty()) {
          return refuse("option '--directory' needs a directory");
        }
        continue;
      }
      if (value == nullptr && key == "help") {
        help = true;
      } else if (value == nullptr && key == "version") {
        version = true;
      } else if (value == nullptr && key == "list") {
        options.list_only = true;
      } else {
        return refuse(std::string("unknown option '") + arg + "'");
      }
      continue;
    }
    if (arg[1] == '\0') {
      return refuse("unknown option '-' (the image must be a file that can be read at any offset)");
    }
    // A cluster of single-letter options: -ld, -lC DIR, -CDIR.
    bool cluster_done = false;
    for (const char* p = arg + 1; *p != '\0' && !cluster_done; ++p) {
      switch (*p) {
        case 'h':
          help = true;
          break;
        case 'V':
          version = true;
          break;
        case 'l':
          options.list_only = true;
          break;
        case 'd':
          options.make_subdirectories = false;
          break;
        case 'C':
          if (p[1] != '\0') {
            options.output_directory = p + 1;
          } else if (i < argc) {
            options.output_directory = argv[i++];
          } else {
            return refuse("option '-C' needs a directory");
          }
          if (options.output_directory.empty()) {
            return refuse("option '-C' needs a directory");
          }
          cluster_done = true;  // the rest of the cluster was the directory
          break;
        default:
          return refuse(std::string("unknown option '-") + *p + "'");
      }
    }
  }
  if (help) {
    options.action = Options::Action::kHelp;
    return options;
  }
  if (version) {
    options.action = Options::Action::kVersion;
    return options;
  }
  int rest = argc - i;
  if (rest < 1 || rest > 3) {
    return refuse("");
  }
  options.image_path = argv[i];
  if (rest == 2 && std::strcmp(argv[i + 1], "-d") == 0) {
    options.make_subdirectories = false;
  }
  options.action = Options::Action::kExtract;
  return options;
}

void PrintUsage(FILE* stream, const std::string& program_name) {
  std::fprintf(stream, "Usage: %s [d88file]\n", program_name.c_str());
  std::fprintf(stream, "       -d : not make sub directory\n");
}

void PrintHelp(FILE* stream, const std::string& program_name) {
  PrintUsage(stream, program_name);
  std::fputs(
      "  -l, --list             list the files and check them, but write nothing\n"
      "  -C, --directory DIR    extract under DIR instead of the current directory\n"
      "  -d                     put every file in one directory (as -d after d88file)\n"
      "  -h, --help             print this help and exit\n"
      "  -V, --version          print the version and exit\n"
      "  --                     end of options (for a d88file whose name starts with -)\n",
      stream);
}

}  // namespace d88unpack
