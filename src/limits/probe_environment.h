#pragma once

#include <functional>
#include <string>

#include "limits/endpoints.h"
#include "model/time_util.h"

namespace brimvale {

class HttpClient;

// What a probe or the account token store works with; the defaults are the
// real ones. Each adds what only it needs.
struct ProbeEnvironment {
  std::string home;            // the real home
  HttpClient* http = nullptr;  // null: the component's shared session()
  Endpoints endpoints;         // the real services
  std::function<Time()> now;   // null: the system clock
};

}  // namespace brimvale
