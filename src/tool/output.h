// Writing into the output tree.
//
// Every path is resolved relative to a directory handle and never follows a
// symbolic link in its last component, so names taken from a disk can't
// place anything outside the directory they are written to. The run never
// changes the process's working directory.

#ifndef D88UNPACK_TOOL_OUTPUT_H_
#define D88UNPACK_TOOL_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace d88unpack {

// Opens the directory that output goes under (the working directory for an
// empty `path`). Returns a handle, or -1 with `error` set.
int OpenOutputRoot(const std::string& path, std::string* error);

// Creates directory `name` under `parent` unless a directory of that name is
// already there, and opens it. Refuses a symbolic link standing in its place.
// Returns a handle, or -1 with `error` set.
int OpenSubdirectory(int parent, const std::string& name, std::string* error);

// Writes `size` bytes as the file `name` in directory `dir`. An existing file
// of that name is replaced (unlinked first, so a hard link to a file elsewhere
// is never written through); a symbolic link or a directory of that name is
// refused. On failure nothing partial is left behind and `error` says why.
bool WriteNewFile(int dir, const std::string& name, const uint8_t* data, size_t size,
                  std::string* error);

// Whether a name from a disk can be used as a file name in one directory:
// not empty, not "." or "..", no '/'.
bool IsSafeFileName(const std::string& name);

void CloseDirectory(int dir);

}  // namespace d88unpack

#endif  // D88UNPACK_TOOL_OUTPUT_H_
