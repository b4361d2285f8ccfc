#pragma once

#include <map>
#include <string>
#include <vector>

namespace brimvale::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments, the current environment plus `env`, and
// empty standard input; waits for it and returns what it printed.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {},
                         const std::string& input = "");

// The brimvale-cli built next to the tests.
std::string cliPath();

}  // namespace brimvale::test
