// The directory stage, through the real program: how entries are decoded and
// listed, which bytes each file gets, and what happens when the image lacks
// them or a name can't be used.

#include <gtest/gtest.h>

#include "d88_builder.h"
#include "tool_fixture.h"

namespace {

using d88build::Bytes;
using d88build::Edition;
using d88build::Image;
using d88build::MakeEntry;
using d88build::Pattern;
using d88build::TitleDisk;
using d88test::kRecognised2D;
using d88test::kRecognised2HD;

class DirectoryStageTest : public d88test::ToolTest {
 protected:
  // Removes sector r of track t from an image.
  static void DropSector(Image& image, int t, int r) {
    auto& records = image.tracks[t];
    std::erase_if(records, [r](const d88build::Sector& s) { return s.r == r; });
  }
  static Bytes SectorBytes(const Image& image, int t, int r) {
    for (const auto& s : image.tracks.at(t)) {
      if (s.r == r) {
        return s.data;
      }
    }
    return {};
  }
};

TEST_F(DirectoryStageTest, NamesAreDecodedAsTheDiskHasThem) {
  struct Case {
    std::string stored;  // the 8 name bytes, space padded
    std::string file;    // the name listed and written
  };
  const Case cases[] = {
      {"abc     ", "abc_"},
      {"ABC     ", "ABC"},
      {"abcdefgh", "abcdefgh_"},
      {"AB CD   ", "AB"},
      {std::string("ab\0cdefg", 8), "ab"},    // a NUL ends it, "_" included
      {"\xb1\xb2\xb3     ", "\xb1\xb2\xb3"},  // bytes above 0x7F pass unchanged
      {"zz.DAT  ", "zz.DAT_"},
  };
  TitleDisk disk(Edition::k2D, "NAMES");
  std::string listing;
  for (size_t i = 0; i < std::size(cases); ++i) {
    int track = 2 + static_cast<int>(i);
    disk.AddFile(cases[i].stored, track, 1, Pattern(1024, static_cast<uint32_t>(i)));
    char line[80];
    std::snprintf(line, sizeof line, "%-9s  START:%02x 01    END:%02x 01   SIZE:0400\n",
                  cases[i].file.c_str(), track, track);
    listing += line;
  }
  std::string image = WriteImages({disk.ToImage()});
  auto run = Run({image});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kRecognised2D + "\n[NAMES] -> 000\n" + listing);
  auto out = Output();
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(out["000/" + cases[i].file], Sum(Pattern(1024, static_cast<uint32_t>(i))))
        << cases[i].file;
  }
}

TEST_F(DirectoryStageTest, ExtentsRunAcrossTracksInSectorOrder) {
  // 2D: track 2 sector 5 to track 3 sector 1 is two sectors on two tracks.
  TitleDisk disk2d(Edition::k2D, "TWO D");
  disk2d.AddEntry(MakeEntry("SPAN", 0x02, 5, 0x03, 1));
  Image image2d = disk2d.ToImage();
  // 2HD: a whole track, and a file ending on the last sector of a track.
  TitleDisk disk2hd(Edition::k2HD, "TWO HD");
  disk2hd.AddEntry(MakeEntry("TRACK", 0x10, 1, 0x10, 8));
  disk2hd.AddEntry(MakeEntry("ONE", 0x11, 8, 0x11, 8));
  Image image2hd = disk2hd.ToImage();
  for (auto* image : {&image2d, &image2hd}) {
    for (auto& [t, records] : image->tracks) {
      if (t != 1) {
        for (auto& s : records) {
          s.data = Pattern(1024, static_cast<uint32_t>(t * 16 + s.r));
        }
      }
    }
  }
  std::string path = WriteImages({image2d, image2hd});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kRecognised2D + "\n[TWO D] -> 000\n" +
                         "SPAN       START:02 05    END:03 01   SIZE:0800\n" + kRecognised2HD +
                         "\n[TWO HD] -> 001\n" +
                         "TRACK      START:10 01    END:10 08   SIZE:2000\n" +
                         "ONE        START:11 08    END:11 08   SIZE:0400\n");
  auto out = Output();
  EXPECT_EQ(out["000/SPAN"],
            Sum(Str(SectorBytes(image2d, 2, 5)) + Str(SectorBytes(image2d, 3, 1))));
  std::string track;
  for (int r = 1; r <= 8; ++r) {
    track += Str(SectorBytes(image2hd, 0x10, r));
  }
  EXPECT_EQ(out["001/TRACK"], Sum(track));
  EXPECT_EQ(out["001/ONE"], Sum(SectorBytes(image2hd, 0x11, 8)));
}

TEST_F(DirectoryStageTest, EmptyOrBackwardExtentsAreListedButNotWritten) {
  TitleDisk disk(Edition::k2D, "ODD");
  disk.AddEntry(MakeEntry("BACK", 0x03, 2, 0x03, 1));    // 0 sectors
  disk.AddEntry(MakeEntry("BEHIND", 0x03, 3, 0x03, 1));  // -1 sector
  disk.AddEntry(MakeEntry("FAR", 0xFF, 0xFF, 0x00, 0x00));
  std::string path = WriteImages({disk.ToImage()});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, kRecognised2D + "\n[ODD] -> 000\n" +
                         "BACK       START:03 02    END:03 01   SIZE:0000\n"
                         "BEHIND     START:03 03    END:03 01   SIZE:fffffc00\n"
                         "FAR        START:ff ff    END:00 00   SIZE:ffe81c00\n");
  EXPECT_EQ(Output(), (std::map<std::string, std::string>{{"000", "<dir>"}}));
}

TEST_F(DirectoryStageTest, MissingSectorsAreReportedAndNeverFilledWithStaleBytes) {
  TitleDisk disk(Edition::k2D, "DAMAGED");
  disk.AddFile("FULL", 2, 1, Pattern(5 * 1024, 1));  // fills the transfer buffer first
  disk.AddFile("HOLED", 3, 1, Pattern(4 * 1024, 2));
  disk.AddFile("GONE", 4, 1, Pattern(1024, 3));
  disk.AddFile("OK", 5, 1, Pattern(1024, 4));
  Image image = disk.ToImage();
  DropSector(image, 3, 3);  // HOLED keeps sectors 1 and 2 only
  DropSector(image, 4, 1);  // GONE has no first sector
  std::string path = WriteImages({image});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kRecognised2D + "\n[DAMAGED] -> 000\n" +
                         "FULL       START:02 01    END:02 05   SIZE:1400\n"
                         "HOLED      START:03 01    END:03 04   SIZE:1000\n"
                         "GONE       START:04 01    END:04 01   SIZE:0400\n"
                         "OK         START:05 01    END:05 01   SIZE:0400\n");
  EXPECT_EQ(run.err,
            "d88unpack: 000/HOLED: incomplete: the image holds 2048 of its 4096 bytes, the rest is "
            "zeros\n"
            "d88unpack: 000/GONE: first sector (track 04 sector 01) is not on the image: not "
            "written\n");
  auto out = Output();
  Bytes holed = Pattern(4 * 1024, 2);
  std::fill(holed.begin() + 2048, holed.end(), 0);
  EXPECT_EQ(out["000/HOLED"], Sum(holed));
  EXPECT_EQ(out.count("000/GONE"), 0u);
  EXPECT_EQ(out["000/OK"], Sum(Pattern(1024, 4)));
}

TEST_F(DirectoryStageTest, DirectoryEndsAtEndMarkOrAfterEntry511) {
  TitleDisk empty(Edition::k2D, "EMPTY");
  TitleDisk full(Edition::k2HD, "FULL");
  for (int k = 1; k <= 511; ++k) {
    full.AddEntry(MakeEntry("E" + std::to_string(k), 0x02, 2, 0x02, 1));  // size 0
  }
  std::string path = WriteImages({empty.ToImage(), full.ToImage()});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  std::string expected =
      kRecognised2D + "\n[EMPTY] -> 000\n" + kRecognised2HD + "\n[FULL] -> 001\n";
  for (int k = 1; k <= 511; ++k) {
    char line[80];
    std::snprintf(line, sizeof line, "%-9s  START:02 02    END:02 01   SIZE:0000\n",
                  ("E" + std::to_string(k)).c_str());
    expected += line;
  }
  EXPECT_EQ(run.out, expected);
}

TEST_F(DirectoryStageTest, AnImageWithoutADirectoryTrackListsNothingOfTheImageBefore) {
  TitleDisk first(Edition::k2HD, "FIRST");
  for (int k = 1; k <= 400; ++k) {  // entries in all 8 directory sectors
    first.AddEntry(MakeEntry("F" + std::to_string(k), 0x02, 2, 0x02, 1));
  }
  TitleDisk second(Edition::k2D, "SECOND");
  second.AddFile("ONLY", 2, 1, Pattern(1024, 9));
  Image second_image = second.ToImage();
  second_image.tracks.erase(1);
  TitleDisk third(Edition::k2D, "THIRD");  // a 5-sector directory after an 8-sector one
  third.AddFile("MINE", 2, 1, Pattern(1024, 10));
  std::string path = WriteImages({first.ToImage(), second_image, third.ToImage()});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  auto tail = run.out.substr(run.out.find("\n[SECOND]"));
  EXPECT_EQ(tail, "\n[SECOND] -> 001\n" + kRecognised2D + "\n[THIRD] -> 002\n" +
                      "MINE       START:02 01    END:02 01   SIZE:0400\n");
}

TEST_F(DirectoryStageTest, LaterEntryOfTheSameNameWins) {
  TitleDisk disk(Edition::k2D, "TWICE");
  disk.AddFile("SAME", 2, 1, Pattern(2048, 1));
  disk.AddFile("SAME", 3, 1, Pattern(1024, 2));
  std::string path = WriteImages({disk.ToImage()});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Output()["000/SAME"], Sum(Pattern(1024, 2)));
}

TEST_F(DirectoryStageTest, NamesThatWouldLeaveTheDirectoryAreNotWritten) {
  TitleDisk disk(Edition::k2D, "HOSTILE");
  const std::string names[] = {"..      ", ".       ", "/tmp/x  ",
                               "a/b     ", "../x    ", "        "};
  for (size_t i = 0; i < std::size(names); ++i) {
    disk.AddFile(names[i], 2 + static_cast<int>(i), 1, Pattern(1024, 7));
  }
  disk.AddFile("SAFE", 10, 1, Pattern(1024, 8));
  std::string path = WriteImages({disk.ToImage()});
  auto before = Outside();
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("..         START:02 01"), std::string::npos);
  EXPECT_NE(run.out.find("/tmp/x     START:04 01"), std::string::npos);
  EXPECT_NE(run.out.find("\n           START:07 01"), std::string::npos);  // the empty name
  EXPECT_EQ(run.err,
            "d88unpack: image 0 entry 1: unsafe file name \"..\": not written\n"
            "d88unpack: image 0 entry 2: unsafe file name \".\": not written\n"
            "d88unpack: image 0 entry 3: unsafe file name \"/tmp/x\": not written\n"
            "d88unpack: image 0 entry 4: unsafe file name \"a/b_\": not written\n"
            "d88unpack: image 0 entry 5: unsafe file name \"../x\": not written\n"
            "d88unpack: image 0 entry 6: unsafe file name \"\": not written\n");
  EXPECT_EQ(Output(), (std::map<std::string, std::string>{{"000", "<dir>"},
                                                          {"000/SAFE", Sum(Pattern(1024, 8))}}));
  EXPECT_EQ(Outside(), before);
}

}  // namespace

namespace {

TEST_F(DirectoryStageTest, AnExtentLargerThanADiskKeepsEveryByteTheImageHolds) {
  // From track 2 sector 1 to track 0xFF sector 0xFF of a 2HD disk: 2279
  // sectors listed, of which the image holds tracks 2 to 153.
  TitleDisk disk(Edition::k2HD, "HUGE");
  disk.AddEntry(MakeEntry("HUGE", 0x02, 1, 0xFF, 0xFF));
  Image image = disk.ToImage();
  std::string held;
  for (int t = 2; t < 154; ++t) {
    for (auto& s : image.tracks[t]) {
      s.data = Pattern(1024, static_cast<uint32_t>(t * 8 + s.r));
      held += Str(s.data);
    }
  }
  std::string path = WriteImages({image});
  auto run = Run({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("HUGE       START:02 01    END:ff ff   SIZE:239c00\n"), std::string::npos);
  EXPECT_EQ(run.err, "d88unpack: 000/HUGE: incomplete: the image holds " +
                         std::to_string(held.size()) +
                         " of its 2333696 bytes, the rest is zeros\n");
  std::string file = d88test::ReadFileBytes(work_ + "/000/HUGE");
  ASSERT_EQ(file.size(), 2333696u);
  EXPECT_EQ(file.substr(0, held.size()), held);
  EXPECT_EQ(file.find_first_not_of('\0', held.size()), std::string::npos);
}

}  // namespace
