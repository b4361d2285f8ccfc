#include "cli/account_command.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "limits/account_auth.h"
#include "limits/account_token_store.h"
#include "limits/endpoints.h"
#include "platform/event_loop.h"
#include "platform/paths.h"
#include "platform/url_opener.h"

namespace brimvale::cli {

const char* const kAccountUsage = "usage: brimvale-cli account login|status|logout [--home DIR]\n";

namespace {

// Prints the address, and opens it too when there is a display to open it on.
class PrintingOpener : public UrlOpener {
 public:
  bool opened = false;
  bool open(const std::string& url) override {
    opened = true;
    std::cout << "Open this address in a browser to log in to Claude:\n" << url << "\n"
              << "Or paste the code the page shows (code#state) and press Enter.\n"
              << std::flush;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((display && *display) || (wayland && *wayland)) XdgUrlOpener().open(url);
    return true;
  }
};

int status(const std::string& home) {
  const auto pair = AccountTokenStore::load(home);
  if (!pair) {
    std::cout << "Claude account: not connected\n";
    return 0;
  }
  std::cout << "Claude account: connected\n";
  if (auto until = fromUnixSeconds(pair->expires / 1000.0); until > Clock::now()) {
    std::cout << "Access token valid until " << formatISO8601(until) << "\n";
  } else {
    std::cout << "Access token expired at " << formatISO8601(until)
              << " (refreshed when next needed)\n";
  }
  return 0;
}

int login(const std::string& home) {
  EventLoop loop;
  ThreadExecutor background;
  PrintingOpener opener;
  AccountAuth::Dependencies deps;
  deps.loop = &loop;
  deps.background = &background;
  deps.opener = &opener;
  deps.home = home;
  deps.endpoints = Endpoints::fromEnvironment();
  auto auth = std::make_unique<AccountAuth>(deps);

  int exitCode = 1;
  bool inputClosed = false;
  auth->addObserver([&] {
    if (auth->isConnected()) {
      std::cout << "Connected to the Claude account.\n";
      exitCode = 0;
      loop.quit();
      return;
    }
    if (auth->autoError()) std::cerr << *auth->autoError() << "\n";
    // Nothing more can arrive: no listener and no input.
    if (inputClosed && opener.opened && !auth->awaitingCallback()) loop.quit();
  });

  // Pasted codes come in on standard input; the reader may outlive the loop.
  std::thread([&loop, &auth, &inputClosed, &opener] {
    std::string line;
    while (std::getline(std::cin, line)) {
      loop.post([&, line] {
        auth->complete(line, [](std::optional<AccountAuth::Error> error) {
          if (error) std::cerr << error->description << "\n";
        });
      });
    }
    loop.post([&] {
      inputClosed = true;
      if (opener.opened && !auth->awaitingCallback() && !auth->isConnected()) loop.quit();
    });
  }).detach();

  auth->beginLogin();
  // The listener gives up after its limit; without input nothing can follow.
  loop.postDelayed(std::chrono::duration_cast<std::chrono::milliseconds>(AccountAuth::loginLimit) +
                       std::chrono::seconds(1),
                   [&] { loop.quit(); });
  loop.run();
  if (exitCode != 0) std::cerr << "Login not completed.\n";
  std::cout.flush();
  // The input reader may still block; leave without unwinding it.
  std::_Exit(exitCode);
}

}  // namespace

int runAccount(const std::vector<std::string>& args) {
  std::optional<std::string> command, home;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--home" && i + 1 < args.size() && !args[i + 1].empty()) {
      home = args[++i];
    } else if (!command && (args[i] == "login" || args[i] == "status" || args[i] == "logout")) {
      command = args[i];
    } else {
      std::cerr << "brimvale-cli: unknown argument '" << args[i] << "'\n" << kAccountUsage;
      return 2;
    }
  }
  if (!command) {
    std::cerr << "brimvale-cli: account needs login, status or logout\n" << kAccountUsage;
    return 2;
  }
  const std::string root = home.value_or(paths::realHome());
  if (*command == "status") return status(root);
  if (*command == "logout") {
    AccountTokenStore::remove(root);
    std::cout << "Claude account: disconnected\n";
    return 0;
  }
  return login(root);
}

}  // namespace brimvale::cli
