#include "support/test_env.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace brimvale::test {

void setTimeZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "brimvale-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
  std::filesystem::path p = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << content;
  return p.string();
}

}  // namespace brimvale::test
