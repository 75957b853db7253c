// Arbitrary bytes as a plan file for CTavrin::Load: the answer is success or code 21 with one of the Load
// messages, a success leaves the plan and the models computed and can be saved, and a failure leaves the
// models not computed. Also the scratch files and the message text that both fuzz harnesses use.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>

#include "tavrin/tavrin.h"

namespace fuzz {

// A file of its own in the temporary directory, removed on destruction.
struct Scratch {
  std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/tavrin-fuzz-XXXXXX";
  Scratch() { close(mkstemp(path.data())); }
  ~Scratch() { unlink(path.c_str()); }
};

// A message as narrow text for the reports (wide characters cut to their low byte).
inline std::string narrow(const wchar_t* message) { return std::string(message, message + std::wcslen(message)); }

inline std::string runLoadInput(const std::uint8_t* data, std::size_t size) {  // the first mismatch, or ""
  static Scratch input, saved;
  std::ofstream(input.path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  CTavrin study(CTavrin::BoxBehnkenPlan);
  if (size > 0 && data[0] % 2 == 0) {  // an even first byte: into a study that already holds a variable and an objective
    study.planAddDesignVar(L"p", -1.0, 1.0), study.planAddObjective(L"q");
  }
  unsigned version = 0;
  const Result r = study.Load(input.path.c_str(), version);
  const std::wstring message = r.message;
  bool known = r.code == 0 && message == L"No Errors";
  for (const wchar_t* reason : {L"Can not open file to load.", L"Can not load from file.", L"Design Variable Name is not valid.",
                                L"Objective Name is not valid.", L"Can not compute plan.", L"Can not compute model."}) {
    known = known || (r.code == 21 && message == L"Tavrin Error. Load(). " + std::wstring(reason));
  }
  if (!known) return "Load answered " + std::to_string(r.code) + " " + narrow(r.message);
  if (r.code == 0 ? !study.planIsComputed() || !study.modelIsComputed() || study.modelIsOptimized()
                  : study.modelIsComputed() || study.modelIsOptimized()) {
    return "flags after Load answered " + std::to_string(r.code);
  }
  const Result s = r.code == 0 ? study.Save(saved.path.c_str(), CTavrin::FILE_CURRENT_VERSION) : Result();
  return s.code == 0 ? "" : "Save after Load answered " + std::to_string(s.code) + " " + narrow(s.message);
}

}  // namespace fuzz
