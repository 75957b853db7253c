#include "serve_assets.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "tavrin/error.h"

#ifndef TAVRIN_WEB_FROM_BINDIR
#error "TAVRIN_WEB_FROM_BINDIR (the installed page relative to the executable's folder) must be defined"
#endif

namespace tavrin::cli {
namespace fs = std::filesystem;
namespace {

std::string_view contentType(const fs::path& file) {
  static const std::map<std::string, std::string_view, std::less<>> types = {
      {".html", "text/html; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"}, {".svg", "image/svg+xml"},
      {".png", "image/png"}, {".ico", "image/x-icon"}};
  const auto it = types.find(file.extension().string());
  return it == types.end() ? std::string_view("application/octet-stream") : it->second;
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw FileError(file.string(), "cannot read " + file.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

fs::path executableDir() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path() : self.parent_path();
}

}  // namespace

AssetTable loadAssets() {
  const fs::path bin = executableDir();
  const std::vector<fs::path> places = {bin / "web", (bin / TAVRIN_WEB_FROM_BINDIR).lexically_normal()};
  for (const fs::path& root : places) {
    if (!fs::is_regular_file(root / "index.html")) continue;
    AssetTable table;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::string request = "/";
      request += entry.path().lexically_relative(root).generic_string();
      table[request] = Asset{std::string(contentType(entry.path())), readFile(entry.path())};
    }
    table["/"] = table.at("/index.html");
    return table;
  }
  std::string looked;
  for (const fs::path& p : places) {
    if (!looked.empty()) looked += ", ";
    looked += p.string();
  }
  throw FileError(places.front().string(), "the workbench's page is not installed: no index.html in " + looked);
}

}  // namespace tavrin::cli
