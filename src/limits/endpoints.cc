#include "limits/endpoints.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace brimvale {

namespace {

constexpr std::size_t kMaxFileBytes = 1 << 20;

std::optional<std::string> readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) return std::nullopt;
  }
  if (in.bad()) return std::nullopt;
  return text;
}

bool validPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  long value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

bool validHost(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    for (char c : host.substr(1, host.size() - 2)) {
      if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return false;
    }
    return true;
  }
  for (char c : host) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_')) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> Endpoints::baseURL(const std::string& text) {
  std::string_view rest;
  std::string_view scheme;
  for (std::string_view candidate : {"https://", "http://"}) {
    if (text.rfind(candidate, 0) == 0) {
      scheme = candidate;
      rest = std::string_view(text).substr(candidate.size());
      break;
    }
  }
  if (scheme.empty()) return std::nullopt;
  for (char c : rest) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || c == '?' || c == '#' || c == '@' || c == '\\') return std::nullopt;
  }
  const std::size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);

  std::string_view host = authority;
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    if (!validPort(authority.substr(colon + 1))) return std::nullopt;
    host = authority.substr(0, colon);
  }
  if (!validHost(host)) return std::nullopt;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  return std::string(scheme) + std::string(authority) + std::string(path);
}

Endpoints Endpoints::fromFile(const std::string& path, std::ostream& errors) {
  Endpoints endpoints;
  const auto text = readSmallFile(path);
  if (!text) {
    errors << "BRIMVALE_ENDPOINTS: cannot read " << path << "; using the default services\n";
    return endpoints;
  }
  const auto document = nlohmann::json::parse(*text, nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    errors << "BRIMVALE_ENDPOINTS: " << path
           << " is not a JSON object; using the default services\n";
    return endpoints;
  }
  const std::pair<const char*, std::string Endpoints::*> members[] = {
      {"anthropicAPI", &Endpoints::anthropicAPI},
      {"claudeWeb", &Endpoints::claudeWeb},
      {"anthropicConsole", &Endpoints::anthropicConsole},
      {"cursorAPI", &Endpoints::cursorAPI},
      {"grokAPI", &Endpoints::grokAPI},
      {"updateFeed", &Endpoints::updateFeed},
      {"githubAPI", &Endpoints::githubAPI},
  };
  for (const auto& [name, value] : document.items()) {
    std::string Endpoints::*field = nullptr;
    for (const auto& [known, member] : members) {
      if (name == known) field = member;
    }
    if (!field) {
      errors << "BRIMVALE_ENDPOINTS: unknown member \"" << name << "\" ignored\n";
      continue;
    }
    std::optional<std::string> base;
    if (value.is_string()) base = baseURL(value.get<std::string>());
    if (!base) {
      errors << "BRIMVALE_ENDPOINTS: \"" << name
             << "\" is not a base URL (http or https, host, optional port); default kept\n";
      continue;
    }
    endpoints.*field = *base;
  }
  return endpoints;
}

Endpoints Endpoints::fromEnvironment(std::ostream& errors) {
  const char* path = std::getenv("BRIMVALE_ENDPOINTS");
  if (!path || !*path) return Endpoints{};
  return fromFile(path, errors);
}

Endpoints Endpoints::fromEnvironment() { return fromEnvironment(std::cerr); }

}  // namespace brimvale
