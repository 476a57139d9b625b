// The reader and the tool on D88 files made by other people's tools for other
// software (see data/realworld/PROVENANCE.md). Expected values are read off
// the files' bytes.

#include <gtest/gtest.h>

#include <filesystem>

#include "d88_image.h"
#include "reference_reader.h"
#include "tool_runner.h"

namespace {

struct SectorProbe {
  int track, c, h, r, n;
  int bytes;      // what ReadSector returns with room for 4096
  uint32_t head;  // first four bytes, big-endian as written in a hex dump
};

struct RealFile {
  const char* file;
  int media;
  const char* name;
  uint32_t disk_size;
  int tracks;  // track table entries in use
  std::vector<SectorProbe> probes;
};

const RealFile kFiles[] = {
    // The name fills all 16 bytes with no NUL; the header runs on after it.
    {"hubasic_2d.d88",
     0x00,
     "by_github_ORYZAP",
     348848,
     80,
     {{0, 0, 0, 1, 1, 256, 0xe5e5e5e5},
      {0, 0, 0, 16, 1, 256, 0},
      {0, 0, 0, 17, 1, 0, 0},
      {0, 0, 0, 1, 3, 0, 0},
      {79, 39, 1, 1, 1, 256, 0}}},
    {"x1ndp_sample_2d.d88",
     0x00,
     "X1NDP_SAMPLE",
     348848,
     80,
     {{0, 0, 0, 1, 1, 256, 0xffffffff}, {1, 0, 1, 16, 1, 256, 0}, {2, 0, 0, 1, 1, 0, 0}}},
    // 2HD media byte, only track 0 present (26 sectors of 256 bytes).
    {"x1t_crtcv_2hd.d88",
     0x20,
     "x1t_crtcv_2hd",
     7760,
     1,
     {{0, 0, 0, 1, 1, 256, 0x01583174},
      {0, 0, 0, 2, 1, 256, 0xc30360f3},
      {0, 0, 0, 26, 1, 256, 0},
      {0, 0, 0, 27, 1, 0, 0},
      {1, 0, 1, 1, 1, 0, 0}}},
    // 2HD geometry (8 x 1024) behind a 2D media byte.
    {"tsugaru_util_2hd.d77",
     0x00,
     "D77_DISK",
     1281968,
     154,
     {{0, 0, 0, 1, 3, 1024, 0x49504c34},
      {0, 0, 0, 2, 3, 1024, 0xfeffff03},
      {0, 0, 0, 8, 3, 1024, 0},
      {0, 0, 0, 9, 3, 0, 0},
      {153, 76, 1, 8, 3, 1024, 0}}},
    // The last track declares 16 sectors but holds only its first record.
    {"legacy89_short_last_track.d88",
     0x00,
     "TEST DISK",
     344768,
     80,
     {{0, 0, 0, 1, 1, 256, 0},
      {0, 0, 0, 2, 1, 256, 0xe5e5e5e5},
      {79, 39, 1, 1, 1, 256, 0},
      {79, 39, 1, 2, 1, 0, 0}}},
};

std::string PathOf(const RealFile& f) {
  return std::string(D88_REALWORLD_DIR) + "/" + f.file;
}

uint32_t Head(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

TEST(RealWorldTest, HeadersAndSectorsReadAsTheBytesSay) {
  for (const RealFile& f : kFiles) {
    SCOPED_TRACE(f.file);
    d88::D88Image image;
    ASSERT_TRUE(image.Open(PathOf(f)));
    ASSERT_EQ(image.GetImageCount(), 1);
    ASSERT_TRUE(image.SelectImage(0));
    EXPECT_EQ(image.GetMediaType(), f.media);
    EXPECT_EQ(image.GetDiskName(), f.name);
    EXPECT_EQ(image.GetDiskSize(), f.disk_size);
    EXPECT_EQ(std::filesystem::file_size(PathOf(f)), f.disk_size);
    int tracks = 0;
    for (int t = 0; t < d88::D88Image::kTrackCount; ++t) {
      tracks += image.GetTrackOffset(t) != 0 ? 1 : 0;
    }
    EXPECT_EQ(tracks, f.tracks);
    uint8_t buffer[4096];
    for (const SectorProbe& p : f.probes) {
      SCOPED_TRACE(testing::Message() << "track " << p.track << " R " << p.r << " N " << p.n);
      int got = image.ReadSector(p.track, p.c, p.h, p.r, p.n, buffer, sizeof buffer);
      EXPECT_EQ(got, p.bytes);
      if (got >= 4 && p.head != 0) {
        EXPECT_EQ(Head(buffer), p.head);
      }
    }
  }
}

TEST(RealWorldTest, EverySectorAgreesWithThePlainWalk) {
  for (const RealFile& f : kFiles) {
    SCOPED_TRACE(f.file);
    std::string bytes = d88test::ReadFileBytes(PathOf(f));
    d88test::ReferenceReader plain(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    d88::D88Image image;
    ASSERT_TRUE(image.Open(PathOf(f)));
    ASSERT_TRUE(image.SelectImage(0));
    ASSERT_TRUE(plain.Select(0));
    std::vector<uint8_t> got(32 * 1024), want(32 * 1024);
    for (int track = 0; track < 164; ++track) {
      for (int n : {1, 3}) {
        for (int r = 1; r <= 27; ++r) {
          int a = image.ReadSector(track, track / 2, track % 2, r, n, got.data(), 2048);
          ASSERT_EQ(a, plain.ReadSector(track, track / 2, track % 2, r, n, want.data(), 2048));
          ASSERT_TRUE(std::equal(got.begin(), got.begin() + a, want.begin()));
        }
      }
      image.SetSectorRange(1, 16);
      plain.SetSectorRange(1, 16);
      int a = image.ReadSectors(track, track / 2, track % 2, 1, 1, got.data(), 20 * 256);
      ASSERT_EQ(a, plain.ReadSectors(track, track / 2, track % 2, 1, 1, want.data(), 20 * 256));
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + a, want.begin()));
    }
  }
}

// None of these holds the title, so what the tool lists is noise; it must
// still finish cleanly and keep everything inside its output directory.
TEST(RealWorldTest, ToolRunsCleanlyOnEachFile) {
  for (const RealFile& f : kFiles) {
    SCOPED_TRACE(f.file);
    d88test::TempDir dir;
    std::filesystem::create_directory(dir / "work");
    d88test::ProgramResult run =
        d88test::RunProgram(D88UNPACK_EXE, {"d88unpack", PathOf(f)}, dir / "work");
    EXPECT_TRUE(run.status == 0 || run.status == 1) << run.status << "\n" << run.err;
    // Only the work directory was touched.
    auto tree = d88test::Snapshot(dir.path());
    for (const auto& [path, contents] : tree) {
      EXPECT_TRUE(path == "work" || path.rfind("work/000", 0) == 0) << path;
    }
    if (f.media == 0x00 || f.media == 0x20) {
      EXPECT_TRUE(tree.count("work/000")) << run.err;
    }
  }
}

}  // namespace
