// The run over a D88 file's images, and the program's entry.

#ifndef D88UNPACK_TOOL_RUN_H_
#define D88UNPACK_TOOL_RUN_H_

#include "command_line.h"
#include "d88_image.h"
#include "extract.h"

namespace d88unpack {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;

// Sectors per track of the title's edition for a media type, 0 if the title
// has no edition on such media.
int SectorsPerTrack(int media_type);

// Opens the image file and extracts (or lists) every image in it. Returns
// the exit status: 1 when the file can't be opened, the output directory
// can't be used, an image's header can't be read, or some directory or file
// could not be written out. Missing sectors and unsafe names are warned
// about but don't change the status.
int RunImages(d88::D88Image& image, const Options& options, const Console& console);
// The same with the caller's buffers, for a caller that runs many times.
int RunImages(d88::D88Image& image, const Options& options, const Console& console,
              Workspace& work);

// Extracts (or lists) every image of the file that `image` holds open, into
// directory handle `root`, whose path for messages is `prefix` ("" or ending
// in '/'). Returns the exit status.
int ExtractImages(d88::D88Image& image, const Options& options, const Console& console, int root,
                  const std::string& prefix, Workspace& work);

// The whole program: parses the command line and acts on it.
int ToolMain(int argc, const char* const* argv, d88::D88Image& image, const Console& console);

}  // namespace d88unpack

#endif  // D88UNPACK_TOOL_RUN_H_
