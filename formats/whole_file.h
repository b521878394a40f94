// The one way the module, its programs and its tests read a file whole.
// Model files come from users: a name may lead to a FIFO, a device such as
// /dev/zero, a directory or a file of gigabytes. Only regular files of a
// bounded size are read, and nothing blocks or reads without end. The one
// file I/O of formats/: everything else here works on bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rigweave {

enum class FileError {
  None,
  Missing,      // no such file
  NameTooLong,  // a name or path longer than the file system takes
  LinkLoop,     // symbolic links that lead round in a circle
  Unreadable,   // exists but cannot be opened or read
  Folder,       // a directory
  NotRegular,   // a FIFO, socket or device
  TooLarge,     // more bytes than the caller's limit
};

// Which file a name led to: two names of one file (links, "./a", "b/../a")
// give the same identity.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator<(const FileIdentity& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

// The identity of the file `path` leads to now; false when there is none.
bool IdentifyFile(const std::string& path, FileIdentity& identity);

// A few words for a diagnostic line: "not found", "a folder, not a file"...
const char* FileErrorText(FileError error);

// Reads the regular file at `path` whole into `bytes` when it holds at most
// `limit` bytes. The file is opened without blocking, so a FIFO is refused
// at once rather than waited on, and read up to the size it had when it was
// opened, so a file that grows meanwhile is not followed.
FileError ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes);
// The same, giving the identity of the file that was opened (when one was).
FileError ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                        FileIdentity& identity);
// The same into a string, for text and for callers that keep bytes as one.
FileError ReadWholeFile(const std::string& path, size_t limit, std::string& bytes);

// Limits of the module's files, chosen far above any character's and low
// enough that a hostile file cannot exhaust memory (see README).
constexpr size_t kMaxConfigBytes = size_t{16} << 20;
constexpr size_t kMaxCal3DFileBytes = size_t{512} << 20;

}  // namespace rigweave
