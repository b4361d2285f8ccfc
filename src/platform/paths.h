#pragma once
// Every platform-specific location, relative to the real home.

#include <string>

namespace brimvale::paths {

// The home recorded in the user database, falling back to $HOME.
std::string realHome();

std::string exchangeFolder(const std::string& home);        // .local/share/Brimvale
std::string legacyExchangeFolder(const std::string& home);  // .local/share/Kestrune
std::string defaultsFile(const std::string& home);          // .config/Brimvale/defaults.json
std::string cursorStateDB(const std::string& home);  // .config/Cursor/User/globalStorage/state.vscdb
std::string autostartEntry(const std::string& home);  // .config/autostart/brimvale.desktop

}  // namespace brimvale::paths
