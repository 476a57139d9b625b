#include "d88_builder.h"

#include <cstdio>
#include <stdexcept>

namespace d88build {
namespace {

constexpr size_t kHeaderSize = 0x2B0;
constexpr int kTrackTableSize = 164;
constexpr int kDirectoryTrack = 1;

void PutLE16(Bytes& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void PutLE32(Bytes& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    out[at + static_cast<size_t>(i)] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
  }
}

}  // namespace

Bytes Build(const Image& image) {
  Bytes out(kHeaderSize, 0);
  for (size_t i = 0; i < image.name.size() && i < 16; ++i) {
    out[i] = static_cast<uint8_t>(image.name[i]);
  }
  out[0x1A] = image.write_protect;
  out[0x1B] = image.media;
  for (const auto& [track, sectors] : image.tracks) {
    if (track < 0 || track >= kTrackTableSize) {
      throw std::out_of_range("track index");
    }
    PutLE32(out, 0x20 + 4 * static_cast<size_t>(track), static_cast<uint32_t>(out.size()));
    for (const Sector& s : sectors) {
      size_t at = out.size();
      out.resize(at + 16 + s.data.size(), 0);
      out[at] = s.c;
      out[at + 1] = s.h;
      out[at + 2] = s.r;
      out[at + 3] = s.n;
      PutLE16(out, at + 4, s.count.value_or(static_cast<uint16_t>(sectors.size())));
      PutLE16(out, at + 14, s.data_size.value_or(static_cast<uint16_t>(s.data.size())));
      std::copy(s.data.begin(), s.data.end(), out.begin() + static_cast<ptrdiff_t>(at + 16));
    }
  }
  for (const auto& [track, offset] : image.track_offsets) {
    PutLE32(out, 0x20 + 4 * static_cast<size_t>(track), offset);
  }
  PutLE32(out, 0x1C, image.disk_size.value_or(static_cast<uint32_t>(out.size())));
  return out;
}

Bytes Build(const std::vector<Image>& images) {
  Bytes out;
  for (const Image& image : images) {
    Bytes one = Build(image);
    out.insert(out.end(), one.begin(), one.end());
  }
  return out;
}

int SectorsPerTrack(Edition edition) {
  return edition == Edition::k2D ? 5 : 8;
}
int TrackCount(Edition edition) {
  return edition == Edition::k2D ? 80 : 154;
}
uint8_t MediaType(Edition edition) {
  return edition == Edition::k2D ? 0x00 : 0x20;
}

Entry MakeEntry(const std::string& name, int start_track, int start_sector, int end_track,
                int end_sector) {
  Entry e{};
  for (size_t i = 0; i < 8; ++i) {
    e[i] = i < name.size() ? static_cast<uint8_t>(name[i]) : ' ';
  }
  e[8] = static_cast<uint8_t>(start_track);
  e[9] = static_cast<uint8_t>(start_sector);
  e[10] = static_cast<uint8_t>(end_track);
  e[11] = static_cast<uint8_t>(end_sector);
  return e;
}

TitleDisk::TitleDisk(Edition edition, std::string disk_name)
    : edition_(edition), disk_name_(std::move(disk_name)) {}

Bytes& TitleDisk::SectorData(int track, int sector) {
  Bytes& data = data_[{track, sector}];
  if (data.empty()) {
    data.assign(kSectorSize, 0xE5);  // a freshly formatted sector
  }
  return data;
}

int TitleDisk::AddFile(const std::string& name, int track, int sector, const Bytes& data) {
  const int s = SectorsPerTrack(edition_);
  int sectors = static_cast<int>((data.size() + kSectorSize - 1) / kSectorSize);
  if (sectors == 0) {
    sectors = 1;
  }
  int t = track;
  int r = sector;
  int end_track = t;
  int end_sector = r;
  for (int i = 0; i < sectors; ++i) {
    Bytes& out = SectorData(t, r);
    for (size_t b = 0; b < kSectorSize; ++b) {
      size_t from = static_cast<size_t>(i) * kSectorSize + b;
      out[b] = from < data.size() ? data[from] : 0;
    }
    end_track = t;
    end_sector = r;
    if (r == s) {
      ++t;
      r = 1;
    } else {
      ++r;
    }
  }
  entries_.push_back(MakeEntry(name, track, sector, end_track, end_sector));
  next_track_ = t;
  next_sector_ = r;
  return sectors;
}

int TitleDisk::AppendFile(const std::string& name, const Bytes& data) {
  return AddFile(name, next_track_, next_sector_, data);
}

void TitleDisk::AddEntry(const Entry& entry) {
  entries_.push_back(entry);
}

Image TitleDisk::ToImage() const {
  const int s = SectorsPerTrack(edition_);
  Image image;
  image.name = disk_name_;
  image.media = MediaType(edition_);

  // Decoded directory: entry 0 unused, the files, then the end mark (0xFF);
  // the rest of the track reads as end marks too.
  Bytes directory(static_cast<size_t>(s) * kSectorSize, 0xFF);
  for (size_t i = 0; i < 16; ++i) {
    directory[i] = 0;
  }
  for (size_t k = 0; k < entries_.size(); ++k) {
    size_t at = (k + 1) * 16;
    if (at + 16 > directory.size()) {
      break;
    }
    std::copy(entries_[k].begin(), entries_[k].end(),
              directory.begin() + static_cast<ptrdiff_t>(at));
  }

  for (int t = 0; t < TrackCount(edition_); ++t) {
    std::vector<Sector>& records = image.tracks[t];
    for (int r = 1; r <= s; ++r) {
      Sector sector;
      sector.c = static_cast<uint8_t>(t / 2);
      sector.h = static_cast<uint8_t>(t % 2);
      sector.r = static_cast<uint8_t>(r);
      sector.n = 3;
      if (t == kDirectoryTrack) {
        auto from = directory.begin() + static_cast<ptrdiff_t>((r - 1) * kSectorSize);
        sector.data.assign(from, from + kSectorSize);
        for (uint8_t& b : sector.data) {
          b = static_cast<uint8_t>(~b);
        }
      } else {
        auto found = data_.find({t, r});
        sector.data = found != data_.end() ? found->second : Bytes(kSectorSize, 0xE5);
      }
      records.push_back(std::move(sector));
    }
  }
  return image;
}

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace d88build
