// The directory stage: reading a disk's own file directory, listing it and
// writing each file it names.
//
// The title's disks keep their directory on track index 1 (C 0, H 1),
// sectors 1 to S, every byte stored inverted. Decoded, it is a sequence of
// 16-byte entries; entry 0 is not a file, and the first entry whose first
// byte is 0xFF ends the list.
//
//   Directory entry (decoded)
//   0   8  name, padded with spaces
//   8   1  start track (track index)
//   9   1  start sector
//   10  1  end track
//   11  1  end sector
//   12  4  not used here
//
// A file takes every 1024-byte sector from its start to its end in sector
// order: the rest of the start track, then sectors 1 to S of each following
// track index. Sectors of track t carry C = t / 2, H = t % 2. File data is
// stored plain.

#ifndef D88UNPACK_TOOL_EXTRACT_H_
#define D88UNPACK_TOOL_EXTRACT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "d88_image.h"

namespace d88unpack {

// The run's buffers, allocated once and reused for every image and file.
struct Workspace {
  // A directory track of 8 sectors of 1024 bytes.
  static constexpr size_t kDirectoryAreaSize = 8 * 1024;
  // The largest extent an entry can declare: from track 0 sector 0 to track
  // 255 sector 255 on a disk of 8 sectors per track is 2296 sectors.
  static constexpr size_t kTransferSize = 2296 * 1024;
  static constexpr int kEntrySize = 16;
  static constexpr int kEntries = kDirectoryAreaSize / kEntrySize;

  // Left uninitialised: the directory stage clears the area for each image
  // and ExtractFile fills the transfer buffer before it writes any of it, so
  // the pages a run never uses are never touched.
  Workspace()
      : directory_storage(std::make_unique_for_overwrite<uint8_t[]>(kDirectoryAreaSize)),
        transfer_storage(std::make_unique_for_overwrite<uint8_t[]>(kTransferSize)),
        directory(directory_storage.get(), kDirectoryAreaSize),
        transfer(transfer_storage.get(), kTransferSize) {}
  std::unique_ptr<uint8_t[]> directory_storage;
  std::unique_ptr<uint8_t[]> transfer_storage;
  std::span<uint8_t> directory;
  std::span<uint8_t> transfer;
};

struct Console {
  FILE* out = stdout;
  FILE* err = stderr;
  bool shift_jis = false;  // the Japanese messages as Shift-JIS rather than UTF-8
};

// Prints "d88unpack: " and the formatted text on standard error, after
// flushing standard output so that the two keep their order on one terminal.
void Warn(const Console& console, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A name from a disk made safe to show in a message: control bytes become \xNN.
std::string Printable(const std::string& name);

// What the directory stage of one image works with.
struct Extraction {
  d88::D88Image& image;
  Workspace& work;
  const Console& console;
  int dir = -1;             // directory handle the files go into
  bool write_files = true;  // false: list and check, write nothing
  std::string label;        // path of `dir` for messages: "", "000/", "out/000/"
  int image_index = 0;
  int entry_index = 0;
  int failures = 0;  // files that could not be written out
};

// Reads, decodes and lists the current image's directory and extracts every
// file it names. `sectors_per_track` is S.
void RunDirectoryStage(Extraction& x, int sectors_per_track);

// Reads `skip` + `size` bytes from the run of sectors that starts at
// (c, h, r, n) on track index `track`, and writes `size` of them, from `skip`
// on, as the file `name`. Bytes that the image doesn't hold (a later sector
// missing) are written as zeros and reported. Returns false, writing nothing,
// when nothing can be read, the size is 0 or less, or the name is unsafe.
bool ExtractFile(Extraction& x, const std::string& name, int track, int c, int h, int r, int n,
                 int skip, int size);

}  // namespace d88unpack

#endif  // D88UNPACK_TOOL_EXTRACT_H_
