// Sharing a study file between writers: an advisory lock for a
// read-modify-write, and a stamp of the content read, so that a writer can
// tell that someone else replaced the file since.
//
// Every save of the layer (Study::save, Study::exportPlanFile) writes a
// new file beside the target, under a unique name created exclusively in a
// private folder, flushes it to disk, renames it over the target and
// flushes the folder: a reader sees the old file or the new one, never a
// mix. A save keeps the target's permission bits, writes through a symbolic
// link to the file it points to, refuses a target without write permission
// (FileError), and when it cannot create the temporary file it refuses
// instead of writing the target in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "tavrin/api.h"
#include "tavrin/error.h"
#include "tavrin/study.h"

namespace tavrin {

// An exclusive advisory lock (flock) on an existing study file, held from
// construction to destruction. Cooperating writers that each hold it from
// reading the file to saving it never lose an update. A save renames a new
// file over the old one, so the lock follows the name: acquiring it
// re-opens the file until the locked file is the one the name refers to.
// FileError when the file cannot be opened (notFound() when it does not exist).
class TAVRIN_LAYER_API StudyFileLock {
 public:
  // Waits until the lock is free.
  explicit StudyFileLock(const std::string& path);
  StudyFileLock(StudyFileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  StudyFileLock& operator=(StudyFileLock&&) = delete;
  StudyFileLock(const StudyFileLock&) = delete;
  StudyFileLock& operator=(const StudyFileLock&) = delete;
  ~StudyFileLock();

  // The lock when it is free now; nothing, without waiting, when another
  // holder has it.
  static std::optional<StudyFileLock> tryAcquire(const std::string& path);

 private:
  StudyFileLock(const std::string& path, bool wait);
  int fd_ = -1;
};

// What a study file held when it was read: equal stamps mean the same
// bytes (up to a 64-bit hash collision), or a file absent both times.
struct FileStamp {
  bool exists = false;
  std::uint64_t size = 0;
  std::uint64_t digest = 0;  // FNV-1a of the bytes
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the file's current content; FileError when it exists but
// cannot be read.
TAVRIN_LAYER_API FileStamp stampOf(const std::string& path);

// A study read from a file together with the stamp of exactly the bytes read.
struct StampedStudy {
  Study study;
  FileStamp stamp;
};
TAVRIN_LAYER_API StampedStudy loadStamped(const std::string& path);

// Saves `study` to `path` under the file's lock, unless the file no longer
// has the stamp `expected`: FileChanged then, and nothing is written.
// Returns the stamp of what was written.
TAVRIN_LAYER_API FileStamp saveIfUnchanged(const Study& study, const std::string& path, const FileStamp& expected);

}  // namespace tavrin
