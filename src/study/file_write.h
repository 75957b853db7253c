// Writing files of the layer without ever exposing a partial one: see
// tavrin/study_file.h for the rules every save follows.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavrin {

// `path` with every symbolic link along its last component followed:
// the file a save writes. FileError for a loop of links.
std::string resolveLinks(const std::string& path);

// Replaces the file at `path` (through links) by the file that `write`
// creates at the temporary path it is given, in a private folder beside
// the target. Whatever `write` throws leaves the target as it was.
void replaceFile(const std::string& path, const std::function<void(const std::string& temporary)>& write);

// replaceFile with `text` as the new content.
void replaceFileWithText(const std::string& path, std::string_view text);

// The whole content of a file; FileError naming it as `what` ("the study
// file") when it cannot be opened or read, marked not found when absent.
std::string readFileText(const std::string& path, const std::string& what);

}  // namespace tavrin
