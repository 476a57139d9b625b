// Writes a small D88 file in the title's layout: one 2D and one 2HD image
// with a handful of files, for trying the tool out.
//
//   d88sample OUTPUT.d88

#include <cstdio>
#include <cstring>
#include <string>

#include "d88_builder.h"

namespace {

d88build::Bytes Text(const char* text) {
  return d88build::Bytes(text, text + std::strlen(text));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s OUTPUT.d88\n", argc > 0 ? argv[0] : "d88sample");
    return 1;
  }
  using d88build::Edition;
  using d88build::Pattern;

  d88build::TitleDisk disk_2d(Edition::k2D, "SAMPLE DISK 2D");
  disk_2d.AppendFile("README", Text("This file came off the 2D sample disk.\n"));
  disk_2d.AppendFile("LOADER", Pattern(2 * 1024, 1));
  disk_2d.AppendFile("map01", Pattern(7 * 1024, 2));

  d88build::TitleDisk disk_2hd(Edition::k2HD, "SAMPLE DISK 2HD");
  disk_2hd.AppendFile("README", Text("This file came off the 2HD sample disk.\n"));
  disk_2hd.AppendFile("PROGRAM", Pattern(12 * 1024, 3));
  disk_2hd.AppendFile("scene", Pattern(3 * 1024, 4));

  d88build::Bytes file = d88build::Build({disk_2d.ToImage(), disk_2hd.ToImage()});
  if (!d88build::WriteFile(argv[1], file)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
