#include "limits/account_auth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

#include "limits/account_token_store.h"
#include "limits/http_client.h"

namespace brimvale {

namespace {

using nlohmann::json;

std::string urlSafeBase64(const unsigned char* data, std::size_t size) {
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(static_cast<std::size_t>(n));
  std::string result;
  for (char c : out) {
    if (c == '+') result += '-';
    else if (c == '/') result += '_';
    else if (c != '=') result += c;
  }
  return result;
}

std::string randomText(std::size_t bytes) {
  std::vector<unsigned char> buffer(bytes);
  if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1) {
    throw std::runtime_error("no secure random bytes");
  }
  return urlSafeBase64(buffer.data(), buffer.size());
}

// Query values as a URL-components builder writes them: spaces become %20,
// colons and slashes stay.
std::string queryEncoded(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    const bool literal = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         std::string_view("-._~:/?@!$'()*,;").find(static_cast<char>(c)) !=
                             std::string_view::npos;
    if (literal) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string AccountAuth::makeVerifier() { return randomText(64); }
std::string AccountAuth::makeState() { return randomText(32); }

std::string AccountAuth::challenge(const std::string& verifier) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
  return urlSafeBase64(digest, sizeof digest);
}

AccountAuth::AccountAuth(Dependencies deps)
    : deps_(std::move(deps)),
      server_(*deps_.loop, deps_.port),
      isConnected_(AccountTokenStore::load(deps_.home).has_value()),
      activeRedirectURI_(AccountTokenStore::redirectURI(deps_.endpoints)),
      self_(std::make_shared<AccountAuth*>(this)) {}

AccountAuth::~AccountAuth() {
  *self_ = nullptr;
  server_.stop();
}

int AccountAuth::addObserver(std::function<void()> observer) {
  observers_[nextObserver_] = std::move(observer);
  return nextObserver_++;
}

void AccountAuth::removeObserver(int token) { observers_.erase(token); }

void AccountAuth::changed() {
  auto observers = observers_;
  for (auto& [token, observer] : observers) observer();
}

std::string AccountAuth::authorizeURL() const {
  if (!pendingVerifier_ || !pendingState_) return {};
  const std::vector<std::pair<std::string, std::string>> items = {
      {"code", "true"},
      {"client_id", std::string(AccountTokenStore::clientID)},
      {"response_type", "code"},
      {"redirect_uri", activeRedirectURI_},
      {"scope", scope},
      {"code_challenge", challenge(*pendingVerifier_)},
      {"code_challenge_method", "S256"},
      {"state", *pendingState_},
  };
  std::string url = deps_.endpoints.claudeWeb + "/oauth/authorize";
  char separator = '?';
  for (const auto& [name, value] : items) {
    url += separator + name + "=" + queryEncoded(value);
    separator = '&';
  }
  return url;
}

void AccountAuth::openAuthorize() {
  const std::string url = authorizeURL();
  if (!url.empty() && deps_.opener) deps_.opener->open(url);
}

void AccountAuth::beginLogin() {
  autoError_.reset();
  pendingVerifier_ = makeVerifier();
  pendingState_ = makeState();
  const uint64_t generation = ++loginGeneration_;
  const std::weak_ptr<AccountAuth*> weak = self_;
  const auto current = [weak, generation]() -> AccountAuth* {
    const auto self = weak.lock();
    if (!self || !*self || (*self)->loginGeneration_ != generation) return nullptr;
    return *self;
  };

  server_.start(
      [current] {
        if (AccountAuth* auth = current()) {
          auth->awaitingCallback_ = true;
          auth->activeRedirectURI_ = auth->server_.redirectURI();
          auth->openAuthorize();
          auth->changed();
        }
      },
      [current] {
        if (AccountAuth* auth = current()) {
          auth->awaitingCallback_ = false;
          auth->activeRedirectURI_ = AccountTokenStore::redirectURI(auth->deps_.endpoints);
          auth->openAuthorize();
          auth->changed();
        }
      },
      [current](std::string code, std::optional<std::string> state) {
        AccountAuth* auth = current();
        if (!auth) return;
        const std::string text = state ? code + "#" + *state : code;
        const std::weak_ptr<AccountAuth*> again = auth->self_;
        auth->complete(text, [again](std::optional<Error> error) {
          const auto self = again.lock();
          if (!error || !self || !*self) return;
          (*self)->autoError_ = error->description;
          (*self)->changed();
        });
      });

  deps_.loop->postDelayed(std::chrono::duration_cast<std::chrono::milliseconds>(loginLimit), [current] {
    AccountAuth* auth = current();
    if (!auth || auth->isConnected_) return;
    // The verifier stays: a code pasted later can still be exchanged.
    auth->server_.stop();
    auth->awaitingCallback_ = false;
    auth->changed();
  });
  changed();
}

void AccountAuth::complete(const std::string& text, std::function<void(std::optional<Error>)> done) {
  const auto fail = [&](const char* message) { deps_.loop->post([done, message] { done(Error{"AccountAuth", 1, message}); }); };
  if (!pendingVerifier_ || !pendingState_) return fail(noLoginMessage);

  const std::string cleaned = trimmed(text);
  const auto hash = cleaned.find('#');
  const std::string code = cleaned.substr(0, hash);
  if (code.empty()) return fail(emptyCodeMessage);
  if (hash != std::string::npos) {
    std::string state = cleaned.substr(hash + 1);
    state = state.substr(0, state.find('#'));
    // A code issued for some other login is not ours to redeem.
    if (state != *pendingState_) return fail(exchangeFailedMessage);
  }

  const json body = {{"grant_type", "authorization_code"},
                     {"code", code},
                     {"state", *pendingState_},
                     {"client_id", std::string(AccountTokenStore::clientID)},
                     {"redirect_uri", activeRedirectURI_},
                     {"code_verifier", *pendingVerifier_}};
  const std::weak_ptr<AccountAuth*> weak = self_;
  MainLoop* loop = deps_.loop;
  HttpClient* http = deps_.http ? deps_.http : &AccountTokenStore::session();
  const std::string url = deps_.endpoints.anthropicConsole + std::string(AccountTokenStore::tokenPath);
  const auto now = deps_.now;
  const std::string home = deps_.home;

  deps_.background->submit([=] {
    auto request = HttpRequest::post(url, body.dump());
    request.header("Content-Type", "application/json");
    const HttpResult result = http->perform(request);
    std::optional<OAuthPair> pair;
    if (result.object) pair = AccountTokenStore::parsePair(*result.object, now ? now() : Clock::now());
    std::optional<Error> error;
    if (!pair) {
      // A transport failure is passed on as it is; its text never holds a token.
      error = Error{"AccountAuth", 1, result.status == 0 ? result.error : exchangeFailedMessage};
    } else {
      AccountTokenStore::save(home, *pair);
      AccountTokenStore::clearRefreshFailure();
    }
    loop->post([weak, error, done] {
      const auto self = weak.lock();
      if (self && *self && !error) {
        AccountAuth* auth = *self;
        auth->pendingVerifier_.reset();
        auth->pendingState_.reset();
        auth->server_.stop();
        auth->awaitingCallback_ = false;
        auth->autoError_.reset();
        auth->isConnected_ = true;
        auth->changed();
      }
      done(error);
    });
  });
}

void AccountAuth::disconnect() {
  AccountTokenStore::remove(deps_.home);
  server_.stop();
  awaitingCallback_ = false;
  isConnected_ = false;
  changed();
}

}  // namespace brimvale
