#pragma once
// "brimvale-cli account login | status | logout": the Claude account login
// without the tray application. Never prints a token, code or verifier.

#include <string>
#include <vector>

namespace brimvale::cli {

extern const char* const kAccountUsage;

// args after "account"; returns the exit status.
int runAccount(const std::vector<std::string>& args);

}  // namespace brimvale::cli
