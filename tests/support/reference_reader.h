// A D88 reader written as plainly as possible: every sector is found by
// walking its track record by record from the first one, over the file's
// bytes in memory. Slow, and meant to be: tests and the fuzzer compare the
// real reader against it.

#ifndef D88UNPACK_TESTS_SUPPORT_REFERENCE_READER_H_
#define D88UNPACK_TESTS_SUPPORT_REFERENCE_READER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace d88test {

class ReferenceReader {
 public:
  explicit ReferenceReader(std::vector<uint8_t> file);

  int ImageCount() const { return static_cast<int>(offsets_.size()); }
  bool Select(int index);
  int MediaType() const { return media_; }
  std::string DiskName() const { return name_; }
  void SetSectorRange(int first, int last) {
    first_ = first;
    last_ = last;
  }
  int ReadSector(int track, int c, int h, int r, int n, uint8_t* dest, int max_bytes) const;
  int ReadSectors(int track, int c, int h, int r, int n, uint8_t* dest, int total_bytes) const;

 private:
  bool Has(uint64_t offset, uint64_t size) const {
    return offset <= file_.size() && size <= file_.size() - offset;
  }

  std::vector<uint8_t> file_;
  std::vector<uint64_t> offsets_;
  int64_t current_ = -1;
  uint32_t disk_size_ = 0;
  int media_ = -1;
  std::string name_;
  uint32_t table_[164] = {};
  int first_ = 1;
  int last_ = 16;
};

}  // namespace d88test

#endif  // D88UNPACK_TESTS_SUPPORT_REFERENCE_READER_H_
