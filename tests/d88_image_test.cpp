// The D88 reader on images built to show one behaviour each, and against the
// plain record-by-record reader on random images.

#include "d88_image.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "d88_builder.h"
#include "reference_reader.h"
#include "tool_runner.h"

namespace {

using d88::D88Image;
using d88build::Build;
using d88build::Bytes;
using d88build::Image;
using d88build::Sector;

Sector MakeSector(int c, int h, int r, int n, Bytes data) {
  Sector s;
  s.c = static_cast<uint8_t>(c);
  s.h = static_cast<uint8_t>(h);
  s.r = static_cast<uint8_t>(r);
  s.n = static_cast<uint8_t>(n);
  s.data = std::move(data);
  return s;
}

Bytes Fill(size_t size, uint8_t value) {
  return Bytes(size, value);
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a file and opens it.
  void OpenBytes(const Bytes& bytes) {
    path_ = dir_ / "image.d88";
    ASSERT_TRUE(d88build::WriteFile(path_, bytes));
    ASSERT_TRUE(reader_.Open(path_));
  }
  void OpenImage(const Image& image) {
    OpenBytes(Build(image));
    ASSERT_TRUE(reader_.SelectImage(0));
  }
  int Read(int track, int c, int h, int r, int n, int max = 4096) {
    buffer_.assign(static_cast<size_t>(std::max(max, 1)), 0);
    return reader_.ReadSector(track, c, h, r, n, buffer_.data(), max);
  }

  d88test::TempDir dir_;
  std::string path_;
  D88Image reader_;
  Bytes buffer_;
};

TEST(LittleEndianTest, AssemblesLowestByteFirst) {
  const uint8_t bytes[] = {0x34, 0x12, 0xFF, 0x80};
  EXPECT_EQ(d88::ReadLE16(bytes), 0x1234);
  EXPECT_EQ(d88::ReadLE16(bytes + 2), 0x80FF);
  EXPECT_EQ(d88::ReadLE32(bytes), 0x80FF1234u);
}

TEST_F(ReaderTest, NewReaderHasNothingCurrent) {
  D88Image fresh;
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_EQ(fresh.GetImageCount(), 0);
  EXPECT_EQ(fresh.GetMediaType(), -1);
  EXPECT_EQ(fresh.GetDiskName(), "");
  EXPECT_FALSE(fresh.SelectImage(0));
  uint8_t b[16];
  EXPECT_EQ(fresh.ReadSectors(0, 0, 0, 1, 0, b, 16), 0);
}

TEST_F(ReaderTest, OpenFailsForMissingFilesAndNonRegularFiles) {
  errno = 0;
  EXPECT_FALSE(reader_.Open(dir_ / "missing.d88"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(reader_.Open(dir_.path()));
  EXPECT_EQ(errno, EISDIR);
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(reader_.Open(dir_ / "fifo"));  // must not wait for a writer
  EXPECT_FALSE(reader_.IsOpen());
}

TEST_F(ReaderTest, ScanCountsCompleteHeaders) {
  Image one;
  one.name = "ONE";
  Bytes two_images = Build(std::vector<Image>{one, one});

  struct Case {
    const char* what;
    Bytes bytes;
    int images;
  };
  Bytes short_file(687, 0);
  Bytes with_tail = two_images;
  with_tail.resize(with_tail.size() + 687, 0x55);
  Bytes many;
  for (int i = 0; i < 65; ++i) {
    Bytes b = Build(one);
    many.insert(many.end(), b.begin(), b.end());
  }
  const Case cases[] = {
      {"empty file", {}, 0},         {"shorter than a header", short_file, 0},
      {"two images", two_images, 2}, {"a partial header after the last image", with_tail, 2},
      {"65 images", many, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenBytes(c.bytes);
    EXPECT_EQ(reader_.GetImageCount(), c.images);
  }
}

TEST_F(ReaderTest, DiskSizeBelowHeaderSizeCountsOnceAndEndsScan) {
  for (uint32_t size : {0u, 1u, 687u}) {
    SCOPED_TRACE(size);
    Image bad;
    bad.disk_size = size;
    Image good;
    OpenBytes(Build(std::vector<Image>{bad, good}));
    EXPECT_EQ(reader_.GetImageCount(), 1);
  }
  // A size of exactly one header is a valid, empty image.
  Image empty;
  empty.disk_size = 688;
  OpenBytes(Build(std::vector<Image>{empty, empty}));
  EXPECT_EQ(reader_.GetImageCount(), 2);
}

TEST_F(ReaderTest, ImagesChainBySizeAndSelectReadsEachHeader) {
  Image a;
  a.name = "FIRST";
  a.media = 0x00;
  a.tracks[0] = {MakeSector(0, 0, 1, 3, Fill(1024, 0xA1))};
  Image b;
  b.name = "0123456789ABCDEFtail";  // 16 bytes and no NUL among them
  b.media = 0x20;
  b.tracks[0] = {MakeSector(0, 0, 1, 3, Fill(1024, 0xB2))};
  Bytes bytes = Build(std::vector<Image>{a, b});
  OpenBytes(bytes);
  ASSERT_EQ(reader_.GetImageCount(), 2);
  EXPECT_EQ(reader_.GetImageOffset(1), static_cast<int64_t>(Build(a).size()));

  ASSERT_TRUE(reader_.SelectImage(1));
  EXPECT_EQ(reader_.GetMediaType(), 0x20);
  EXPECT_EQ(reader_.GetDiskName(), "0123456789ABCDEF");
  EXPECT_EQ(reader_.GetDiskSize(), Build(b).size());
  ASSERT_EQ(Read(0, 0, 0, 1, 3), 1024);
  EXPECT_EQ(buffer_[0], 0xB2);

  ASSERT_TRUE(reader_.SelectImage(0));
  EXPECT_EQ(reader_.GetDiskName(), "FIRST");
  ASSERT_EQ(Read(0, 0, 0, 1, 3), 1024);
  EXPECT_EQ(buffer_[0], 0xA1);

  // Selecting past the end leaves no image current, and nothing readable.
  EXPECT_FALSE(reader_.SelectImage(reader_.GetImageCount()));
  EXPECT_EQ(reader_.GetMediaType(), -1);
  EXPECT_EQ(reader_.GetDiskName(), "");
  EXPECT_EQ(Read(0, 0, 0, 1, 3), 0);
}

TEST_F(ReaderTest, SelectFailsWhenTheHeaderIsGoneSinceTheScan) {
  Image a;
  Bytes bytes = Build(std::vector<Image>{a, a});
  OpenBytes(bytes);
  ASSERT_EQ(reader_.GetImageCount(), 2);
  ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(bytes.size() - 1)), 0);
  EXPECT_TRUE(reader_.SelectImage(0));
  EXPECT_FALSE(reader_.SelectImage(1));
  EXPECT_EQ(reader_.GetMediaType(), -1);
}

TEST_F(ReaderTest, SectorLookupFollowsTheWalk) {
  // Track 0: records out of order, a duplicate ID, a shorter sector, and a
  // record with N = 1. Track 2: a record past the walk's end (count 2).
  Image image;
  image.tracks[0] = {
      MakeSector(0, 0, 3, 3, Fill(1024, 0x03)), MakeSector(0, 0, 1, 3, Fill(1024, 0x01)),
      MakeSector(0, 0, 1, 3, Fill(1024, 0xEE)), MakeSector(0, 0, 2, 3, Fill(300, 0x02)),
      MakeSector(0, 0, 4, 1, Fill(256, 0x04)),
  };
  image.tracks[2] = {MakeSector(1, 0, 1, 3, Fill(1024, 0x11)),
                     MakeSector(1, 0, 2, 3, Fill(1024, 0x12)),
                     MakeSector(1, 0, 3, 3, Fill(1024, 0x13))};
  for (Sector& s : image.tracks[2]) {
    s.count = 2;
  }
  image.tracks[4] = {MakeSector(2, 0, 1, 3, Fill(1024, 0x21)),
                     MakeSector(2, 0, 2, 3, Fill(1024, 0x22))};
  image.tracks[4][0].count = 0;  // a zero count ends the walk, even on a match
  OpenImage(image);

  struct Case {
    const char* what;
    int track, c, h, r, n, max;
    int bytes;
    uint8_t first;
  };
  const Case cases[] = {
      {"second record", 0, 0, 0, 1, 3, 4096, 1024, 0x01},
      {"first of two with one ID wins", 0, 0, 0, 1, 3, 4096, 1024, 0x01},
      {"first record", 0, 0, 0, 3, 3, 4096, 1024, 0x03},
      {"short data gives its size", 0, 0, 0, 2, 3, 4096, 300, 0x02},
      {"max bytes caps the copy", 0, 0, 0, 3, 3, 100, 100, 0x03},
      {"size code must match too", 0, 0, 0, 4, 3, 4096, 0, 0},
      {"N = 1 record", 0, 0, 0, 4, 1, 4096, 256, 0x04},
      {"no such R", 0, 0, 0, 9, 3, 4096, 0, 0},
      {"wrong C", 0, 1, 0, 1, 3, 4096, 0, 0},
      {"within the count", 2, 1, 0, 2, 3, 4096, 1024, 0x12},
      {"past the count", 2, 1, 0, 3, 3, 4096, 0, 0},
      {"zero count on a match", 4, 2, 0, 1, 3, 4096, 0, 0},
      {"absent track", 1, 0, 1, 1, 3, 4096, 0, 0},
      {"track index out of range", 164, 0, 0, 1, 3, 4096, 0, 0},
      {"negative track index", -1, 0, 0, 1, 3, 4096, 0, 0},
      {"ID values beyond a byte", 0, 256, 0, 1, 3, 4096, 0, 0},
      {"no room", 0, 0, 0, 1, 3, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.track, c.c, c.h, c.r, c.n, c.max), c.bytes);
    if (c.bytes > 0) {
      EXPECT_EQ(buffer_[0], c.first);
      EXPECT_EQ(buffer_[static_cast<size_t>(c.bytes - 1)], c.first);
    }
  }
}

TEST_F(ReaderTest, TrackTableEntriesOutsideTheImageAreAbsent) {
  Image image;
  image.tracks[0] = {MakeSector(0, 0, 1, 3, Fill(1024, 0x01))};
  Bytes built = Build(image);
  const uint32_t size = static_cast<uint32_t>(built.size());
  image.track_offsets[1] = size;       // at the disk size
  image.track_offsets[2] = size + 16;  // past it
  image.track_offsets[3] = 688;        // track 0 again, through another entry
  image.track_offsets[4] = 0x20;       // inside the header
  OpenImage(image);
  EXPECT_EQ(Read(1, 0, 0, 1, 3), 0);
  EXPECT_EQ(Read(2, 0, 0, 1, 3), 0);
  EXPECT_EQ(Read(3, 0, 0, 1, 3), 1024);
  EXPECT_EQ(Read(4, 0, 0, 1, 3), 0);  // header bytes make no matching record
}

TEST_F(ReaderTest, DataCutOffByEndOfFileIsMissing) {
  Image image;
  image.tracks[0] = {MakeSector(0, 0, 1, 3, Fill(1024, 0x01)),
                     MakeSector(0, 0, 2, 3, Fill(1024, 0x02)),
                     MakeSector(0, 0, 3, 3, Fill(1024, 0x03))};
  image.disk_size = 688 + 3 * 1040;
  Bytes bytes = Build(image);
  // Cut inside sector 2's data: sector 3's record is gone, sector 2 is short.
  bytes.resize(688 + 1040 + 16 + 500);
  OpenBytes(bytes);
  ASSERT_TRUE(reader_.SelectImage(0));
  EXPECT_EQ(Read(0, 0, 0, 1, 3), 1024);
  EXPECT_EQ(Read(0, 0, 0, 2, 3), 500);
  EXPECT_EQ(Read(0, 0, 0, 3, 3), 0);
  uint8_t run[3 * 1024];
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 3, run, sizeof run), 1024);
}

TEST_F(ReaderTest, RunsStepAcrossTracksWithinTheSectorRange) {
  // 2D geometry: 5 sectors per track, each sector's bytes name its position.
  Image image;
  for (int t = 0; t < 6; ++t) {
    for (int r = 1; r <= 5; ++r) {
      image.tracks[t].push_back(
          MakeSector(t / 2, t % 2, r, 3, Fill(1024, static_cast<uint8_t>(t * 16 + r))));
    }
  }
  OpenImage(image);
  reader_.SetSectorRange(1, 5);
  Bytes run(4 * 1024);
  ASSERT_EQ(reader_.ReadSectors(1, 0, 1, 5, 3, run.data(), 3 * 1024), 3 * 1024);
  EXPECT_EQ(run[0], 0x15);     // track 1 sector 5
  EXPECT_EQ(run[1024], 0x21);  // track 2 (C 1, H 0) sector 1
  EXPECT_EQ(run[2048], 0x22);

  ASSERT_EQ(reader_.ReadSectors(2, 1, 0, 5, 3, run.data(), 2 * 1024), 2 * 1024);
  EXPECT_EQ(run[1024], 0x31);  // track 3 (C 1, H 1) sector 1

  // A run of 2500 bytes takes pieces of 1024, 1024 and 452.
  run.assign(run.size(), 0);
  ASSERT_EQ(reader_.ReadSectors(0, 0, 0, 4, 3, run.data(), 2500), 2500);
  EXPECT_EQ(run[2499], 0x11);
  EXPECT_EQ(run[2500], 0x00);

  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 3, run.data(), 0), 0);
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 3, run.data(), -5), 0);
  // Starting above the range never wraps: R 6 isn't there, so nothing.
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 6, 3, run.data(), 1024), 0);
  // Running off the last track ends the run there.
  EXPECT_EQ(reader_.ReadSectors(5, 2, 1, 4, 3, run.data(), 4 * 1024), 2 * 1024);
}

TEST_F(ReaderTest, RunStopsBeforeAShortSector) {
  Image image;
  image.tracks[0] = {MakeSector(0, 0, 1, 3, Fill(1024, 1)), MakeSector(0, 0, 2, 3, Fill(512, 2)),
                     MakeSector(0, 0, 3, 3, Fill(1024, 3))};
  OpenImage(image);
  reader_.SetSectorRange(1, 3);
  uint8_t run[3 * 1024];
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 3, run, sizeof run), 1024);
  // A last piece that only needs the short sector's bytes still comes in full.
  EXPECT_EQ(reader_.ReadSectors(0, 0, 0, 1, 3, run, 1024 + 512), 1024 + 512);
}

TEST_F(ReaderTest, TracksLongerThanTheIndexAreStillWalkedToTheEnd) {
  // 70,000 records of no data on one track (more than the reader indexes per
  // track), the sought sector last. Every record says the track holds 65535,
  // but for the one at position 65534, which would end the walk.
  Image image;
  std::vector<Sector>& track = image.tracks[0];
  for (int i = 0; i < 70000; ++i) {
    Sector s = MakeSector(0, 0, 200, 0, {});
    s.count = i == 65534 ? 7 : 0xFFFF;
    track.push_back(s);
  }
  track.push_back(MakeSector(0, 0, 1, 3, Fill(1024, 0x5A)));
  track.back().count = 0xFFFF;
  OpenImage(image);
  EXPECT_EQ(Read(0, 0, 0, 1, 3), 1024);
  EXPECT_EQ(buffer_[0], 0x5A);
  EXPECT_EQ(Read(0, 0, 0, 2, 3), 0);
}

// Random images with everything the format allows to go wrong, read both by
// the reader and by the plain record walk: the results must agree exactly.
TEST_F(ReaderTest, AgreesWithThePlainWalkOnRandomImages) {
  std::mt19937 rng(12345);
  auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    std::vector<Image> images(static_cast<size_t>(pick(1, 3)));
    for (Image& image : images) {
      image.media = pick(0, 1) ? 0x20 : 0x00;
      for (int t = 0; t < 8; ++t) {
        if (pick(0, 5) == 0) {
          continue;
        }
        int records = pick(0, 12);
        for (int i = 0; i < records; ++i) {
          Sector s =
              MakeSector(pick(0, 4) ? t / 2 : pick(0, 3), pick(0, 4) ? t % 2 : pick(0, 1),
                         pick(0, 10), pick(0, 6) ? 3 : pick(0, 4),
                         d88build::Pattern(static_cast<size_t>(pick(0, 4) ? 1024 : pick(0, 1500)),
                                           static_cast<uint32_t>(pick(0, 1 << 20))));
          if (pick(0, 5) == 0) {
            s.count = static_cast<uint16_t>(pick(0, 14));
          }
          if (pick(0, 15) == 0) {
            s.data_size = static_cast<uint16_t>(pick(0, 2000));
          }
          image.tracks[t].push_back(std::move(s));
        }
      }
      if (pick(0, 6) == 0) {
        image.track_offsets[pick(0, 7)] = static_cast<uint32_t>(pick(0, 30000));
      }
    }
    Bytes bytes = Build(images);
    if (pick(0, 3) == 0) {
      bytes.resize(static_cast<size_t>(pick(0, static_cast<int>(bytes.size()))));
    }
    OpenBytes(bytes);
    d88test::ReferenceReader plain(bytes);
    ASSERT_EQ(reader_.GetImageCount(), plain.ImageCount());
    for (int i = 0; i < plain.ImageCount(); ++i) {
      ASSERT_TRUE(reader_.SelectImage(i));
      ASSERT_TRUE(plain.Select(i));
      EXPECT_EQ(reader_.GetMediaType(), plain.MediaType());
      int last = pick(1, 10);
      reader_.SetSectorRange(1, last);
      plain.SetSectorRange(1, last);
      Bytes got(8192), want(8192);
      for (int q = 0; q < 200; ++q) {
        int track = pick(-1, 9);
        int c = pick(0, 4);
        int h = pick(0, 1);
        int r = pick(0, 11);
        int n = pick(0, 6) ? 3 : pick(0, 4);
        int size = pick(0, 8192);
        std::fill(got.begin(), got.end(), 0);
        std::fill(want.begin(), want.end(), 0);
        int result = 0;
        if (q % 2 == 0) {
          result = reader_.ReadSector(track, c, h, r, n, got.data(), size);
          ASSERT_EQ(result, plain.ReadSector(track, c, h, r, n, want.data(), size));
        } else {
          result = reader_.ReadSectors(track, c, h, r, n, got.data(), size);
          ASSERT_EQ(result, plain.ReadSectors(track, c, h, r, n, want.data(), size));
        }
        // What lies past the bytes reported is not part of the result.
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + result, want.begin()));
      }
    }
  }
}

}  // namespace
