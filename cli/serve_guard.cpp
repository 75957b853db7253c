#include "serve_guard.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace tavrin::cli {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// The host part without brackets, "::1" for "[::1]".
std::string unbracketed(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return lower(host);
}

bool isIPv4(const std::string& host) {
  in_addr a{};
  return inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool isIPv6(const std::string& host) {
  in6_addr a{};
  return inet_pton(AF_INET6, host.c_str(), &a) == 1;
}

bool isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || (isIPv4(host) && host.rfind("127.", 0) == 0);
}

bool isWildcard(const std::string& host) { return host == "0.0.0.0" || host == "::"; }

// Splits "name:port" or "[v6]:port"; a missing port is HTTP's 80. False
// when the text is not of that form.
bool splitHostPort(std::string_view text, std::string& host, int& port) {
  std::string_view name = text;
  std::string_view digits;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos) return false;
    name = text.substr(0, close + 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      digits = rest.substr(1);
    }
  } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    name = text.substr(0, colon);
    digits = text.substr(colon + 1);
    if (name.find(':') != std::string_view::npos) return false;  // an unbracketed IPv6 address
  }
  if (name.empty()) return false;
  port = 80;
  if (!text.empty() && text.back() == ':') return false;
  if (!digits.empty()) {
    if (digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    port = std::stoi(std::string(digits));
  }
  host = unbracketed(name);
  return true;
}

}  // namespace

RequestGuard::RequestGuard(std::string_view bindHost, int port) : bindHost_(unbracketed(bindHost)), port_(port) {}

bool RequestGuard::hostAllowed(std::string_view header) const {
  std::string host;
  int port = 0;
  if (!splitHostPort(header, host, port) || port != port_) return false;
  if (host == bindHost_) return true;
  if (isLoopback(bindHost_)) return isLoopback(host);
  if (isWildcard(bindHost_)) return isLoopback(host) || isIPv4(host) || isIPv6(host);
  return false;
}

bool RequestGuard::originAllowed(std::string_view origin, std::string_view host) {
  if (origin.empty()) return true;
  return lower(origin) == "http://" + lower(host);
}

std::string RequestGuard::address() const {
  std::string host = isWildcard(bindHost_) ? "127.0.0.1" : bindHost_;
  if (isIPv6(host)) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(port_) + "/";
}

}  // namespace tavrin::cli
