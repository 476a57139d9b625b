// Reader for D88 disk image files.
//
// A D88 file holds one or more disk images back to back. Each image starts
// with a 688-byte header; all multi-byte values are little-endian.
//
//   Image header
//   0x000  16  disk name (bytes up to the first NUL)
//   0x010  11  name terminator, reserved, write-protect flag (not read)
//   0x01B   1  media type (0x00 2D, 0x10 2DD, 0x20 2HD, ...)
//   0x01C   4  disk size: bytes of this image, header included
//   0x020 656  track table: 164 x 32-bit offsets of each track's first
//              sector record, from the start of the image; 0 = no track
//
//   Sector record (a track is a sequence of these, each followed by its data)
//   0x0     1  C  cylinder
//   0x1     1  H  head
//   0x2     1  R  sector number
//   0x3     1  N  size code (128 << N bytes)
//   0x4     2  sector count: records on this track, carried by every record
//   0x6     8  density, deleted mark, status, reserved (not read)
//   0xE     2  data size: bytes of data that follow this 16-byte record
//
// Images are found by chaining disk sizes from offset 0. Sectors are found by
// walking a track's records from its first one and comparing IDs: the first
// record whose C, H, R and N all match wins; the walk ends after the record
// whose position equals its own sector count - 1, at a record whose sector
// count is 0, or at the end of the file. Anything cut off by the end of the
// file counts as missing.
//
// The reader never trusts the file: every read is positioned and checked for
// its length, offsets are 64-bit, and memory use is bounded whatever the
// image declares.

#ifndef D88UNPACK_D88_D88_IMAGE_H_
#define D88UNPACK_D88_D88_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace d88 {

// Little-endian assembly from unsigned bytes, independent of the host.
inline uint16_t ReadLE16(const uint8_t* p) {
  return static_cast<uint16_t>(static_cast<uint16_t>(p[0]) | (static_cast<uint16_t>(p[1]) << 8));
}
inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

class D88Image {
 public:
  static constexpr int kMaxImages = 64;
  static constexpr int kTrackCount = 164;
  static constexpr size_t kHeaderSize = 0x2B0;  // 688
  static constexpr size_t kNameOffset = 0x00;
  static constexpr size_t kNameSize = 16;
  static constexpr size_t kMediaTypeOffset = 0x1B;
  static constexpr size_t kDiskSizeOffset = 0x1C;
  static constexpr size_t kTrackTableOffset = 0x20;
  static constexpr size_t kRecordSize = 16;
  static constexpr size_t kRecordCountOffset = 4;
  static constexpr size_t kRecordDataSizeOffset = 14;

  D88Image();
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // Opens `path` for reading and counts its images. Returns false, with errno
  // telling why, if the file can't be opened or is not a regular file (a
  // directory, a FIFO, a device); a reader that held a file closes it first.
  // A file with no complete image header opens with 0 images.
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  int GetImageCount() const { return image_count_; }

  // Makes image `index` (0-based, file order) current. Returns false, leaving
  // no image current, if no file is open, the index is out of range or the
  // header can't be read in full.
  bool SelectImage(int index);

  int GetMediaType() const { return media_type_; }
  // The disk name as stored: up to 16 bytes, ending at the first NUL.
  std::string GetDiskName() const { return disk_name_; }
  uint32_t GetDiskSize() const { return disk_size_; }
  // File offset of image `index`, or -1 if there is no such image.
  int64_t GetImageOffset(int index) const;
  // Track table entry of the current image (0 for an absent index).
  uint32_t GetTrackOffset(int track) const;

  // Sector numbers of a track, used by ReadSectors to step from one track to
  // the next. 1 to 16 on a new reader.
  void SetSectorRange(int first, int last);

  // Copies at most `max_bytes` of the data of sector (c, h, r, n) on track
  // index `track` into `dest`. Returns the bytes copied: 0 if the sector is
  // not on the track, fewer than asked if its data is shorter or cut off by
  // the end of the file.
  int ReadSector(int track, int c, int h, int r, int n, uint8_t* dest, int max_bytes);

  // Reads `total_bytes` from a run of consecutive sectors starting at
  // (c, h, r, n) on track index `track`, in pieces of 128 << n bytes (the last
  // one may be shorter). After the last sector of the range the run goes on at
  // the first sector of the next track index, with h toggled and c stepped
  // when h wraps. Returns the bytes of the pieces that came in full; the run
  // ends at the first piece that doesn't.
  int ReadSectors(int track, int c, int h, int r, int n, uint8_t* dest, int total_bytes);

 private:
  // One sector record of an indexed track.
  struct Record {
    uint32_t id;           // C | H << 8 | R << 16 | N << 24
    uint32_t available;    // bytes of data present in the file (<= data size)
    uint64_t data_offset;  // file offset of the data
  };
  // What is known of one track of the current image.
  struct TrackState {
    bool indexed = false;
    bool complete = false;       // the walk ended within the indexed records
    uint32_t first = 0;          // first record in records_
    uint32_t count = 0;          // records indexed
    uint64_t resume_offset = 0;  // where the walk goes on when !complete
    uint32_t resume_position = 0;
  };

  void ClearCurrent();
  bool TrackStart(int track, uint64_t* offset) const;
  const TrackState& IndexTrack(int track);
  bool FindRecord(int track, uint32_t id, Record* found);
  // Walks records from `offset`, the `position`-th record of its track.
  // Calls visit(record) for each record that takes part in the walk; stops
  // when visit returns false, when the walk ends, or after `limit` records.
  // Returns true if the walk ended by itself.
  template <typename Visit>
  bool Walk(uint64_t* offset, uint32_t* position, uint32_t limit, Visit visit);
  bool ReadAt(uint64_t offset, uint8_t* dest, size_t size) const;
  size_t ReadUpTo(uint64_t offset, uint8_t* dest, size_t size) const;
  bool ReadRecordHeader(uint64_t offset, uint8_t* dest);
  // The bytes [offset, offset + size) of the file if the window holds all of
  // them, else nullptr.
  const uint8_t* InWindow(uint64_t offset, size_t size) const;
  int FetchRun(uint8_t* dest);

  // One piece of a run: where its data is and how much of it is wanted.
  struct Piece {
    uint64_t offset;
    int size;
  };

  int fd_ = -1;
  uint64_t file_size_ = 0;
  int image_count_ = 0;
  uint64_t image_offsets_[kMaxImages] = {};

  int64_t current_offset_ = -1;
  uint32_t disk_size_ = 0;
  uint32_t track_table_[kTrackCount] = {};
  int media_type_ = -1;
  std::string disk_name_;
  int first_sector_ = 1;
  int last_sector_ = 16;

  TrackState tracks_[kTrackCount];
  std::vector<Record> records_;
  std::vector<Piece> run_;
  std::vector<uint8_t> window_;
  uint64_t window_offset_ = 0;
  size_t window_length_ = 0;
};

}  // namespace d88

#endif  // D88UNPACK_D88_D88_IMAGE_H_
