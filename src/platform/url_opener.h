#pragma once
// Opening an address in the user's browser.

#include <string>

namespace brimvale {

class UrlOpener {
 public:
  virtual ~UrlOpener() = default;
  // False when nothing could be started.
  virtual bool open(const std::string& url) = 0;
};

// Runs "xdg-open" with the address (detached; its output is discarded).
class XdgUrlOpener : public UrlOpener {
 public:
  bool open(const std::string& url) override;
};

}  // namespace brimvale
