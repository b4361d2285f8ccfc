#include "support/run_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace brimvale::test {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& input) {
  std::string dir = (std::filesystem::temp_directory_path() / "brimvale-proc-XXXXXX").string();
  if (!mkdtemp(dir.data())) throw std::runtime_error("mkdtemp failed");
  const std::string inPath = dir + "/in", outPath = dir + "/out", errPath = dir + "/err";
  std::ofstream(inPath, std::ios::binary) << input;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    auto eq = entry.find('=');
    if (eq != std::string::npos && env.count(entry.substr(0, eq))) continue;
    envStrings.push_back(entry);
  }
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ProcessResult result;
  if (rc == 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  result.out = slurp(outPath);
  result.err = slurp(errPath);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return result;
}

std::string cliPath() { return BRIMVALE_CLI_PATH; }

}  // namespace brimvale::test
