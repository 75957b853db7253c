#include "serve.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "json_io.h"
#include "serve_api.h"
#include "serve_assets.h"
#include "serve_guard.h"
#include "tavrin/error.h"

namespace tavrin::cli {
namespace {

// Largest request body: a study file of the largest plan is far smaller.
constexpr std::size_t kMaxBodyBytes = 1u << 20;

// Connections. Each open connection holds one of the server's threads while
// it waits for or sends a request, so there are many more threads than one
// page needs at once (a browser opens about six): a few dozen connections
// that trickle their bytes, or never send any, cannot take them all. A
// connection is closed when it sends nothing for kReadTimeout, takes no
// bytes of an answer for kWriteTimeout, stays idle between requests for
// kKeepAliveTimeout, or has made kKeepAliveRequests requests. The write
// timeout is long: a page on a busy machine can leave a large answer (the
// report is about 5 MB) unread for several seconds without being gone.
constexpr std::size_t kConnectionThreads = 64;
constexpr std::chrono::seconds kReadTimeout{5};
constexpr std::chrono::seconds kWriteTimeout{60};
constexpr std::time_t kKeepAliveTimeoutSeconds = 2;
constexpr std::size_t kKeepAliveRequests = 100;

std::string errorBody(std::string_view type, const std::string& message) {
  return json::serialized(json::Json{{"error", {{"type", std::string(type)}, {"message", message}}}});
}

void send(httplib::Response& res, const ApiReply& reply) {
  res.status = reply.status;
  res.set_content(reply.body, reply.contentType.c_str());
}

// Refuses what does not come from this server's own page: a foreign Host
// (DNS rebinding) or a foreign Origin (a cross-site request).
httplib::Server::HandlerResponse guardRequest(const RequestGuard& guard, const httplib::Request& req,
                                               httplib::Response& res) {
  const std::string host = req.get_header_value("Host");
  const std::string origin = req.get_header_value("Origin");
  std::string refused;
  if (!guard.hostAllowed(host))
    refused = "the Host \"" + host + "\" is not this server's; open " + guard.address();
  else if (!RequestGuard::originAllowed(origin, host))
    refused = "requests from \"" + origin + "\" are refused; only the workbench's own page may call its API";
  // httplib caps only bodies of a declared length; the page always declares it.
  if (refused.empty() && req.has_header("Transfer-Encoding")) {
    res.status = 411;
    res.set_header("Connection", "close");
    res.set_content(errorBody("LengthRequired", "a request body needs a Content-Length of at most " +
                                                    std::to_string(kMaxBodyBytes) + " bytes"),
                    "application/json");
    return httplib::Server::HandlerResponse::Handled;
  }
  if (refused.empty()) return httplib::Server::HandlerResponse::Unhandled;
  res.status = 403;
  res.set_header("Connection", "close");
  res.set_content(errorBody("Forbidden", refused), "application/json");
  return httplib::Server::HandlerResponse::Handled;
}

// Fills the body of an error that httplib answered itself (413, 404).
void describeError(const httplib::Request& req, httplib::Response& res) {
  if (!res.body.empty()) return;
  std::string type = "BadRequest";
  std::string message = "the request is malformed";
  if (res.status == 413) {
    type = "PayloadTooLarge";
    message = "the request body is larger than the limit of " + std::to_string(kMaxBodyBytes) + " bytes";
  } else if (res.status == 404) {
    type = "NotFound";
    message = "nothing is at " + req.path;
  }
  res.set_content(errorBody(type, message), "application/json");
}

// The name of an uploaded file, for messages only ("results.csv:3:2: ...");
// the page sends it as ?name=. Control characters and overlong names are
// dropped.
std::string uploadName(const httplib::Request& req, const std::string& fallback) {
  std::string name = req.get_param_value("name");
  if (name.empty() || name.size() > 128) return fallback;
  for (const unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return fallback;
  return name;
}

void addApiRoutes(httplib::Server& server, Workbench& bench, const std::string& fileName) {
  using Req = const httplib::Request&;
  using Res = httplib::Response&;
  server.Get("/api/state", [&](Req, Res res) { send(res, bench.state()); });
  server.Post("/api/validate", [&](Req req, Res res) { send(res, bench.validate(req.body)); });
  server.Post("/api/new", [&](Req req, Res res) { send(res, bench.create(req.body)); });
  server.Get("/api/designs", [&](Req, Res res) { send(res, bench.designs()); });
  server.Post("/api/evaluate", [&](Req req, Res res) { send(res, bench.evaluate(req.body)); });
  server.Post("/api/results", [&](Req req, Res res) { send(res, bench.enterResults(req.body)); });
  server.Post("/api/results.csv", [&](Req req, Res res) {
    send(res, bench.enterResultsCsv(req.body, uploadName(req, "uploaded results"), req.get_param_value("actual") == "1"));
  });
  server.Get("/api/sheet.csv", [&](Req, Res res) {
    send(res, bench.runSheet());
    if (res.status == 200) res.set_header("Content-Disposition", "attachment; filename=\"runs.csv\"");
  });
  server.Get("/api/fit", [&](Req, Res res) { send(res, bench.fit()); });
  server.Post("/api/surface", [&](Req req, Res res) { send(res, bench.surface(req.body)); });
  server.Post("/api/optimize", [&](Req req, Res res) { send(res, bench.optimize(req.body)); });
  server.Post("/api/plot", [&](Req req, Res res) { send(res, bench.plot(req.body)); });
  server.Post("/api/report", [&](Req req, Res res) { send(res, bench.report(req.body)); });
  server.Post("/api/model", [&](Req req, Res res) { send(res, bench.model(req.body)); });
  server.Get("/api/study.json", [&bench, fileName](Req, Res res) {
    send(res, bench.studyFile());
    if (res.status == 200) res.set_header("Content-Disposition", "attachment; filename=\"" + fileName + "\"");
  });
  server.Post("/api/open", [&](Req req, Res res) { send(res, bench.open(req.body, uploadName(req, "uploaded study file"))); });
  server.Post("/api/save", [&](Req, Res res) { send(res, bench.save()); });
  server.Post("/api/reload", [&](Req, Res res) { send(res, bench.reload()); });
  server.Post("/api/save-as", [&](Req req, Res res) { send(res, bench.saveAs(req.body)); });
  server.Get("/api/.*", [](Req req, Res res) {
    res.status = 404;
    res.set_content(errorBody("NotFound", "no API at " + req.path), "application/json");
  });
}

void addAssetRoutes(httplib::Server& server, const AssetTable& assets) {
  server.Get(".*", [&assets](const httplib::Request& req, httplib::Response& res) {
    const auto it = assets.find(req.path);
    if (it == assets.end()) {
      res.status = 404;
      return;
    }
    // Served from memory as is: httplib would compress a plain body on
    // every request, which takes seconds for Plotly's 4.5 MB.
    const std::string& bytes = it->second.bytes;
    res.set_content_provider(bytes.size(), it->second.contentType.c_str(),
                             [&bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               return sink.write(bytes.data() + offset, length);
                             });
  });
}

// Headers on every answer: the page runs only its own scripts and cannot be
// framed by another site.
httplib::Headers securityHeaders() {
  return {{"X-Content-Type-Options", "nosniff"},
          {"X-Frame-Options", "DENY"},
          {"Referrer-Policy", "no-referrer"},
          {"Cache-Control", "no-store"},
          {"Content-Security-Policy",
           "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data: blob:; "
           "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'"}};
}

// Stops the server on SIGINT or SIGTERM. The signals are blocked in every
// thread and taken by one waiting thread, which may call stop() safely.
std::thread stopOnSignal(httplib::Server& server, std::atomic<bool>& signalled) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return std::thread([&server, &signalled, signals] {
    int received = 0;
    sigwait(&signals, &received);
    signalled = true;
    server.stop();
  });
}

}  // namespace

void runServe(const ServeOptions& options, std::ostream& out) {
  const std::optional<std::string> path =
      options.study.empty() ? std::nullopt : std::optional<std::string>(options.study);
  Workbench bench(path);
  const AssetTable assets = loadAssets();

  httplib::Server server;
  server.set_payload_max_length(kMaxBodyBytes);
  server.new_task_queue = [] { return new httplib::ThreadPool(kConnectionThreads); };
  server.set_read_timeout(kReadTimeout);
  server.set_write_timeout(kWriteTimeout);
  server.set_keep_alive_timeout(kKeepAliveTimeoutSeconds);
  server.set_keep_alive_max_count(kKeepAliveRequests);
  // httplib's default adds SO_REUSEPORT, which lets a second server share a
  // busy port; a port in use must be refused instead.
  server.set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  server.set_default_headers(securityHeaders());
  const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                     : (server.bind_to_port(options.host, options.port) ? options.port : -1);
  if (port < 0)
    throw Error("cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " +
                std::strerror(errno) + "; choose another with --port (0 picks a free one)");
  const RequestGuard guard(options.host, port);
  server.set_pre_routing_handler(
      [&guard](const httplib::Request& req, httplib::Response& res) { return guardRequest(guard, req, res); });
  server.set_error_handler(describeError);
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, const std::exception_ptr&) {
    res.status = 500;
    res.set_content(errorBody("Error", "the server failed to answer this request"), "application/json");
  });
  addApiRoutes(server, bench, path ? std::filesystem::path(*path).filename().string() : "study.json");
  addAssetRoutes(server, assets);

  std::atomic<bool> signalled = false;
  std::thread stopper = stopOnSignal(server, signalled);
  out << "Tavrin workbench: open " << guard.address() << " in a browser\n"
            << (path ? "Study file: " + *path : std::string("No study file: the page can download the study"))
            << "\nPress Ctrl+C to stop." << std::endl;
  const bool listened = server.listen_after_bind();
  // Ended without a signal: wake the waiting thread so that it can end.
  // SIGTERM is blocked in every thread and taken by its sigwait, so it cannot end the process.
  if (!signalled) pthread_kill(stopper.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  stopper.join();
  if (!listened) throw Error("the workbench's server stopped on an error");
}

void addServe(CLI::App& app, ServeOptions& options) {
  CLI::App* command = app.add_subcommand("serve", "Open the study in the browser workbench (a local web page)");
  command->footer(
      "Example:\n  tavrin serve study.json\n  then open the address it prints. The page reads and writes only "
      "study.json\n  (created by the first save when it does not exist).");
  command->add_option("study", options.study, "Study file to work on (optional)");
  command->add_option("--port", options.port, "Port to listen on; 0 picks a free one")
      ->check(CLI::Range(0, 65535))
      ->capture_default_str();
  command->add_option("--host", options.host,
                      "Address to listen on; other than loopback, the study is reachable from the network")
      ->capture_default_str();
}

}  // namespace tavrin::cli
