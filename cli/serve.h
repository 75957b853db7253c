// `tavrin serve`: the browser workbench, a local HTTP server that serves one
// page and a small JSON API over one study.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace tavrin::cli {

struct ServeOptions {
  std::string study;  // empty: no file, the page downloads the study
  std::string host = "127.0.0.1";
  int port = 8155;    // 0 picks a free port
};

// Adds the `serve [study.json] [--port N] [--host H]` subcommand.
void addServe(CLI::App& app, ServeOptions& options);

// Serves until SIGINT or SIGTERM; prints the address to open on `out`.
// Throws tavrin::Error when the port cannot be had or the page is missing.
void runServe(const ServeOptions& options, std::ostream& out);

}  // namespace tavrin::cli
