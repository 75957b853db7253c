// Which requests the workbench's server answers. A browser page on another
// site may send requests to a local port (cross-site requests), and a name
// that an attacker's DNS points at 127.0.0.1 makes such a page same-origin
// with us (DNS rebinding). Checking Host and Origin stops both.
#pragma once

#include <string>
#include <string_view>

namespace tavrin::cli {

class RequestGuard {
 public:
  // The guard of a server bound to `bindHost` (an address or "localhost")
  // on `port`.
  RequestGuard(std::string_view bindHost, int port);

  // True when `host` (the Host header, "name:port") names this server:
  // its own address, or a loopback name when bound to loopback, or any IP
  // address when bound to every interface (an address cannot be rebound).
  bool hostAllowed(std::string_view host) const;
  // True when `origin` is empty (no Origin header) or is "http://" + host.
  static bool originAllowed(std::string_view origin, std::string_view host);

  // The address to open in a browser, "http://127.0.0.1:8155/".
  std::string address() const;

 private:
  std::string bindHost_;
  int port_;
};

}  // namespace tavrin::cli
