// Times the log readers on a home folder:
//
//   brimvale-reader-bench --home DIR --tool claude|codex|gemini
//
// Runs the reader twice in this process: the first call is the cold read (a
// fresh process; the files should already be in the page cache), the second
// is the next refresh with no file changed. Prints one line per call with the
// wall time, the CPU time of all threads, MB/s, events, events/s and the peak resident set
// size so far (getrusage ru_maxrss). Run one tool per process so its peak
// memory is its own; bench/run.sh repeats the runs and takes medians.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "collection/readers/claude_projects.h"
#include "collection/readers/codex_sessions.h"
#include "collection/readers/gemini_sessions.h"

namespace {

struct Input {
  uint64_t bytes = 0;
  uint64_t files = 0;
  uint64_t largest = 0;
};

Input measure(const std::filesystem::path& root, std::string_view suffix) {
  Input in;
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    std::string name = it->path().filename().string();
    if (name.size() < suffix.size() || name.substr(name.size() - suffix.size()) != suffix) continue;
    uint64_t size = it->file_size();
    in.bytes += size;
    in.largest = std::max(in.largest, size);
    ++in.files;
  }
  return in;
}

// User plus system CPU seconds of the whole process (all threads).
double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long peakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home, tool;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view k = argv[i];
    if (k == "--home") home = argv[i + 1];
    else if (k == "--tool") tool = argv[i + 1];
  }
  if (home.empty() || (tool != "claude" && tool != "codex" && tool != "gemini")) {
    std::fprintf(stderr, "usage: brimvale-reader-bench --home DIR --tool claude|codex|gemini\n");
    return 2;
  }
  Input in = tool == "claude"  ? measure(std::filesystem::path(home) / ".claude/projects", ".jsonl")
             : tool == "codex" ? measure(std::filesystem::path(home) / ".codex/sessions", ".jsonl")
                               : measure(std::filesystem::path(home) / ".gemini/tmp", ".json");
  std::printf("tool=%s files=%llu bytes=%llu largest=%llu\n", tool.c_str(), (unsigned long long)in.files,
              (unsigned long long)in.bytes, (unsigned long long)in.largest);
  for (int run = 0; run < 2; ++run) {
    double cpuStart = cpuSeconds();
    auto start = std::chrono::steady_clock::now();
    size_t events = 0, limits = 0;
    if (tool == "claude") {
      events = brimvale::loadClaudeProjects(home).size();
    } else if (tool == "codex") {
      auto data = brimvale::loadCodexSessions(home);
      events = data.events.size();
      limits = data.limits.size();
    } else {
      events = brimvale::loadGeminiSessions(home).size();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double cpu = cpuSeconds() - cpuStart;
    std::printf("%s wall_s=%.4f cpu_s=%.4f MB_s=%.0f events=%zu events_s=%.0f limits=%zu peak_rss_MiB=%.1f\n",
                run == 0 ? "cold" : "again", seconds, cpu, in.bytes / 1e6 / seconds, events, events / seconds, limits,
                peakKiB() / 1024.0);
  }
  return 0;
}
