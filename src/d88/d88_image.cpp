#include "d88_image.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace d88 {
namespace {

// A track that holds more records than this is indexed only this far; a
// sector that isn't among them is looked for by walking on from there.
constexpr uint32_t kMaxIndexedPerTrack = 1u << 16;
// Records indexed for the current image at most (16 bytes each). Real disks
// need a few thousand; hostile ones start the index afresh when it is full.
constexpr size_t kRecordBudget = 2 * kMaxIndexedPerTrack;
// Sector records are read through a window so that walking a track takes one
// read rather than one per record. The window holds the data between the
// records too, and a run's pieces that lie in it are copied from there, so
// the usual front-to-back extraction reads each byte of the file once. It
// stays small enough to sit in a core's cache.
constexpr size_t kWindowSize = 128 * 1024;
// Gaps of at most this many bytes between two sectors' data are read along
// with them (into a scratch area) so that a run is fetched in one call.
constexpr uint64_t kMaxGap = 512;
constexpr int kMaxIov = 1024 < IOV_MAX ? 1024 : IOV_MAX;

uint32_t MakeId(int c, int h, int r, int n) {
  return static_cast<uint32_t>(c) | (static_cast<uint32_t>(h) << 8) |
         (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(n) << 24);
}

bool IsByte(int v) {
  return v >= 0 && v <= 255;
}

}  // namespace

D88Image::D88Image() {
  records_.reserve(kRecordBudget);
}

D88Image::~D88Image() {
  Close();
}

void D88Image::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  fd_ = -1;
  file_size_ = 0;
  image_count_ = 0;
  ClearCurrent();
}

bool D88Image::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  fd_ = fd;
  file_size_ = static_cast<uint64_t>(st.st_size);

  uint8_t header[kHeaderSize];
  uint64_t offset = 0;
  while (image_count_ < kMaxImages) {
    if (!ReadAt(offset, header, kHeaderSize)) {
      break;
    }
    image_offsets_[image_count_++] = offset;
    uint32_t disk_size = ReadLE32(header + kDiskSizeOffset);
    // A size that can't even hold the header would make the next image start
    // on top of this one: count the bytes once and stop.
    if (disk_size < kHeaderSize) {
      break;
    }
    offset += disk_size;
  }
  return true;
}

int64_t D88Image::GetImageOffset(int index) const {
  if (index < 0 || index >= image_count_) {
    return -1;
  }
  return static_cast<int64_t>(image_offsets_[index]);
}

uint32_t D88Image::GetTrackOffset(int track) const {
  return (track >= 0 && track < kTrackCount) ? track_table_[track] : 0;
}

void D88Image::ClearCurrent() {
  current_offset_ = -1;
  disk_size_ = 0;
  media_type_ = -1;
  disk_name_.clear();
  std::fill(std::begin(track_table_), std::end(track_table_), 0u);
  std::fill(std::begin(tracks_), std::end(tracks_), TrackState{});
  records_.clear();
  window_length_ = 0;
}

bool D88Image::SelectImage(int index) {
  if (fd_ < 0) {
    return false;
  }
  ClearCurrent();
  if (index < 0 || index >= image_count_) {
    return false;
  }
  uint8_t header[kHeaderSize];
  if (!ReadAt(image_offsets_[index], header, kHeaderSize)) {
    return false;
  }
  current_offset_ = static_cast<int64_t>(image_offsets_[index]);
  for (int t = 0; t < kTrackCount; ++t) {
    track_table_[t] = ReadLE32(header + kTrackTableOffset + 4 * static_cast<size_t>(t));
  }
  media_type_ = header[kMediaTypeOffset];
  disk_size_ = ReadLE32(header + kDiskSizeOffset);
  const char* name = reinterpret_cast<const char*>(header + kNameOffset);
  disk_name_.assign(name, strnlen(name, kNameSize));
  return true;
}

void D88Image::SetSectorRange(int first, int last) {
  first_sector_ = first;
  last_sector_ = last;
}

size_t D88Image::ReadUpTo(uint64_t offset, uint8_t* dest, size_t size) const {
  size_t done = 0;
  while (done < size) {
    uint64_t at = offset + done;
    if (at > static_cast<uint64_t>(INT64_MAX)) {
      break;
    }
    ssize_t got = ::pread(fd_, dest + done, size - done, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    done += static_cast<size_t>(got);
  }
  return done;
}

bool D88Image::ReadAt(uint64_t offset, uint8_t* dest, size_t size) const {
  return ReadUpTo(offset, dest, size) == size;
}

bool D88Image::ReadRecordHeader(uint64_t offset, uint8_t* dest) {
  if (offset < window_offset_ || offset - window_offset_ + kRecordSize > window_length_) {
    if (window_.empty()) {
      window_.resize(kWindowSize);
    }
    window_offset_ = offset;
    window_length_ = ReadUpTo(offset, window_.data(), window_.size());
    if (window_length_ < kRecordSize) {
      return false;
    }
  }
  std::memcpy(dest, window_.data() + (offset - window_offset_), kRecordSize);
  return true;
}

bool D88Image::TrackStart(int track, uint64_t* offset) const {
  if (fd_ < 0 || current_offset_ < 0 || track < 0 || track >= kTrackCount) {
    return false;
  }
  uint32_t entry = track_table_[track];
  // An entry at or past the disk size points outside the image: no track.
  if (entry == 0 || entry >= disk_size_) {
    return false;
  }
  *offset = static_cast<uint64_t>(current_offset_) + entry;
  return true;
}

template <typename Visit>
bool D88Image::Walk(uint64_t* offset, uint32_t* position, uint32_t limit, Visit visit) {
  uint8_t raw[kRecordSize];
  for (uint32_t i = 0; i < limit; ++i) {
    // A record cut off by the end of the file ends the walk; so does the end
    // of the file itself. Every record moves on by at least 16 bytes, so no
    // walk outlasts the file.
    if (!ReadRecordHeader(*offset, raw)) {
      return true;
    }
    uint32_t count = ReadLE16(raw + kRecordCountOffset);
    uint32_t data_size = ReadLE16(raw + kRecordDataSizeOffset);
    if (count == 0) {
      return true;
    }
    Record record;
    record.id = ReadLE32(raw);
    record.data_offset = *offset + kRecordSize;
    record.available =
        record.data_offset >= file_size_
            ? 0
            : static_cast<uint32_t>(std::min<uint64_t>(data_size, file_size_ - record.data_offset));
    uint32_t here = *position;
    *offset = record.data_offset + data_size;
    *position = here + 1;
    if (!visit(record)) {
      return false;
    }
    // The count that ends the walk is the one this record carries.
    if (here == count - 1) {
      return true;
    }
  }
  return false;
}

const D88Image::TrackState& D88Image::IndexTrack(int track) {
  TrackState& state = tracks_[track];
  if (state.indexed) {
    return state;
  }
  uint64_t offset = 0;
  if (!TrackStart(track, &offset)) {
    state.indexed = true;
    state.complete = true;
    return state;
  }
  if (records_.size() + kMaxIndexedPerTrack > kRecordBudget) {
    std::fill(std::begin(tracks_), std::end(tracks_), TrackState{});
    records_.clear();
  }
  state.first = static_cast<uint32_t>(records_.size());
  uint32_t position = 0;
  state.complete = Walk(&offset, &position, kMaxIndexedPerTrack, [this](const Record& record) {
    records_.push_back(record);
    return true;
  });
  state.count = static_cast<uint32_t>(records_.size()) - state.first;
  state.resume_offset = offset;
  state.resume_position = position;
  state.indexed = true;
  return state;
}

bool D88Image::FindRecord(int track, uint32_t id, Record* found) {
  // A run can step past the last track index, and a directory entry can name
  // any track up to 255: neither has a state to look at.
  if (track < 0 || track >= kTrackCount) {
    return false;
  }
  const TrackState& state = IndexTrack(track);
  for (uint32_t i = state.first; i < state.first + state.count; ++i) {
    if (records_[i].id == id) {
      *found = records_[i];
      return true;
    }
  }
  if (state.complete) {
    return false;
  }
  uint64_t offset = state.resume_offset;
  uint32_t position = state.resume_position;
  bool hit = false;
  Walk(&offset, &position, UINT32_MAX, [&](const Record& record) {
    if (record.id != id) {
      return true;
    }
    *found = record;
    hit = true;
    return false;
  });
  return hit;
}

int D88Image::ReadSector(int track, int c, int h, int r, int n, uint8_t* dest, int max_bytes) {
  if (max_bytes <= 0 || dest == nullptr || !IsByte(c) || !IsByte(h) || !IsByte(r) || !IsByte(n)) {
    return 0;
  }
  Record record;
  if (!FindRecord(track, MakeId(c, h, r, n), &record)) {
    return 0;
  }
  size_t want = std::min<size_t>(record.available, static_cast<size_t>(max_bytes));
  if (const uint8_t* held = InWindow(record.data_offset, want)) {
    std::memcpy(dest, held, want);
    return static_cast<int>(want);
  }
  return static_cast<int>(ReadUpTo(record.data_offset, dest, want));
}

int D88Image::ReadSectors(int track, int c, int h, int r, int n, uint8_t* dest, int total_bytes) {
  if (total_bytes <= 0 || dest == nullptr || !IsByte(n)) {
    return 0;
  }
  // Pieces above 64 KiB can't come in full from any record (data sizes are
  // 16-bit), so a larger size code only needs to stay larger.
  const int piece = n >= 13 ? (1 << 20) : (128 << n);

  // Find every piece of the run first, then fetch them together.
  run_.clear();
  int located = 0;
  while (located < total_bytes) {
    int want = std::min(piece, total_bytes - located);
    Record record;
    if (!IsByte(c) || !IsByte(h) || !IsByte(r) || !FindRecord(track, MakeId(c, h, r, n), &record) ||
        record.available < static_cast<uint32_t>(want)) {
      break;
    }
    run_.push_back(Piece{record.data_offset, want});
    located += want;
    if (r == last_sector_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = first_sector_;
    } else {
      ++r;
    }
  }
  return FetchRun(dest);
}

const uint8_t* D88Image::InWindow(uint64_t offset, size_t size) const {
  if (size == 0 || offset < window_offset_ || offset - window_offset_ > window_length_ ||
      size > window_length_ - (offset - window_offset_)) {
    return nullptr;
  }
  return window_.data() + (offset - window_offset_);
}

int D88Image::FetchRun(uint8_t* dest) {
  int done = 0;
  size_t i = 0;
  uint8_t scratch[kMaxGap];
  struct iovec iov[kMaxIov];
  while (i < run_.size()) {
    if (const uint8_t* held = InWindow(run_[i].offset, static_cast<size_t>(run_[i].size))) {
      std::memcpy(dest + done, held, static_cast<size_t>(run_[i].size));
      done += run_[i].size;
      ++i;
      continue;
    }
    // Gather pieces whose data lie close together in the file into one read.
    size_t end = i;
    int iovs = 0;
    size_t bytes = 0;
    uint64_t next = run_[i].offset;
    int at = done;
    while (end < run_.size() && iovs + 2 <= kMaxIov) {
      const Piece& p = run_[end];
      if (p.offset < next || p.offset - next > kMaxGap ||
          (end > i && InWindow(p.offset, static_cast<size_t>(p.size)) != nullptr)) {
        break;
      }
      if (p.offset > next) {
        iov[iovs++] = {scratch, static_cast<size_t>(p.offset - next)};
        bytes += p.offset - next;
      }
      iov[iovs++] = {dest + at, static_cast<size_t>(p.size)};
      bytes += static_cast<size_t>(p.size);
      at += p.size;
      next = p.offset + static_cast<uint64_t>(p.size);
      ++end;
    }
    ssize_t got = -1;
    if (run_[i].offset <= static_cast<uint64_t>(INT64_MAX)) {
      do {
        got = ::preadv(fd_, iov, iovs, static_cast<off_t>(run_[i].offset));
      } while (got < 0 && errno == EINTR);
    }
    if (got < 0 || static_cast<size_t>(got) != bytes) {
      // A short gathered read: take the pieces one at a time so that the
      // run ends exactly at the first piece that doesn't come in full.
      for (; i < end; ++i) {
        size_t size = static_cast<size_t>(run_[i].size);
        if (ReadUpTo(run_[i].offset, dest + done, size) != size) {
          return done;
        }
        done += run_[i].size;
      }
      continue;
    }
    done = at;
    i = end;
  }
  return done;
}

}  // namespace d88
