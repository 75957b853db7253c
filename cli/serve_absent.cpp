// `tavrin serve` in a build without the workbench: the subcommand is there
// and says how to get the workbench, instead of being unknown.
#include <CLI/CLI.hpp>

#include "serve.h"
#include "tavrin/error.h"

namespace tavrin::cli {

void addServe(CLI::App& app, ServeOptions& options) {
  CLI::App* command = app.add_subcommand("serve", "Open the study in the browser workbench (not in this build)");
  command->add_option("study", options.study, "Study file to work on (optional)");
  command->add_option("--port", options.port, "Port to listen on; 0 picks a free one");
  command->add_option("--host", options.host, "Address to listen on");
}

void runServe(const ServeOptions&, std::ostream&) {
  throw Error(
      "this tavrin was built without the workbench (TAVRIN_WORKBENCH=OFF, or npm was missing when it was "
      "configured): install npm (tools/deps.sh browser) and configure and build again with -DTAVRIN_WORKBENCH=ON");
}

}  // namespace tavrin::cli
