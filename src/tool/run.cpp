#include "run.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "messages.h"
#include "output.h"

#ifndef D88UNPACK_VERSION
#define D88UNPACK_VERSION "unknown"
#endif

namespace d88unpack {
namespace {

constexpr int kMedia2D = 0x00;
constexpr int kMedia2HD = 0x20;

// Why `path` could not be opened as an image, given the errno of the attempt.
std::string OpenFailureReason(const std::string& path, int error_number) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
  }
  return std::strerror(error_number);
}

}  // namespace

int SectorsPerTrack(int media_type) {
  switch (media_type) {
    case kMedia2D:
      return 5;
    case kMedia2HD:
      return 8;
    default:
      return 0;
  }
}

int ExtractImages(d88::D88Image& image, const Options& options, const Console& console, int root,
                  const std::string& prefix, Workspace& work) {
  int status = kExitOk;
  const int count = image.GetImageCount();
  for (int i = 0; i < count; ++i) {
    if (!image.SelectImage(i)) {
      Warn(console, "image %d: cannot read its header", i);
      status = kExitFailure;
      continue;
    }
    const int media = image.GetMediaType();
    const int sectors = SectorsPerTrack(media);
    if (sectors == 0) {
      std::fflush(console.out);
      std::fputs(MessageText(Message::kUnsupported, console.shift_jis), console.err);
      continue;
    }
    std::fputs(MessageText(media == kMedia2D ? Message::kEdition2D : Message::kEdition2HD,
                           console.shift_jis),
               console.out);
    image.SetSectorRange(1, sectors);

    Extraction x{image, work, console, root, !options.list_only, prefix, i, 0, 0};
    if (options.make_subdirectories) {
      char name[16];
      std::snprintf(name, sizeof name, "%03d", i);
      if (x.write_files) {
        std::string error;
        x.dir = OpenSubdirectory(root, name, &error);
        if (x.dir < 0) {
          Warn(console, "%s%s: %s: image %d skipped", prefix.c_str(), name, error.c_str(), i);
          status = kExitFailure;
          continue;
        }
      }
      x.label += name;
      x.label += '/';
      std::fprintf(console.out, "\n[%s] -> %s\n", image.GetDiskName().c_str(), name);
    }
    RunDirectoryStage(x, sectors);
    if (x.failures > 0) {
      status = kExitFailure;
    }
    if (x.dir != root) {
      CloseDirectory(x.dir);
    }
  }
  return status;
}

int RunImages(d88::D88Image& image, const Options& options, const Console& console) {
  Workspace work;
  return RunImages(image, options, console, work);
}

int RunImages(d88::D88Image& image, const Options& options, const Console& console,
              Workspace& work) {
  std::string prefix;
  int root = AT_FDCWD;
  if (!options.output_directory.empty()) {
    std::string error;
    root = OpenOutputRoot(options.output_directory, &error);
    if (root < 0) {
      Warn(console, "%s: %s", options.output_directory.c_str(), error.c_str());
      return kExitFailure;
    }
    prefix = options.output_directory;
    if (prefix.back() != '/') {
      prefix += '/';
    }
  }

  if (!image.Open(options.image_path)) {
    int saved = errno;
    std::fflush(console.out);
    std::fputs(MessageText(Message::kCannotOpen, console.shift_jis), console.err);
    Warn(console, "%s: %s", options.image_path.c_str(),
         OpenFailureReason(options.image_path, saved).c_str());
    CloseDirectory(root);
    return kExitFailure;
  }

  int status = ExtractImages(image, options, console, root, prefix, work);
  CloseDirectory(root);
  return status;
}

int ToolMain(int argc, const char* const* argv, d88::D88Image& image, const Console& console) {
  Options options = ParseCommandLine(argc, argv);
  int status = kExitOk;
  switch (options.action) {
    case Options::Action::kHelp:
      PrintHelp(console.out, options.program_name);
      break;
    case Options::Action::kVersion:
      std::fprintf(console.out, "d88unpack %s\n", D88UNPACK_VERSION);
      break;
    case Options::Action::kUsageError:
      if (!options.error.empty()) {
        Warn(console, "%s", options.error.c_str());
      }
      PrintUsage(console.err, options.program_name);
      status = kExitFailure;
      break;
    case Options::Action::kExtract:
      status = RunImages(image, options, console);
      break;
  }
  // A write to standard output that failed at any point (a full disk, a
  // closed pipe) leaves the stream's error flag set even when the last flush
  // had nothing left to write.
  errno = 0;
  const bool flushed = std::fflush(console.out) == 0;
  if (!flushed || std::ferror(console.out)) {
    const int saved = errno;
    std::fprintf(console.err, "d88unpack: cannot write to standard output%s%s\n",
                 saved != 0 ? ": " : "", saved != 0 ? std::strerror(saved) : "");
    status = kExitFailure;
  }
  return status;
}

}  // namespace d88unpack
