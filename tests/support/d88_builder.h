// Builds D88 files from a description, for tests, the sample image and the
// benchmark. Nothing here reads an image; it only writes the bytes a disk
// image tool would have written, including the odd ones tests need
// (records in any order, wrong counts, cut-off data, bad offsets).

#ifndef D88UNPACK_TESTS_SUPPORT_D88_BUILDER_H_
#define D88UNPACK_TESTS_SUPPORT_D88_BUILDER_H_

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace d88build {

using Bytes = std::vector<uint8_t>;

struct Sector {
  uint8_t c = 0;
  uint8_t h = 0;
  uint8_t r = 1;
  uint8_t n = 3;
  Bytes data;
  std::optional<uint16_t> count;      // sector count in the record; default: records on the track
  std::optional<uint16_t> data_size;  // declared data size; default: data.size()
};

struct Image {
  std::string name;  // raw bytes; the first 16 are stored
  uint8_t media = 0x00;
  uint8_t write_protect = 0x00;
  std::map<int, std::vector<Sector>> tracks;  // track index -> records in file order
  std::map<int, uint32_t> track_offsets;      // track table entries to store instead
  std::optional<uint32_t> disk_size;          // disk size to store instead of the real one
};

// One image: header, then the tracks in ascending track index.
Bytes Build(const Image& image);
// Several images back to back.
Bytes Build(const std::vector<Image>& images);

// --- The title's own layout --------------------------------------------------

enum class Edition { k2D, k2HD };

int SectorsPerTrack(Edition edition);  // 5 or 8
int TrackCount(Edition edition);       // 80 (40 cylinders) or 154 (77 cylinders)
uint8_t MediaType(Edition edition);    // 0x00 or 0x20

constexpr int kSectorSize = 1024;

// A 16-byte directory entry as decoded (before inversion).
using Entry = std::array<uint8_t, 16>;
Entry MakeEntry(const std::string& name, int start_track, int start_sector, int end_track,
                int end_sector);

// A formatted disk of the title: every track present with sectors 1 to S of
// 1024 bytes, the directory on track 1 stored inverted, files stored plain.
class TitleDisk {
 public:
  TitleDisk(Edition edition, std::string disk_name);

  // Stores `data` (zero-padded to whole sectors) from (track, sector) on and
  // adds a directory entry for it. Returns the number of sectors used.
  int AddFile(const std::string& name, int track, int sector, const Bytes& data);
  // Stores the file in the next free sectors after the previous one (the
  // first file goes to track 2 sector 1).
  int AppendFile(const std::string& name, const Bytes& data);
  // Adds an entry as given, without storing any data.
  void AddEntry(const Entry& entry);

  // Where the next appended file would start.
  int next_track() const { return next_track_; }
  int next_sector() const { return next_sector_; }

  // The disk as an image. The directory ends with an end mark unless the
  // entries fill it.
  Image ToImage() const;

  Edition edition() const { return edition_; }

 private:
  Bytes& SectorData(int track, int sector);

  Edition edition_;
  std::string disk_name_;
  std::vector<Entry> entries_;
  std::map<std::pair<int, int>, Bytes> data_;  // (track, sector) -> contents
  int next_track_ = 2;
  int next_sector_ = 1;
};

// Deterministic filler bytes, different for every (seed, index).
Bytes Pattern(size_t size, uint32_t seed);

// Writes bytes to a file; returns false on failure.
bool WriteFile(const std::string& path, const Bytes& bytes);

}  // namespace d88build

#endif  // D88UNPACK_TESTS_SUPPORT_D88_BUILDER_H_
