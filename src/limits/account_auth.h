#pragma once
// The Claude account login: OAuth 2.0 authorisation code with PKCE. The
// authorisation page opens in the browser; the code comes back to the
// loopback listener, or the user pastes "code#state" from Anthropic's
// fallback page. The code is exchanged for tokens that AccountTokenStore
// keeps.
//
// The state sent with the login is its own random value (never the PKCE
// verifier, which must not travel in an address); a code that returns with
// another state is refused without any request.
//
// Main loop only. The exchange runs on the background executor and its
// result comes back through the loop.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "limits/endpoints.h"
#include "limits/oauth_callback_server.h"
#include "model/time_util.h"
#include "platform/main_loop.h"
#include "platform/url_opener.h"

namespace brimvale {

class HttpClient;

class AccountAuth {
 public:
  struct Error {
    std::string domain = "AccountAuth";
    int code = 1;
    std::string description;
  };
  static constexpr const char* noLoginMessage = "먼저 '브라우저에서 로그인'을 눌러주세요";
  static constexpr const char* emptyCodeMessage = "코드가 비어 있습니다";
  static constexpr const char* exchangeFailedMessage =
      "코드 교환에 실패했습니다. 로그인부터 다시 시도해주세요";
  static constexpr const char* scope = "org:create_api_key user:profile user:inference";
  static constexpr auto loginLimit = std::chrono::seconds(600);

  struct Dependencies {
    MainLoop* loop = nullptr;
    BackgroundExecutor* background = nullptr;
    UrlOpener* opener = nullptr;
    std::string home;            // the token file lives in its exchange folder
    Endpoints endpoints;         // the real services
    HttpClient* http = nullptr;  // null: the token store's session
    std::function<Time()> now;   // null: the system clock
    int port = OAuthCallbackServer::defaultPort;  // 0: any free port (tests)
  };

  explicit AccountAuth(Dependencies deps);
  ~AccountAuth();
  AccountAuth(const AccountAuth&) = delete;
  AccountAuth& operator=(const AccountAuth&) = delete;

  // Published state; observers run on the main loop after a change.
  bool isConnected() const { return isConnected_; }
  bool awaitingCallback() const { return awaitingCallback_; }
  const std::optional<std::string>& autoError() const { return autoError_; }
  int addObserver(std::function<void()> observer);
  void removeObserver(int token);

  void beginLogin();
  // Exchanges a code that arrived or was pasted ("code" or "code#state").
  // done runs on the main loop with nothing on success or the error.
  void complete(const std::string& text, std::function<void(std::optional<Error>)> done);
  void disconnect();

  // The authorisation address for the login under way (empty when none).
  std::string authorizeURL() const;
  const std::string& activeRedirectURI() const { return activeRedirectURI_; }
  const OAuthCallbackServer& server() const { return server_; }

  // PKCE: 64 random bytes in unpadded URL-safe Base64 (86 characters), and
  // its SHA-256 the same way (43 characters). The state is 32 random bytes.
  static std::string makeVerifier();
  static std::string makeState();
  static std::string challenge(const std::string& verifier);

 private:
  void openAuthorize();
  void changed();

  Dependencies deps_;
  OAuthCallbackServer server_;
  bool isConnected_ = false;
  bool awaitingCallback_ = false;
  std::optional<std::string> autoError_;
  std::optional<std::string> pendingVerifier_;
  std::optional<std::string> pendingState_;
  std::string activeRedirectURI_;
  uint64_t loginGeneration_ = 0;
  std::map<int, std::function<void()>> observers_;
  int nextObserver_ = 1;
  std::shared_ptr<AccountAuth*> self_;
};

}  // namespace brimvale
