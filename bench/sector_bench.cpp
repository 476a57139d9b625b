// Cost of ReadSector and ReadSectors per sector, by sectors per track and by
// the position of the sought record on its track.
//
//   sector_bench [--benchmark_filter=REGEX] ...
//
// Arguments of each case: S (records per track, 1024 bytes each) and the
// position (0-based) of the first sought record on its track; the image keeps
// each track's records in reverse order, so sector R sits at position S - R.
//   BM_ReadSector              one sector, again and again: index lookup
//                              and copy
//   BM_ReadSectorAcrossTracks  one sector per track, all tracks in turn
//   BM_ReadSectorCold          SelectImage, then the first read of a track,
//                              which indexes it
//   BM_ReadSectors             runs of S sectors (whole tracks), all tracks
//                              in turn
//   BM_ReferenceSector   the literal walk (tests' oracle, over bytes in
//                        memory), for comparison: linear in the position

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "d88_builder.h"
#include "d88_image.h"
#include "reference_reader.h"

namespace {

constexpr int kTracks = 16;

// One image of kTracks tracks of `s` records, written to a scratch file
// once per S and kept open.
struct Fixture {
  std::string path;
  d88build::Bytes bytes;
  d88::D88Image image;
  std::unique_ptr<d88test::ReferenceReader> reference;
  ~Fixture() { ::unlink(path.c_str()); }
};

Fixture& GetFixture(int s) {
  static std::map<int, std::unique_ptr<Fixture>> fixtures;
  std::unique_ptr<Fixture>& f = fixtures[s];
  if (f) {
    return *f;
  }
  f = std::make_unique<Fixture>();
  d88build::Image image;
  image.media = 0x20;
  for (int t = 0; t < kTracks; ++t) {
    for (int r = s; r >= 1; --r) {
      d88build::Sector sector;
      sector.c = static_cast<uint8_t>(t / 2);
      sector.h = static_cast<uint8_t>(t % 2);
      sector.r = static_cast<uint8_t>(r);
      sector.n = 3;
      sector.data = d88build::Pattern(1024, static_cast<uint32_t>(t * 256 + r));
      image.tracks[t].push_back(std::move(sector));
    }
  }
  f->bytes = d88build::Build(image);
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/d88sector-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd >= 0) {
    ::close(fd);
  }
  f->path = name.data();
  if (fd < 0 || !d88build::WriteFile(f->path, f->bytes) || !f->image.Open(f->path) ||
      !f->image.SelectImage(0)) {
    std::abort();
  }
  f->image.SetSectorRange(1, s);
  f->reference = std::make_unique<d88test::ReferenceReader>(f->bytes);
  f->reference->Select(0);
  f->reference->SetSectorRange(1, s);
  return *f;
}

void Positions(benchmark::internal::Benchmark* b) {
  for (int s : {5, 8, 16, 32, 64}) {
    for (int position : {0, s / 2, s - 1}) {
      b->Args({s, position});
    }
  }
}

// The same sector again and again: the lookup in the track's index and the
// copy of its data from the reader's buffer.
void BM_ReadSector(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const int r = s - static_cast<int>(state.range(1));
  Fixture& f = GetFixture(s);
  f.image.SelectImage(0);
  uint8_t buffer[1024];
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.image.ReadSector(4, 2, 0, r, 3, buffer, 1024));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_ReadSector)->Apply(Positions);

// The sector at the same position on each of the image's tracks in turn:
// once the image is larger than the reader's buffer, most of these reads
// fetch their data from the file.
void BM_ReadSectorAcrossTracks(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const int r = s - static_cast<int>(state.range(1));
  Fixture& f = GetFixture(s);
  f.image.SelectImage(0);
  uint8_t buffer[1024];
  int track = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.image.ReadSector(track, track / 2, track % 2, r, 3, buffer, 1024));
    benchmark::ClobberMemory();
    track = (track + 1) % kTracks;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_ReadSectorAcrossTracks)->Apply(Positions);

void BM_ReadSectorCold(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const int r = s - static_cast<int>(state.range(1));
  Fixture& f = GetFixture(s);
  uint8_t buffer[1024];
  for (auto _ : state) {
    f.image.SelectImage(0);
    benchmark::DoNotOptimize(f.image.ReadSector(4, 2, 0, r, 3, buffer, 1024));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadSectorCold)->Apply(Positions);

void BM_ReadSectors(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  Fixture& f = GetFixture(s);
  f.image.SelectImage(0);
  f.image.SetSectorRange(1, s);
  std::vector<uint8_t> buffer(static_cast<size_t>(s) * 1024);
  int track = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.image.ReadSectors(track, track / 2, track % 2, 1, 3, buffer.data(),
                                                 static_cast<int>(buffer.size())));
    benchmark::ClobberMemory();
    track = (track + 1) % kTracks;
  }
  state.SetItemsProcessed(state.iterations() * s);
  state.SetBytesProcessed(state.iterations() * s * 1024);
}
BENCHMARK(BM_ReadSectors)->Arg(5)->Arg(8)->Arg(16)->Arg(32)->Arg(64);

void BM_ReferenceSector(benchmark::State& state) {
  const int s = static_cast<int>(state.range(0));
  const int r = s - static_cast<int>(state.range(1));
  Fixture& f = GetFixture(s);
  uint8_t buffer[1024];
  int track = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        f.reference->ReadSector(track, track / 2, track % 2, r, 3, buffer, 1024));
    benchmark::ClobberMemory();
    track = (track + 1) % kTracks;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReferenceSector)->Apply(Positions);

}  // namespace

BENCHMARK_MAIN();
