#include "limits/endpoints.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/test_env.h"

namespace brimvale {
namespace {

TEST(EndpointsTest, DefaultsAreTheRealServices) {
  const Endpoints defaults;
  EXPECT_EQ(defaults.anthropicAPI, "https://api.anthropic.com");
  EXPECT_EQ(defaults.claudeWeb, "https://claude.ai");
  EXPECT_EQ(defaults.anthropicConsole, "https://console.anthropic.com");
  EXPECT_EQ(defaults.cursorAPI, "https://api2.cursor.sh");
  EXPECT_EQ(defaults.githubAPI, "https://api.github.com");
  for (const auto* base : {&defaults.grokAPI, &defaults.updateFeed}) {
    EXPECT_EQ(base->rfind("https://", 0), 0u) << *base;
  }
}

TEST(EndpointsTest, TheFileOverridesOnlyTheMembersItNames) {
  test::TempDir dir;
  const auto path = dir.write("endpoints.json", R"({
    "anthropicAPI": "http://127.0.0.1:8080/",
    "cursorAPI": "https://mirror.example.org:8443/cursor",
    "grokAPI": "http://[::1]:9000"
  })");
  std::ostringstream errors;
  const Endpoints endpoints = Endpoints::fromFile(path, errors);
  EXPECT_EQ(errors.str(), "");
  Endpoints expected;
  expected.anthropicAPI = "http://127.0.0.1:8080";
  expected.cursorAPI = "https://mirror.example.org:8443/cursor";
  expected.grokAPI = "http://[::1]:9000";
  EXPECT_EQ(endpoints, expected);
}

TEST(EndpointsTest, AnUnusableFileKeepsTheDefaultsWithOneMessage) {
  test::TempDir dir;
  struct Case {
    std::string name;
    std::optional<std::string> content;  // none: the file does not exist
  };
  const std::vector<Case> cases = {
      {"missing.json", std::nullopt},
      {"broken.json", R"({"anthropicAPI": "http://127.0.0.1:1")"},
      {"array.json", R"(["http://127.0.0.1:1"])"},
      {"empty.json", ""},
  };
  for (const auto& c : cases) {
    const std::string path = c.content ? dir.write(c.name, *c.content) : dir / c.name;
    std::ostringstream errors;
    EXPECT_EQ(Endpoints::fromFile(path, errors), Endpoints{}) << c.name;
    const std::string messages = errors.str();
    EXPECT_NE(messages.find("BRIMVALE_ENDPOINTS"), std::string::npos) << c.name;
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1) << c.name;
  }
  std::ostringstream errors;
  EXPECT_EQ(Endpoints::fromFile(dir.path(), errors), Endpoints{});  // a folder
  EXPECT_FALSE(errors.str().empty());
}

TEST(EndpointsTest, BadMembersAreReportedAndTheirDefaultsKept) {
  test::TempDir dir;
  const auto path = dir.write("endpoints.json", R"({
    "anthropicAPI": "ftp://127.0.0.1",
    "claudeWeb": 42,
    "anthropicConsole": "http://user:pw@evil.example",
    "cursorAPI": "http://127.0.0.1:99999",
    "githubAPI": "http://127.0.0.1/x?y=1",
    "updateFeed": "http://127.0.0.1:7000",
    "somethingElse": "http://127.0.0.1"
  })");
  std::ostringstream errors;
  const Endpoints endpoints = Endpoints::fromFile(path, errors);
  Endpoints expected;
  expected.updateFeed = "http://127.0.0.1:7000";
  EXPECT_EQ(endpoints, expected);
  for (const char* name : {"anthropicAPI", "claudeWeb", "anthropicConsole", "cursorAPI",
                           "githubAPI", "somethingElse"}) {
    EXPECT_NE(errors.str().find(name), std::string::npos) << name;
  }
  EXPECT_EQ(errors.str().find("pw@"), std::string::npos);
}

TEST(EndpointsTest, TheEnvironmentVariableNamesTheFile) {
  test::TempDir dir;
  const auto path = dir.write("e.json", R"({"githubAPI": "http://localhost:4000"})");
  setenv("BRIMVALE_ENDPOINTS", path.c_str(), 1);
  std::ostringstream errors;
  EXPECT_EQ(Endpoints::fromEnvironment(errors).githubAPI, "http://localhost:4000");
  setenv("BRIMVALE_ENDPOINTS", "", 1);
  EXPECT_EQ(Endpoints::fromEnvironment(errors), Endpoints{});
  unsetenv("BRIMVALE_ENDPOINTS");
  EXPECT_EQ(Endpoints::fromEnvironment(errors), Endpoints{});
  EXPECT_EQ(errors.str(), "");
}

}  // namespace
}  // namespace brimvale
