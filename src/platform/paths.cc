#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace brimvale::paths {

std::string realHome() {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result &&
      result->pw_dir && *result->pw_dir)
    return result->pw_dir;
  const char* home = std::getenv("HOME");
  return home ? home : "";
}

std::string exchangeFolder(const std::string& home) { return home + "/.local/share/Brimvale"; }
std::string legacyExchangeFolder(const std::string& home) {
  return home + "/.local/share/Kestrune";
}
std::string defaultsFile(const std::string& home) {
  return home + "/.config/Brimvale/defaults.json";
}
std::string cursorStateDB(const std::string& home) {
  return home + "/.config/Cursor/User/globalStorage/state.vscdb";
}
std::string autostartEntry(const std::string& home) {
  return home + "/.config/autostart/brimvale.desktop";
}

}  // namespace brimvale::paths
