// Writes the fuzzer's seed corpus: small D88 files in the title's layout
// (both editions, several images to a file) and odd ones that take the reader
// and the tool down their rarer paths.
//
//   d88fuzzseeds DIRECTORY

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "d88_builder.h"

namespace {

using d88build::Bytes;
using d88build::Edition;
using d88build::Image;
using d88build::MakeEntry;
using d88build::Pattern;
using d88build::TitleDisk;

constexpr size_t kModeByte = 0x11;  // see d88unpack_fuzz.cpp
constexpr uint8_t kModeFlat = 0x08;
constexpr uint8_t kModeShiftJis = 0x10;

// Drops the tracks from `keep` on so that seeds stay small.
Image Trim(Image image, int keep) {
  image.tracks.erase(image.tracks.lower_bound(keep), image.tracks.end());
  return image;
}

Image SmallDisk(Edition edition, const std::string& name, uint32_t seed) {
  TitleDisk disk(edition, name);
  disk.AppendFile("README", Pattern(300, seed));
  disk.AppendFile("PROG", Pattern(2 * 1024, seed + 1));
  disk.AppendFile("data1", Pattern(7 * 1024, seed + 2));
  return Trim(disk.ToImage(), 6);
}

Image HostileNames(Edition edition) {
  TitleDisk disk(edition, "NAMES");
  disk.AppendFile("OK", Pattern(100, 7));
  for (const char* name : {"../x", "/tmp/x", "a/b", ".", "..", "", "abcdefgh", "OK"}) {
    disk.AddEntry(MakeEntry(name, 2, 1, 2, 1));
  }
  Bytes nul = {'A', 0, 'B'};
  disk.AddEntry(MakeEntry(std::string(nul.begin(), nul.end()), 2, 1, 2, 1));
  disk.AddEntry(MakeEntry("BIG", 2, 1, 255, 255));  // more than any disk
  disk.AddEntry(MakeEntry("BACK", 3, 2, 2, 1));     // ends before it starts
  disk.AddEntry(MakeEntry("FAR", 200, 1, 201, 1));  // beyond the track table
  disk.AddEntry(MakeEntry("GONE", 5, 1, 5, 2));     // first sector not present
  return Trim(disk.ToImage(), 4);
}

Image OddRecords() {
  Image image = SmallDisk(Edition::k2D, "ODD RECORDS", 20);
  // Track 2: records in reverse order, one cut short, one with N = 1.
  std::vector<d88build::Sector>& t2 = image.tracks[2];
  std::reverse(t2.begin(), t2.end());
  t2[1].data.resize(100);
  t2[2].n = 1;
  // Track 3: a sector count of 0 in the first record, a count too small later.
  image.tracks[3][0].count = 0;
  image.tracks[4][1].count = 1;
  image.tracks[5][2].data_size = 65535;
  return image;
}

Image OddOffsets() {
  Image image = SmallDisk(Edition::k2HD, "ODD OFFSETS", 30);
  image.track_offsets[3] = 0x10;        // inside the header
  image.track_offsets[4] = 0xFFFFFFF0;  // past the disk size
  image.track_offsets[5] = 0;           // absent
  return image;
}

// A 2HD directory with no end mark: every one of its 511 entries is read.
Image FullDirectory() {
  TitleDisk disk(Edition::k2HD, "FULL");
  disk.AppendFile("A", Pattern(1024, 40));
  for (int k = 1; k < 511; ++k) {
    char name[9];
    std::snprintf(name, sizeof name, "F%03d", k);
    disk.AddEntry(MakeEntry(name, 2, 1 + k % 8, 2 + k % 3, 1 + k % 5));
  }
  return Trim(disk.ToImage(), 5);
}

Bytes WithMode(Bytes bytes, uint8_t mode) {
  bytes[kModeByte] = mode;
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s DIRECTORY\n", argc > 0 ? argv[0] : "d88fuzzseeds");
    return 1;
  }
  const std::string dir = argv[1];
  std::vector<std::pair<std::string, Bytes>> seeds;
  Image d2 = SmallDisk(Edition::k2D, "SEED 2D", 1);
  Image hd = SmallDisk(Edition::k2HD, "SEED 2HD", 10);
  Image other = SmallDisk(Edition::k2D, "SEED 2DD", 5);
  other.media = 0x10;

  seeds.emplace_back("2d", d88build::Build(d2));
  seeds.emplace_back("2hd", d88build::Build(hd));
  seeds.emplace_back("2d_2hd", d88build::Build({d2, hd}));
  seeds.emplace_back("2d_2dd_2hd_sjis", WithMode(d88build::Build({d2, other, hd}), kModeShiftJis));
  seeds.emplace_back("2hd_2d_flat", WithMode(d88build::Build({hd, d2}), kModeFlat));
  seeds.emplace_back("names_2d_flat",
                     WithMode(d88build::Build(HostileNames(Edition::k2D)), kModeFlat));
  seeds.emplace_back("names_2hd", d88build::Build(HostileNames(Edition::k2HD)));
  seeds.emplace_back("odd_records", d88build::Build(OddRecords()));
  seeds.emplace_back("odd_offsets", d88build::Build(OddOffsets()));
  seeds.emplace_back("full_directory", d88build::Build(FullDirectory()));

  // Disk sizes that end the scan, repeat one image or point past the file.
  for (uint32_t size : {0u, 687u, 688u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Image image = d2;
    image.disk_size = size;
    char name[32];
    std::snprintf(name, sizeof name, "disk_size_%x", size);
    seeds.emplace_back(name, d88build::Build({image, hd}));
  }
  // A file cut off inside a sector record of the directory track.
  Bytes cut = d88build::Build({d2, hd});
  cut.resize(688 + 5 * 1040 + 2 * 1040 + 7);
  seeds.emplace_back("cut_in_record", cut);
  // Header only, and less than a header.
  seeds.emplace_back("header_only", Bytes(688, 0));
  seeds.emplace_back("short", Bytes(100, 0));

  for (const auto& [name, bytes] : seeds) {
    if (!d88build::WriteFile(dir + "/" + name + ".d88", bytes)) {
      std::perror((dir + "/" + name).c_str());
      return 1;
    }
  }
  return 0;
}
