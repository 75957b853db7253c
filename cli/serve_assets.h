// The files of the workbench's page, found next to the executable and read
// into memory once, so that a request can only ever name one of them.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tavrin::cli {

struct Asset {
  std::string contentType;
  std::string bytes;
};

// Request path ("/", "/js/main.js") -> file. "/" is index.html.
using AssetTable = std::map<std::string, Asset, std::less<>>;

// Looks for the page beside the executable: `web/` in the build tree,
// `../share/tavrin/web` once installed. Throws FileError naming the places
// looked at when none holds index.html.
AssetTable loadAssets();

}  // namespace tavrin::cli
