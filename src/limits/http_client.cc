#include "limits/http_client.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

namespace brimvale {

namespace {

using SteadyClock = std::chrono::steady_clock;

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Loopback hosts never go through a proxy from the environment; the
// environment's own exceptions are kept.
std::string noProxyList() {
  std::string list;
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    if (const char* value = std::getenv(name); value && *value) {
      list = value;
      break;
    }
  }
  if (list == "*") return list;
  if (!list.empty()) list += ",";
  return list + "localhost,127.0.0.1,::1";
}

bool safeHeaderText(const std::string& text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

struct Transfer {
  CURL* handle = nullptr;
  std::size_t maxBody = 0;
  std::chrono::milliseconds idleLimit{0};
  std::string body;
  bool tooLarge = false;
  bool wrongStatus = false;
  bool idle = false;
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;
  SteadyClock::time_point lastMove = SteadyClock::now();
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  long status = 0;
  curl_easy_getinfo(t->handle, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    // Nobody reads the body of a failed answer; stop receiving it.
    t->wrongStatus = true;
    return 0;
  }
  if (bytes > t->maxBody - t->body.size()) {
    t->tooLarge = true;
    return 0;
  }
  t->body.append(data, bytes);
  return bytes;
}

int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* t = static_cast<Transfer*>(user);
  const auto now = SteadyClock::now();
  if (dlnow != t->lastDown || ulnow != t->lastUp) {
    t->lastDown = dlnow;
    t->lastUp = ulnow;
    t->lastMove = now;
    return 0;
  }
  if (now - t->lastMove > t->idleLimit) {
    t->idle = true;
    return 1;
  }
  return 0;
}

}  // namespace

struct HttpClient::Impl {
  std::mutex mutex;
  CURL* handle = nullptr;
  std::string noProxy = noProxyList();
};

HttpClient::HttpClient(HttpLimits limits) : limits_(limits), impl_(std::make_unique<Impl>()) {
  globalInit();
}

HttpClient::~HttpClient() {
  if (impl_->handle) curl_easy_cleanup(impl_->handle);
}

HttpResult HttpClient::perform(const HttpRequest& request) {
  HttpResult result;
  for (const auto& [name, value] : request.headers) {
    if (!safeHeaderText(name) || !safeHeaderText(value)) {
      result.error = "request refused: a header holds a line break";
      return result;
    }
  }

  std::lock_guard lock(impl_->mutex);
  if (!impl_->handle) impl_->handle = curl_easy_init();
  CURL* h = impl_->handle;
  if (!h) {
    result.error = "HTTP client unavailable";
    return result;
  }
  // Every exchange starts from clean options; the connection cache stays.
  curl_easy_reset(h);

  Transfer transfer;
  transfer.handle = h;
  transfer.maxBody = limits_.maxBodyBytes;
  transfer.idleLimit = limits_.requestTimeout;

  curl_slist* headers = nullptr;
  for (const auto& [name, value] : request.headers) {
    headers = curl_slist_append(headers, (name + ": " + value).c_str());
  }
  // No "Expect: 100-continue" round trip for larger bodies.
  headers = curl_slist_append(headers, "Expect:");

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
#else
  curl_easy_setopt(h, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_NOPROXY, impl_->noProxy.c_str());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.requestTimeout.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.wait.count()));
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxBodyBytes));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
  if (request.method == HttpRequest::Method::post) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }

  const CURLcode code = curl_easy_perform(h);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  // The options point into this frame; drop them before it goes.
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, nullptr);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
  curl_slist_free_all(headers);

  if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
    result.error = "answer larger than " + std::to_string(limits_.maxBodyBytes) + " bytes";
    return result;
  }
  if (transfer.wrongStatus || (code == CURLE_OK && result.status != 200)) {
    result.error = "HTTP status " + std::to_string(result.status);
    return result;
  }
  if (transfer.idle) {
    result.error = "no data within the request time-out";
    return result;
  }
  if (code != CURLE_OK) {
    result.error = curl_easy_strerror(code);
    return result;
  }
  auto parsed = nlohmann::json::parse(transfer.body, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    result.error = "answer is not a JSON object";
    return result;
  }
  result.object = std::move(parsed);
  return result;
}

}  // namespace brimvale
