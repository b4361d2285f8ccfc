#include "limits/probe_support.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace brimvale::probe {

std::optional<std::string> readBoundedFile(const std::string& path, std::size_t maxBytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (static_cast<std::size_t>(st.st_size) > maxBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > maxBytes) return std::nullopt;  // grew while reading
  }
  if (in.bad()) return std::nullopt;
  return text;
}

std::optional<Time> timeFromUnixSeconds(double seconds) { return checkedFromUnixSeconds(seconds); }

std::string formatISO8601Millis(Time t) {
  using namespace std::chrono;
  const auto ms = floor<milliseconds>(t.time_since_epoch()).count();
  const auto secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  const auto fraction = ms - secs * 1000;
  std::string whole = formatISO8601(Time(seconds(secs)));  // "...:SSZ"
  char tail[8];
  std::snprintf(tail, sizeof tail, ".%03dZ", static_cast<int>(fraction));
  whole.pop_back();
  return whole + tail;
}


}  // namespace brimvale::probe
