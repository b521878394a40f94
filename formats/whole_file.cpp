#include "formats/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace rigweave {

const char* FileErrorText(FileError error) {
  switch (error) {
    case FileError::None:
      return "read";
    case FileError::Missing:
      return "not found";
    case FileError::NameTooLong:
      return "name too long";
    case FileError::LinkLoop:
      return "a loop of links";
    case FileError::Folder:
      return "a folder, not a file";
    case FileError::Unreadable:
      return "cannot be read";
    case FileError::NotRegular:
      return "not a regular file";
    case FileError::TooLarge:
      return "too large";
  }
  return "cannot be read";
}

namespace {

template <class Bytes>
FileError ReadInto(const std::string& path, size_t limit, Bytes& bytes,
                   FileIdentity* identity = nullptr) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR:
        return FileError::Missing;
      case ENAMETOOLONG:
        return FileError::NameTooLong;
      case ELOOP:
        return FileError::LinkLoop;
      case EISDIR:
        return FileError::Folder;
      default:
        return FileError::Unreadable;
    }
  }
  struct stat status {};
  FileError error = FileError::None;
  const bool opened = ::fstat(fd, &status) == 0;
  if (opened && identity != nullptr) {
    identity->device = static_cast<uint64_t>(status.st_dev);
    identity->inode = static_cast<uint64_t>(status.st_ino);
  }
  if (!opened) {
    error = FileError::Unreadable;
  } else if (S_ISDIR(status.st_mode)) {
    error = FileError::Folder;
  } else if (!S_ISREG(status.st_mode)) {
    error = FileError::NotRegular;
  } else if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) > limit) {
    error = FileError::TooLarge;
  } else {
    try {
      bytes.resize(static_cast<size_t>(status.st_size));
    } catch (const std::bad_alloc&) {
      error = FileError::TooLarge;
    }
    size_t done = 0;
    while (error == FileError::None && done < bytes.size()) {
      const ssize_t got = ::read(fd, &bytes[0] + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) error = FileError::Unreadable;
      if (got <= 0) break;  // shrunk meanwhile: what is there is the file
      done += static_cast<size_t>(got);
    }
    bytes.resize(done);
  }
  ::close(fd);
  if (error != FileError::None) bytes.clear();
  return error;
}

}  // namespace

FileError ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes) {
  return ReadInto(path, limit, bytes);
}

FileError ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                        FileIdentity& identity) {
  return ReadInto(path, limit, bytes, &identity);
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return false;
  identity.device = static_cast<uint64_t>(status.st_dev);
  identity.inode = static_cast<uint64_t>(status.st_ino);
  return true;
}

FileError ReadWholeFile(const std::string& path, size_t limit, std::string& bytes) {
  return ReadInto(path, limit, bytes);
}

}  // namespace rigweave
