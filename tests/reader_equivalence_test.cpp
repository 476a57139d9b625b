// D88Image against the literal record walk (ReferenceReader) where the
// reader's buffering can go wrong: tracks and runs larger than its read
// window, records in shuffled order with duplicates and odd counts, data cut
// off at every kind of boundary, and access in extraction order as well as at
// random, across images of one file.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "d88_image.h"
#include "reference_reader.h"
#include "tool_runner.h"

namespace {

using d88build::Bytes;
using d88build::Image;
using d88build::Sector;

class Differential {
 public:
  explicit Differential(const Bytes& file) : plain_(file) {
    path_ = dir_ / "image.d88";
    EXPECT_TRUE(d88build::WriteFile(path_, file));
    EXPECT_TRUE(reader_.Open(path_));
    EXPECT_EQ(reader_.GetImageCount(), plain_.ImageCount());
  }

  int ImageCount() const { return plain_.ImageCount(); }

  void Select(int index, int first, int last) {
    ASSERT_EQ(reader_.SelectImage(index), plain_.Select(index));
    ASSERT_EQ(reader_.GetMediaType(), plain_.MediaType());
    ASSERT_EQ(reader_.GetDiskName(), plain_.DiskName());
    reader_.SetSectorRange(first, last);
    plain_.SetSectorRange(first, last);
  }

  // One read through both readers; the results and the bytes they report
  // must agree. `run` picks ReadSectors over ReadSector.
  void Check(bool run, int track, int c, int h, int r, int n, int size) {
    got_.assign(static_cast<size_t>(std::max(size, 0)) + 1, 0);
    want_.assign(got_.size(), 0);
    int result = run ? reader_.ReadSectors(track, c, h, r, n, got_.data(), size)
                     : reader_.ReadSector(track, c, h, r, n, got_.data(), size);
    int expected = run ? plain_.ReadSectors(track, c, h, r, n, want_.data(), size)
                       : plain_.ReadSector(track, c, h, r, n, want_.data(), size);
    ASSERT_EQ(result, expected) << (run ? "ReadSectors(" : "ReadSector(") << track << ", " << c
                                << ", " << h << ", " << r << ", " << n << ", " << size << ")";
    ASSERT_TRUE(std::equal(got_.begin(), got_.begin() + result, want_.begin()))
        << "bytes differ: track " << track << " r " << r << " size " << size;
  }

 private:
  d88test::TempDir dir_;
  std::string path_;
  d88::D88Image reader_;
  d88test::ReferenceReader plain_;
  std::vector<uint8_t> got_;
  std::vector<uint8_t> want_;
};

Sector MakeSector(int c, int h, int r, int n, size_t size, uint32_t seed) {
  Sector s;
  s.c = static_cast<uint8_t>(c);
  s.h = static_cast<uint8_t>(h);
  s.r = static_cast<uint8_t>(r);
  s.n = static_cast<uint8_t>(n);
  s.data = d88build::Pattern(size, seed);
  return s;
}

// Tracks of up to a few hundred KiB: large sectors (up to 64 KiB - 1), IDs
// repeated, records shuffled, counts and declared sizes that disagree with
// the records, track table entries into the middle of other tracks.
TEST(ReaderEquivalenceTest, LargeShuffledTracksAgreeWithTheWalk) {
  std::mt19937 rng(20240611);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    std::vector<Image> images(static_cast<size_t>(pick(1, 3)));
    for (Image& image : images) {
      image.name = "DISK" + std::to_string(round);
      image.media = 0x20;
      const int tracks = pick(2, 8);
      for (int t = 0; t < tracks; ++t) {
        std::vector<Sector>& records = image.tracks[t];
        const int n = pick(0, 3) == 0 ? pick(0, 7) : 3;
        const int count = pick(1, 40);
        for (int i = 0; i < count; ++i) {
          // Sector numbers from a small range, so that some repeat.
          int r = pick(0, 3) == 0 ? pick(1, 6) : i + 1;
          size_t size = static_cast<size_t>(128 << n);
          switch (pick(0, 9)) {
            case 0:
              size = static_cast<size_t>(pick(0, 65535));
              break;
            case 1:
              size = static_cast<size_t>(pick(0, 2048));
              break;
            default:
              break;
          }
          Sector s = MakeSector(t / 2, t % 2, r, pick(0, 7) == 0 ? pick(0, 7) : n, size,
                                static_cast<uint32_t>(round * 100000 + t * 100 + i));
          if (pick(0, 9) == 0) {
            s.count = static_cast<uint16_t>(pick(0, 50));
          }
          if (pick(0, 19) == 0) {
            s.data_size = static_cast<uint16_t>(pick(0, 65535));
          }
          records.push_back(std::move(s));
        }
        std::shuffle(records.begin(), records.end(), rng);
      }
      if (pick(0, 3) == 0) {
        image.track_offsets[pick(0, tracks)] = static_cast<uint32_t>(pick(0, 400000));
      }
    }
    Bytes file = d88build::Build(images);
    if (pick(0, 2) == 0) {
      file.resize(static_cast<size_t>(pick(0, static_cast<int>(file.size()))));
    }
    Differential d(file);
    for (int i = 0; i < d.ImageCount(); ++i) {
      d.Select(i, 1, pick(1, 8));
      for (int q = 0; q < 150; ++q) {
        int track = pick(0, 9);
        int n = pick(0, 4) == 0 ? pick(0, 8) : 3;
        int size = pick(0, 3) == 0 ? pick(0, 70000) : pick(1, 40) * 1024;
        d.Check(q % 2 == 1, track, track / 2, track % 2, pick(0, 8), n, size);
      }
    }
  }
}

// A full 2HD disk of the title with its records shuffled on every track and
// a stray duplicate of some sectors after them, read file by file as the
// tool does, then at random; then the same file cut off at lengths around
// every track and around the reader's window boundaries.
TEST(ReaderEquivalenceTest, TitleDiskRunsAgreeWithTheWalkWhateverTheCut) {
  std::mt19937 rng(77);
  d88build::TitleDisk disk(d88build::Edition::k2HD, "EQUIVALENCE");
  struct Extent {
    int track, sector, sectors;
  };
  std::vector<Extent> files;
  for (int k = 0; k < 120; ++k) {
    int sectors = 1 + static_cast<int>(rng() % 30);
    Extent e{disk.next_track(), disk.next_sector(), sectors};
    if ((e.track - 2) * 8 + e.sector - 1 + sectors > 152 * 8) {
      break;
    }
    disk.AppendFile(
        "F" + std::to_string(k),
        d88build::Pattern(static_cast<size_t>(sectors) * 1024 - 7, static_cast<uint32_t>(k)));
    files.push_back(e);
  }
  Image image = disk.ToImage();
  for (auto& [track, records] : image.tracks) {
    std::shuffle(records.begin(), records.end(), rng);
    if (track % 5 == 0) {
      Sector dup = records[rng() % records.size()];
      dup.data.assign(dup.data.size(), 0x77);
      records.push_back(dup);
      for (Sector& s : records) {
        s.count = 8;  // the duplicate lies past the walk's end
      }
    }
    if (track % 7 == 0) {
      Sector dup = records.back();
      dup.data.assign(dup.data.size(), 0x66);
      records.insert(records.begin() + 3, dup);
      for (Sector& s : records) {
        s.count = static_cast<uint16_t>(records.size());
      }
    }
  }
  Image second = image;
  second.name = "SECOND";
  const Bytes whole = d88build::Build({image, second});

  std::vector<size_t> cuts = {whole.size()};
  const size_t image_size = whole.size() / 2;
  for (size_t at = 0x2B0; at < whole.size(); at += 8 * (16 + 1024) * 9) {
    cuts.push_back(at);
    cuts.push_back(at + 16);
    cuts.push_back(at + 15);
  }
  for (size_t window = 128 * 1024; window < whole.size(); window += 128 * 1024) {
    cuts.push_back(window - 1);
    cuts.push_back(window + 7);
  }
  cuts.push_back(image_size + 0x2B0 - 1);
  cuts.push_back(image_size + 0x2B0 + 16 + 1024 * 3);

  for (size_t cut : cuts) {
    SCOPED_TRACE(cut);
    Bytes file(whole.begin(),
               whole.begin() + static_cast<std::ptrdiff_t>(std::min(cut, whole.size())));
    Differential d(file);
    for (int i = 0; i < d.ImageCount(); ++i) {
      d.Select(i, 1, 8);
      d.Check(true, 1, 0, 1, 1, 3, 8 * 1024);
      for (const Extent& e : files) {
        d.Check(true, e.track, e.track / 2, e.track % 2, e.sector, 3, e.sectors * 1024);
      }
      for (int q = 0; q < 40; ++q) {
        const Extent& e = files[rng() % files.size()];
        d.Check(q % 3 != 0, e.track, e.track / 2, e.track % 2, e.sector, 3,
                static_cast<int>(rng() % 40000));
      }
    }
    if (d.ImageCount() > 1) {
      // Back to the first image after the second: nothing of the second may
      // stand in for it.
      d.Select(0, 1, 8);
      for (size_t f = 0; f < files.size(); f += 7) {
        const Extent& e = files[f];
        d.Check(true, e.track, e.track / 2, e.track % 2, e.sector, 3, e.sectors * 1024);
      }
    }
  }
}

// Sector data that ends at each offset around 128 KiB and 256 KiB from the
// track's start (where the reader's buffered reads end), with and without a
// record after it, with the file ending there or a byte earlier, read alone
// and as part of a run.
TEST(ReaderEquivalenceTest, SectorEndsSweptAcrossBufferBoundaries) {
  const int big = 65535;
  for (int boundary : {128 * 1024, 256 * 1024}) {
    for (int delta = -20; delta <= 20; ++delta) {
      SCOPED_TRACE(testing::Message() << boundary << " " << delta);
      // The last sector's data ends at boundary + delta from the first record.
      const int fillers = boundary / (16 + big);
      const int last = boundary + delta - fillers * (16 + big) - 16;
      for (int variant = 0; variant < 4; ++variant) {
        const bool next_record = variant & 1;
        const bool cut_short = variant & 2;
        Image image;
        std::vector<Sector>& track = image.tracks[0];
        for (int i = 0; i < fillers; ++i) {
          track.push_back(MakeSector(0, 0, i + 1, 3, big, static_cast<uint32_t>(i)));
        }
        track.push_back(MakeSector(0, 0, fillers + 1, 3, static_cast<size_t>(last), 99));
        if (next_record) {
          track.push_back(MakeSector(0, 0, fillers + 2, 3, 1024, 100));
        }
        Bytes file = d88build::Build(image);
        if (cut_short) {
          file.resize(file.size() - (next_record ? 16 + 1024 : 0) - 1);
        }
        Differential d(file);
        d.Select(0, 1, fillers + 2);
        d.Check(false, 0, 0, 0, fillers + 1, 3, last);
        d.Check(false, 0, 0, 0, fillers + 2, 3, 1024);
        d.Check(true, 0, 0, 0, fillers + 1, 3, last + 1024);
        d.Check(true, 0, 0, 0, 1, 3, fillers * big + last);
        d.Check(false, 0, 0, 0, fillers + 1, 3, last);
      }
    }
  }
}

}  // namespace
