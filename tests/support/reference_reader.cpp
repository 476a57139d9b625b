#include "reference_reader.h"

#include <algorithm>
#include <cstring>

namespace d88test {
namespace {

uint32_t LE16(const uint8_t* p) {
  return p[0] | (p[1] << 8);
}
uint32_t LE32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

ReferenceReader::ReferenceReader(std::vector<uint8_t> file) : file_(std::move(file)) {
  uint64_t offset = 0;
  while (offsets_.size() < 64 && Has(offset, 688)) {
    offsets_.push_back(offset);
    uint32_t size = LE32(&file_[offset + 0x1C]);
    if (size < 688) {
      break;
    }
    offset += size;
  }
}

bool ReferenceReader::Select(int index) {
  current_ = -1;
  disk_size_ = 0;
  media_ = -1;
  name_.clear();
  if (index < 0 || index >= ImageCount()) {
    return false;
  }
  const uint8_t* h = &file_[offsets_[index]];
  current_ = static_cast<int64_t>(offsets_[index]);
  for (int t = 0; t < 164; ++t) {
    table_[t] = LE32(h + 0x20 + 4 * t);
  }
  media_ = h[0x1B];
  disk_size_ = LE32(h + 0x1C);
  name_.assign(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 16));
  return true;
}

int ReferenceReader::ReadSector(int track, int c, int h, int r, int n, uint8_t* dest,
                                int max_bytes) const {
  if (current_ < 0 || track < 0 || track > 163 || table_[track] == 0 ||
      table_[track] >= disk_size_) {
    return 0;
  }
  uint64_t pos = static_cast<uint64_t>(current_) + table_[track];
  for (uint64_t i = 0;; ++i) {
    if (!Has(pos, 16)) {
      return 0;
    }
    const uint8_t* rec = &file_[pos];
    uint32_t count = LE16(rec + 4);
    uint32_t size = LE16(rec + 14);
    if (count == 0) {
      return 0;
    }
    pos += 16;
    if (rec[0] == c && rec[1] == h && rec[2] == r && rec[3] == n) {
      if (max_bytes <= 0) {
        return 0;
      }
      uint64_t k = std::min<uint64_t>(size, static_cast<uint64_t>(max_bytes));
      k = std::min<uint64_t>(k, pos <= file_.size() ? file_.size() - pos : 0);
      std::memcpy(dest, file_.data() + pos, k);
      return static_cast<int>(k);
    }
    pos += size;
    if (i == count - 1) {
      return 0;
    }
  }
}

int ReferenceReader::ReadSectors(int track, int c, int h, int r, int n, uint8_t* dest,
                                 int total_bytes) const {
  if (n < 0 || n > 255) {
    return 0;
  }
  const int64_t piece = 128LL << std::min(n, 30);
  int done = 0;
  while (done < total_bytes) {
    int want = static_cast<int>(std::min<int64_t>(piece, total_bytes - done));
    int got = ReadSector(track, c, h, r, n, dest + done, want);
    if (got < want) {
      return done;
    }
    done += want;
    if (r == last_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = first_;
    } else {
      ++r;
    }
  }
  return done;
}

}  // namespace d88test
