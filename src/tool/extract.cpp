#include "extract.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "output.h"

namespace d88unpack {
namespace {

constexpr int kDirectoryTrack = 1;
constexpr int kSectorSizeCode = 3;  // 1024-byte sectors
constexpr int kSectorSize = 1024;
constexpr uint8_t kEndMark = 0xFF;

// The entry's name: bytes 0 to 7 up to the first space, with "_" after it
// when it starts with a lowercase letter, ending at a NUL if it holds one.
std::string DecodeName(const uint8_t* entry) {
  char name[10] = {};
  int length = 0;
  while (length < 8 && entry[length] != ' ') {
    name[length] = static_cast<char>(entry[length]);
    ++length;
  }
  if (entry[0] >= 'a' && entry[0] <= 'z') {
    name[length] = '_';
  }
  return std::string(name);
}

}  // namespace

void Warn(const Console& console, const char* format, ...) {
  std::fflush(console.out);
  std::fputs("d88unpack: ", console.err);
  va_list args;
  va_start(args, format);
  std::vfprintf(console.err, format, args);
  va_end(args);
  std::fputc('\n', console.err);
}

std::string Printable(const std::string& name) {
  std::string shown;
  for (unsigned char ch : name) {
    if (ch < 0x20 || ch == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", ch);
      shown += escaped;
    } else {
      shown.push_back(static_cast<char>(ch));
    }
  }
  return shown;
}

void RunDirectoryStage(Extraction& x, int sectors_per_track) {
  uint8_t* area = x.work.directory.data();
  // Nothing of an earlier image may be read as an entry of this one.
  std::memset(area, 0, Workspace::kDirectoryAreaSize);
  const int directory_bytes =
      std::min(sectors_per_track * kSectorSize, static_cast<int>(Workspace::kDirectoryAreaSize));
  x.image.ReadSectors(kDirectoryTrack, kDirectoryTrack / 2, kDirectoryTrack % 2, 1, kSectorSizeCode,
                      area, directory_bytes);
  for (size_t i = 0; i < Workspace::kDirectoryAreaSize; ++i) {
    area[i] ^= 0xFF;
  }
  const int s = sectors_per_track;
  for (int k = 1; k < Workspace::kEntries; ++k) {
    const uint8_t* entry = area + k * Workspace::kEntrySize;
    if (entry[0] == kEndMark) {
      break;
    }
    std::string name = DecodeName(entry);
    int st = entry[8];
    int ss = entry[9];
    int et = entry[10];
    int es = entry[11];
    int32_t size = ((et * s + es) - (st * s + ss) + 1) * kSectorSize;
    std::fprintf(x.console.out, "%-9s  START:%02x %02x    END:%02x %02x   SIZE:%04x\n",
                 name.c_str(), st, ss, et, es, static_cast<uint32_t>(size));
    x.entry_index = k;
    ExtractFile(x, name, st, st / 2, st % 2, ss, kSectorSizeCode, 0, size);
  }
}

bool ExtractFile(Extraction& x, const std::string& name, int track, int c, int h, int r, int n,
                 int skip, int size) {
  const int64_t total = static_cast<int64_t>(skip) + size;
  if (size <= 0 || skip < 0) {
    return false;
  }
  if (!IsSafeFileName(name)) {
    Warn(x.console, "image %d entry %d: unsafe file name \"%s\": not written", x.image_index,
         x.entry_index, Printable(name).c_str());
    return false;
  }
  const std::string path = x.label + Printable(name);
  if (total > static_cast<int64_t>(x.work.transfer.size())) {
    Warn(x.console, "%s: %lld bytes is more than any disk holds: not written", path.c_str(),
         static_cast<long long>(total));
    return false;
  }
  uint8_t* buffer = x.work.transfer.data();
  int got = x.image.ReadSectors(track, c, h, r, n, buffer, static_cast<int>(total));
  if (got <= 0) {
    Warn(x.console, "%s: first sector (track %02x sector %02x) is not on the image: not written",
         path.c_str(), track, r);
    return false;
  }
  if (got < total) {
    // Never let bytes of an earlier file stand in for what is missing.
    if (x.write_files) {
      std::memset(buffer + got, 0, static_cast<size_t>(total - got));
    }
    Warn(x.console, "%s: incomplete: the image holds %d of its %lld bytes, the rest is zeros",
         path.c_str(), got > skip ? got - skip : 0, static_cast<long long>(size));
  }
  if (!x.write_files) {
    return true;
  }
  std::string error;
  if (!WriteNewFile(x.dir, name, buffer + skip, static_cast<size_t>(size), &error)) {
    Warn(x.console, "%s: %s", path.c_str(), error.c_str());
    ++x.failures;
    return false;
  }
  return true;
}

}  // namespace d88unpack
