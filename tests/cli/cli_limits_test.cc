#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/loopback_server.h"
#include "support/run_process.h"
#include "support/test_env.h"

namespace brimvale {
namespace {

using nlohmann::json;

TEST(CliLimits, ClaudeWindowsComeFromTheEndpointsOverrideWithTheCredentialsOfTheHome) {
  const std::string token = "cli-secret-token-0815";
  test::LoopbackServer server;
  server.server().Get("/api/oauth/usage", [&](const httplib::Request& request, httplib::Response& response) {
    if (request.get_header_value("Authorization") != "Bearer " + token) {
      response.status = 401;
      return;
    }
    response.set_content(R"({"five_hour": {"utilization": 25, "resets_at": "2030-01-01T05:00:00.5Z"},
                              "seven_day": {"utilization": 50, "resets_at": "2030-01-07T00:00:00Z"}})",
                         "application/json");
  });
  server.start();

  test::TempDir home;
  const double farAhead = 4102444800000.0;  // 2100
  home.write(".claude/.credentials.json",
             json{{"claudeAiOauth", {{"accessToken", token}, {"expiresAt", farAhead}}}}.dump());
  test::TempDir config;
  const std::string endpoints = config.write("endpoints.json", json{{"anthropicAPI", server.url()}}.dump());

  const auto r = test::runProcess({test::cliPath(), "--home", home.path(), "--source", "claudeCode", "--json"},
                                  {{"BRIMVALE_ENDPOINTS", endpoints}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto payload = json::parse(r.out);
  const auto& limits = payload.at("sources").at("claudeCode").at("limits");
  ASSERT_EQ(limits.size(), 2u) << r.out;
  EXPECT_EQ(limits[0]["id"], "5h");
  EXPECT_DOUBLE_EQ(limits[0]["usedFraction"].get<double>(), 0.25);
  EXPECT_EQ(limits[0]["resetsAt"], "2030-01-01T05:00:00Z");
  EXPECT_EQ(limits[1]["id"], "7d");
  EXPECT_EQ(server.seen(1).size(), 1u);
  EXPECT_EQ(r.out.find(token), std::string::npos);
  EXPECT_EQ(r.err.find(token), std::string::npos);

  // Offline, nothing is asked and no window appears; a broken overrides file
  // is reported and the defaults stay (never reached offline).
  const std::string broken = config.write("broken.json", "{");
  const auto offline = test::runProcess(
      {test::cliPath(), "--home", home.path(), "--source", "claudeCode", "--json", "--offline"},
      {{"BRIMVALE_ENDPOINTS", broken}});
  ASSERT_EQ(offline.exitCode, 0) << offline.err;
  EXPECT_FALSE(json::parse(offline.out)["sources"]["claudeCode"].contains("limits"));
  EXPECT_EQ(server.seen().size(), 1u);
}

TEST(CliLimits, ABrokenOverridesFileIsNamedOnStandardError) {
  test::TempDir home, config;
  const std::string broken = config.write("broken.json", "[1]");
  // Without a Grok login or key the probe sends nothing, so this run stays
  // off the network while it reads the overrides.
  const auto r = test::runProcess({test::cliPath(), "--home", home.path(), "--source", "grok", "--json"},
                                  {{"BRIMVALE_ENDPOINTS", broken}, {"XAI_API_KEY", ""}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("BRIMVALE_ENDPOINTS"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace brimvale
