// Saving by write-then-rename in a private folder, the study file's lock
// and its content stamp.
#include "study/file_write.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "study/text.h"
#include "tavrin/study_file.h"

namespace tavrin {
namespace {

// Symbolic links followed before a save gives up, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;

std::string reason() { return std::strerror(errno); }

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A folder only this process writes (mkdtemp makes it 0700), removed with
// the one file in it when the save is over, done or not.
class PrivateFolder {
 public:
  PrivateFolder(const std::string& pattern, const std::string& file) : path_(pattern) {
    if (::mkdtemp(path_.data()) == nullptr) path_.clear();
    file_ = path_ + "/" + file;
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    if (path_.empty()) return;
    ::unlink(file_.c_str());
    ::rmdir(path_.c_str());
  }
  bool made() const noexcept { return !path_.empty(); }
  const std::string& file() const noexcept { return file_; }

 private:
  std::string path_;
  std::string file_;
};

// Flushes the folder's entry list, so that a rename in it survives a crash.
void syncFolder(const std::string& folder) {
  const Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

void writeAll(int fd, std::string_view text, const std::string& path) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw FileError(path, "writing the new content of " + text::quoted(path) + " failed: " + reason());
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// 64-bit FNV-1a: a stamp of the bytes, not a defence against a forger.
std::uint64_t digestOf(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

FileStamp stampOfText(std::string_view text) { return {true, text.size(), digestOf(text)}; }

}  // namespace

std::string resolveLinks(const std::string& path) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current.string();
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(current, error);
    if (error) throw FileError(path, "cannot follow the link " + text::quoted(current.string()) + ": " + error.message());
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  throw FileError(path, "cannot save " + text::quoted(path) + ": too many symbolic links");
}

void replaceFile(const std::string& path, const std::function<void(const std::string& temporary)>& write) {
  const std::string target = resolveLinks(path);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) throw FileError(path, "cannot save " + text::quoted(path) + ": " + reason());
  if (exists && !S_ISREG(old.st_mode))
    throw FileError(path, "cannot save over " + text::quoted(path) + ": it is not a regular file");
  // Permission bits are checked too, since the superuser passes access().
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
    throw FileError(path, text::quoted(path) + " is read-only: nothing was written (make it writable, or save under " +
                              "another name)");

  const std::filesystem::path targetPath(target);
  const std::string folder = targetPath.has_parent_path() ? targetPath.parent_path().string() : ".";
  const std::string name = targetPath.filename().string();
  const PrivateFolder scratch(folder + "/." + name + ".XXXXXX", name);
  if (!scratch.made())
    throw FileError(path, "cannot create a temporary file in " + text::quoted(folder) + " to save " +
                              text::quoted(path) + ": " + reason() + "; nothing was written");
  write(scratch.file());

  const Descriptor file(::open(scratch.file().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) throw FileError(path, "cannot reopen the new content of " + text::quoted(path) + ": " + reason());
  if (exists) {
    // The owner can only be kept by the superuser; others keep their own.
    if (::fchown(file.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
      throw FileError(path, "cannot give the new " + text::quoted(path) + " its owner: " + reason());
    if (::fchmod(file.get(), old.st_mode & 07777) != 0)
      throw FileError(path, "cannot give the new " + text::quoted(path) + " its permissions: " + reason());
  }
  if (::fsync(file.get()) != 0)
    throw FileError(path, "cannot flush the new content of " + text::quoted(path) + " to disk: " + reason());
  if (::rename(scratch.file().c_str(), target.c_str()) != 0)
    throw FileError(path, "cannot replace " + text::quoted(path) + ": " + reason());
  syncFolder(folder);
}

void replaceFileWithText(const std::string& path, std::string_view text) {
  replaceFile(path, [&](const std::string& temporary) {
    const Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.get() < 0)
      throw FileError(path, "cannot create a temporary file to save " + text::quoted(path) + ": " + reason() +
                                "; nothing was written");
    writeAll(file.get(), text, path);
  });
}

std::string readFileText(const std::string& path, const std::string& what) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw FileError(path, "cannot open " + what + " " + text::quoted(path) + ": it is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const bool absent = errno == ENOENT;
    FileError error(path, "cannot open " + what + " " + text::quoted(path) + ": " + reason());
    if (absent) error.markNotFound();
    throw error;
  }
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw FileError(path, "reading " + what + " " + text::quoted(path) + " failed");
  return text;
}

StudyFileLock::StudyFileLock(const std::string& path) : StudyFileLock(path, true) {}

StudyFileLock::StudyFileLock(const std::string& path, bool wait) {
  const std::string target = resolveLinks(path);
  for (;;) {
    Descriptor file(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
      const bool absent = errno == ENOENT;
      FileError error(path, "cannot open the study file " + text::quoted(path) + " to lock it: " + reason());
      if (absent) error.markNotFound();
      throw error;
    }
    if (::flock(file.get(), wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (!wait && errno == EWOULDBLOCK) return;
      throw FileError(path, "cannot lock the study file " + text::quoted(path) + ": " + reason());
    }
    // A writer that held the lock may have renamed a new file over the
    // one locked here: the lock is only good on the file the name shows.
    struct stat held {}, named {};
    if (::fstat(file.get(), &held) == 0 && ::stat(target.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = file.release();
      return;
    }
  }
}

StudyFileLock::~StudyFileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::optional<StudyFileLock> StudyFileLock::tryAcquire(const std::string& path) {
  StudyFileLock lock(path, false);
  if (lock.fd_ < 0) return std::nullopt;
  return std::optional<StudyFileLock>(std::move(lock));
}

FileStamp stampOf(const std::string& path) {
  try {
    return stampOfText(readFileText(path, "the study file"));
  } catch (const FileError& e) {
    if (e.notFound()) return {};
    throw;
  }
}

StampedStudy loadStamped(const std::string& path) {
  const std::string text = readFileText(path, "the study file");
  return {Study::fromJson(text, path), stampOfText(text)};
}

FileStamp saveIfUnchanged(const Study& study, const std::string& path, const FileStamp& expected) {
  const auto changed = [&path](const char* how) {
    return FileChanged(path, text::quoted(path) + how +
                                 " since the study was read (another program did it); nothing was written: reload "
                                 "the file, or save under another name");
  };
  std::optional<StudyFileLock> lock;
  try {
    if (expected.exists) lock.emplace(path);
  } catch (const FileError& e) {
    if (e.notFound()) throw changed(" was deleted");
    throw;
  }
  const FileStamp now = stampOf(path);
  if (now != expected) throw changed(!now.exists ? " was deleted" : expected.exists ? " changed on disk" : " was created");
  const std::string text = study.toJson();
  replaceFileWithText(path, text);
  return stampOfText(text);
}

}  // namespace tavrin
