#include <gtest/gtest.h>

#include <filesystem>

#include "limits/account_token_store.h"
#include "support/run_process.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

TEST(CliAccount, StatusAndLogoutNeverShowTheTokens) {
  test::TempDir home;
  auto none = test::runProcess({test::cliPath(), "account", "status", "--home", home.path()});
  EXPECT_EQ(none.exitCode, 0) << none.err;
  EXPECT_NE(none.out.find("not connected"), std::string::npos) << none.out;

  AccountTokenStore::save(home.path(), {"secret-access-1", "secret-refresh-2", 4102444800000.0});
  auto connected = test::runProcess({test::cliPath(), "account", "status", "--home", home.path()});
  EXPECT_EQ(connected.exitCode, 0) << connected.err;
  EXPECT_NE(connected.out.find("connected"), std::string::npos);
  EXPECT_NE(connected.out.find("2100-01-01T00:00:00Z"), std::string::npos) << connected.out;
  for (const auto& text : {connected.out, connected.err}) {
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  }

  auto logout = test::runProcess({test::cliPath(), "account", "logout", "--home", home.path()});
  EXPECT_EQ(logout.exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(AccountTokenStore::filePath(home.path())));

  auto wrong = test::runProcess({test::cliPath(), "account", "frobnicate"});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_NE(wrong.err.find("frobnicate"), std::string::npos);
}

}  // namespace
}  // namespace brimvale
