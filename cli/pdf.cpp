#include "pdf.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tavrin/error.h"

namespace tavrin::cli {
namespace fs = std::filesystem;
namespace {

// The first of Chromium's names found on PATH; empty when none is.
std::string findChromium() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  for (const char* name : {"chromium", "chromium-browser"}) {
    std::string dirs = path;
    for (std::size_t start = 0; start <= dirs.size();) {
      const std::size_t end = std::min(dirs.find(':', start), dirs.size());
      const fs::path candidate = fs::path(dirs.substr(start, end - start)) / name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
      start = end + 1;
    }
  }
  return {};
}

// A scratch folder removed when it goes out of scope.
struct Scratch {
  fs::path dir;
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tavrin-pdf-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw FileError(pattern, std::string("cannot make a scratch folder: ") + std::strerror(errno));
    dir = pattern;
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

// Runs the program with its output to `log`; its exit status, or -1.
int runQuietly(const std::vector<std::string>& args, const fs::path& log) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

void printToPdf(const std::string& html, const std::string& pdfPath) {
  const std::string chromium = findChromium();
  if (chromium.empty())
    throw StateError("--pdf prints the report with Chromium, which is not installed; on Debian: "
                     "sudo apt-get install chromium (or write the HTML report and print it from any browser)");
  const Scratch scratch;
  const fs::path page = scratch.dir / "report.html";
  std::ofstream(page, std::ios::binary) << html;
  const fs::path target = fs::absolute(pdfPath);
  const fs::path log = scratch.dir / "chromium.log";
  // The page draws its figures when it loads; the virtual-time budget lets them finish before printing.
  const int status = runQuietly({chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                 "--disable-background-networking", "--disable-component-update",
                                 "--user-data-dir=" + (scratch.dir / "profile").string(), "--no-pdf-header-footer",
                                 "--virtual-time-budget=20000", "--print-to-pdf=" + target.string(),
                                 "file://" + page.string()},
                                log);
  std::error_code error;
  if (status != 0 || fs::file_size(target, error) == 0 || error)
    throw FileError(pdfPath, "Chromium (" + chromium + ") did not print the report to " + pdfPath +
                                 " (exit status " + std::to_string(status) + ")");
}

}  // namespace tavrin::cli
