// Helpers shared by the fuzz targets and by the test that replays their
// corpora: scratch files and a collector of the first mismatch found.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// A file of its own in the temporary directory, removed on destruction.
class ScratchFile {
 public:
  ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/tavrin-fuzz-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd < 0) std::abort();
    close(fd);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { unlink(path_.c_str()); }

  const char* path() const { return path_.c_str(); }
  void remove() const { unlink(path_.c_str()); }

  void write(const std::uint8_t* data, std::size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (!file) std::abort();
    if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
  }

  std::string read() const {
    std::string bytes;
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (!file) return bytes;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return bytes;
  }

 private:
  std::string path_;
};

// Keeps the first reported mismatch; later ones are usually consequences.
class Findings {
 public:
  __attribute__((format(printf, 2, 3))) void report(const char* format, ...) {
    if (!first_.empty()) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    first_ = text;
  }
  bool any() const { return !first_.empty(); }
  const std::string& first() const { return first_; }

 private:
  std::string first_;
};

inline std::string narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += (*text >= 32 && *text < 127) ? static_cast<char>(*text) : '?';
  return out;
}

}  // namespace fuzz
