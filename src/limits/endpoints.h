#pragma once
// The base address of every service the application talks to. The defaults
// are the real services; the file named by BRIMVALE_ENDPOINTS may override any
// of them (a mirror, a proxy, a loopback server in tests).
//
// The file is a JSON object whose members carry the names below, each a base
// URL: "http" or "https", a host, an optional port and an optional path
// prefix, for example {"anthropicAPI": "http://127.0.0.1:8080"}. A trailing
// "/" is dropped; paths are appended to the base as they are.

#include <iosfwd>
#include <optional>
#include <string>

namespace brimvale {

struct Endpoints {
  std::string anthropicAPI = "https://api.anthropic.com";  // OAuth usage endpoint
  std::string claudeWeb = "https://claude.ai";               // authorisation page
  std::string anthropicConsole = "https://console.anthropic.com";  // token endpoint
  std::string cursorAPI = "https://api2.cursor.sh";          // dashboard and token
  std::string grokAPI = "https://cli-chat-proxy.grok.com";   // the Grok CLI's billing
  std::string updateFeed = "https://github.com/Zubrik/brimvale/releases/latest/download";
  std::string githubAPI = "https://api.github.com";

  bool operator==(const Endpoints&) const = default;

  // The defaults with the overrides of the file named by BRIMVALE_ENDPOINTS.
  // Unset or empty: the defaults. A file that cannot be read or is not a
  // JSON object: one message on errors and the defaults. A member that is
  // not a usable base URL, or an unknown member, is reported and ignored.
  static Endpoints fromEnvironment(std::ostream& errors);
  static Endpoints fromEnvironment();  // messages to standard error
  static Endpoints fromFile(const std::string& path, std::ostream& errors);

  // The normalised base URL ("scheme://host[:port][/prefix]" without a
  // trailing "/"), or nothing when text is not one.
  static std::optional<std::string> baseURL(const std::string& text);
};

}  // namespace brimvale
