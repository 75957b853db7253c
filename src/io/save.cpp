#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "io/number_format.h"
#include "io/plan_file_reader.h"
#include "plan/messages.h"
#include "plan/registry.h"
#include "tavrin/tavrin.h"

namespace tavrin {
namespace {

constexpr std::size_t kNameBufferSize = 300;

// Appends the name in the current C locale's multibyte encoding, or the
// fallback (`fallback` and the 1-based position) when it has no such form,
// does not fit the 300-byte buffer with its null, or `useFallback` is set.
// The conversion stops early (leaving `source` non-null) when the next
// character would not fit, so a name can need 300 bytes or more yet convert
// fewer.
void appendName(std::string& out, const wchar_t* name, const char* fallback, int position,
                bool useFallback = false) {
  char narrow[kNameBufferSize];
  std::mbstate_t state{};
  const wchar_t* source = name;
  const std::size_t length = useFallback ? 0 : std::wcsrtombs(narrow, &source, kNameBufferSize, &state);
  if (useFallback || length == static_cast<std::size_t>(-1) || length >= kNameBufferSize || source != nullptr) {
    out += fallback;
    appendInteger(out, position);
    return;
  }
  out.append(narrow, length);
}

// Ends the line that begins at `lineStart`. A line longer than Load reads
// (a comment that carries names) is cut to kMaxLineLength characters, at
// the last character boundary of the current locale's encoding before it.
void endCommentLine(std::string& out, std::size_t lineStart) {
  if (out.size() - lineStart > kMaxLineLength) {
    const std::size_t limit = lineStart + kMaxLineLength;
    std::size_t cut = lineStart;
    std::mbstate_t state{};
    while (cut < limit) {
      std::size_t length = std::mbrlen(out.data() + cut, out.size() - cut, &state);
      if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
        state = std::mbstate_t{};
        length = 1;
      }
      if (length == 0) length = 1;
      if (cut + length > limit) break;
      cut += length;
    }
    out.resize(cut);
  }
  out += '\n';
}

// Formats the values of one experiment-table column. A design variable
// takes only a few distinct values (its levels), so the text of the last
// few is kept and reused; the bytes are those appendGeneral writes.
class ColumnFormatter {
 public:
  void append(std::string& out, double value) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t e = 0; e < used_; ++e) {
      if (entries_[e].bits == bits) {
        out += entries_[e].text;
        return;
      }
    }
    const std::size_t start = out.size();
    appendGeneral(out, value);
    if (used_ < entries_.size()) entries_[used_++] = {bits, out.substr(start)};
  }

 private:
  struct Entry {
    std::uint64_t bits = 0;
    std::string text;
  };
  std::array<Entry, 4> entries_;
  std::size_t used_ = 0;
};

void appendCountLine(std::string& out, unsigned int value, const char* label) {
  appendInteger(out, value);
  out += "\t//";
  out += label;
  out += '\n';
}

// What Save writes, gathered from the plan object once.
struct SaveView {
  unsigned int version = 0;
  long long planType = 0;
  unsigned int n = 0, m = 0, runs = 0;
  std::vector<const wchar_t*> varNames;
  std::vector<double> varMin, varMax;
  std::vector<const wchar_t*> objNames;
  // Per objective: its measured values (1-based) and, per design variable,
  // its experiment-table column or null.
  std::vector<const float*> measured;
  std::vector<std::vector<const DesignVarValuesRecord*>> columns;
  std::vector<float* const*> coefficients;
};

void writeHeader(std::string& out, const SaveView& v) {
  appendCountLine(out, v.version, "Tavrin File Version");
  out += "//\n";
  appendInteger(out, v.planType);
  out += "\t//Plan Type (RechschafnerPlan = 1, BoxBehnkenPlan = 2)\n";
  out += "//\n";
  appendCountLine(out, v.n, "Design Variables Count");
  appendCountLine(out, v.m, "Objectives Count");
  appendCountLine(out, v.runs, "Experiments Count");
  out += "//\n//Design Variables (Name, Minimum Value, Maximum Value)\n";
}

// A name whose line would be longer than Load reads gets its fallback.
void writeDesignVars(std::string& out, const SaveView& v) {
  std::string line;
  for (unsigned int i = 0; i < v.n; ++i) {
    for (bool useFallback : {false, true}) {
      line.clear();
      appendName(line, v.varNames[i], "DesignVar", static_cast<int>(i) + 1, useFallback);
      line += '\t';
      appendGeneral(line, v.varMin[i]);
      line += '\t';
      appendGeneral(line, v.varMax[i]);
      line += '\t';
      if (line.size() <= kMaxLineLength) break;
    }
    out += line;
    out += '\n';
  }
}

void writeObjectives(std::string& out, const SaveView& v) {
  out += "//\n//Objectives\n";
  for (unsigned int j = 0; j < v.m; ++j) {
    const std::size_t lineStart = out.size();
    appendName(out, v.objNames[j], "Objective", static_cast<int>(j) + 1);
    out += '\t';
    if (out.size() - lineStart > kMaxLineLength) {
      out.resize(lineStart);
      appendName(out, v.objNames[j], "Objective", static_cast<int>(j) + 1, true);
      out += '\t';
    }
    out += '\n';
  }
}

void writeExperimentalData(std::string& out, const SaveView& v) {
  out += "//\n//Experimental Data\n";
  std::vector<ColumnFormatter> formatters;
  for (unsigned int j = 0; j < v.m; ++j) {
    const std::size_t lineStart = out.size();
    out += "//";
    appendName(out, v.objNames[j], "Objective", static_cast<int>(j) + 1);
    out += '\t';
    for (unsigned int i = 0; i < v.n; ++i) {
      out += ',';
      appendName(out, v.varNames[i], "DesignVar", static_cast<int>(i) + 1);
    }
    endCommentLine(out, lineStart);
    formatters.assign(v.n, ColumnFormatter());
    for (unsigned int k = 1; k <= v.runs; ++k) {
      appendGeneral(out, static_cast<double>(v.measured[j][k]));
      for (std::size_t i = 0; i < v.n; ++i) {
        const DesignVarValuesRecord* column = v.columns[j][i];
        out += '\t';
        formatters[i].append(out, column && k <= column->values.size() ? column->values[k - 1] : 0.0);
      }
      out += '\n';
    }
  }
}

void writeCoefficients(std::string& out, const SaveView& v) {
  out += "//\n//Quadratic polynomial coefficients\n";
  for (unsigned int j = 0; j < v.m; ++j) {
    const std::size_t lineStart = out.size();
    out += "//Objective: ";
    appendName(out, v.objNames[j], "Objective", static_cast<int>(j) + 1);
    endCommentLine(out, lineStart);
    float* const* b = v.coefficients[j];
    auto appendCoefficient = [&out, b](unsigned int r, unsigned int c) {
      appendGeneral(out, static_cast<double>(b[r][c]));
      out += "\t// B[";
      appendInteger(out, r);
      out += ',';
      appendInteger(out, c);
      out += "]\n";
    };
    appendCoefficient(0, 0);
    for (unsigned int i = 1; i <= v.n; ++i) appendCoefficient(0, i);
    for (unsigned int i = 1; i <= v.n; ++i) appendCoefficient(i, 0);
    for (unsigned int i = 1; i < v.n; ++i) {
      for (unsigned int c = 1; c <= v.n - i; ++c) appendCoefficient(i, c);
    }
  }
}

// Writes all of `text` to `fd`, retrying short and interrupted writes.
bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

enum class WriteOutcome { Written, CannotOpen, Failed };

// Writes straight into `path` (created or truncated), checking every step.
WriteOutcome writeDirectly(const char* path, const std::string& text) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return WriteOutcome::CannotOpen;
  const bool written = writeAll(fd, text);
  const bool closed = ::close(fd) == 0;
  return written && closed ? WriteOutcome::Written : WriteOutcome::Failed;
}

// Writes a temporary file beside `target` and renames it over the target
// once every write and the close have succeeded; on failure the temporary
// file is removed and the target is untouched. `mode` is the new file's
// permission bits (those of the file it replaces), or -1 for the default.
WriteOutcome writeReplacing(const std::string& target, int mode, const std::string& text) {
  static std::atomic<unsigned int> serial{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target + ".tavrin-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return WriteOutcome::CannotOpen;
  bool ok = mode < 0 || ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
  ok = ok && writeAll(fd, text);
  ok = (::close(fd) == 0) && ok;
  ok = ok && std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return WriteOutcome::Failed;
  }
  return WriteOutcome::Written;
}

// Regular files, new files and links to regular files are replaced whole
// through a temporary file; anything else (a FIFO, a terminal, /dev/stdout)
// is written directly. A directory that refuses the temporary file falls
// back to writing an existing file directly.
WriteOutcome writePlanFile(const char* path, const std::string& text) {
  struct stat status {};
  std::string target = path;
  int mode = -1;
  if (::lstat(path, &status) == 0) {
    if (S_ISLNK(status.st_mode)) {
      char* resolved = ::realpath(path, nullptr);
      struct stat linked {};
      const bool regular = resolved && ::stat(resolved, &linked) == 0 && S_ISREG(linked.st_mode);
      if (resolved) target = resolved;
      std::free(resolved);
      if (!regular) return writeDirectly(path, text);
      mode = static_cast<int>(linked.st_mode & 07777);
    } else if (!S_ISREG(status.st_mode)) {
      return writeDirectly(path, text);
    } else {
      mode = static_cast<int>(status.st_mode & 07777);
    }
    const WriteOutcome replaced = writeReplacing(target, mode, text);
    return replaced == WriteOutcome::CannotOpen ? writeDirectly(path, text) : replaced;
  }
  if (errno != ENOENT) return writeDirectly(path, text);
  return writeReplacing(target, mode, text);
}

}  // namespace
}  // namespace tavrin

Result CTavrin::Save(char const* path, unsigned int version) {
  const tavrin::Op op = tavrin::Op::Save;
  Result stage = tavrin::requireStage(op, tavrin::Stage::Model, PlanComputed, ModelComputed);
  if (stage.code != 0) return stage;
  if (version > FILE_CURRENT_VERSION) return tavrin::failure(op, tavrin::Failure::FileVersion);
  const Result cannotWrite = tavrin::failure(op, tavrin::Failure::CannotOpenToSave);
  if (!path) return cannotWrite;

  std::string out;
  try {
    tavrin::SaveView v;
    v.version = version;
    v.planType = static_cast<long long>(CurrentPlanType);
    planGetDesignVarCount(v.n);
    planGetObjectiveCount(v.m);
    planGetExperimentCount(v.runs);
    const wchar_t* name = nullptr;
    double min = 0.0, max = 0.0;
    for (unsigned int i = 0; i < v.n; ++i) {
      planGetDesignVar(static_cast<int>(i), name, min, max);
      v.varNames.push_back(name);
      v.varMin.push_back(min);
      v.varMax.push_back(max);
    }
    for (unsigned int j = 0; j < v.m; ++j) {
      planGetObjective(static_cast<int>(j), name);
      v.objNames.push_back(name);
      // Each column is looked up once, by name, so repeated names read the
      // first match as the experiment getters do.
      std::vector<const tavrin::DesignVarValuesRecord*> columns;
      for (unsigned int i = 0; i < v.n; ++i) columns.push_back(MapDesignVarValues.find(v.varNames[i], name));
      v.columns.push_back(std::move(columns));
      const tavrin::ObjectiveRecord* objective = tavrin::findObjective(MapObjectives, name);
      v.measured.push_back(Workspace.obsTable[static_cast<std::size_t>(objective->index)]);
      v.coefficients.push_back(Workspace.coefTable[j + 1]);
    }

    out.reserve(4096 + static_cast<std::size_t>(v.m) * v.runs * (v.n + 1) * 12);
    tavrin::writeHeader(out, v);
    tavrin::writeDesignVars(out, v);
    tavrin::writeObjectives(out, v);
    tavrin::writeExperimentalData(out, v);
    tavrin::writeCoefficients(out, v);
  } catch (const std::bad_alloc&) {
    return cannotWrite;
  }

  return tavrin::writePlanFile(path, out) == tavrin::WriteOutcome::Written ? Result() : cannotWrite;
}
