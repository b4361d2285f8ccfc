#include "collection/readers/jsonl_lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace brimvale::jsonl {
namespace {

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  forEachLine(text, [&](std::string_view l) { out.emplace_back(l); });
  return out;
}

std::vector<std::string> linesWith(std::string_view text, std::initializer_list<std::string_view> needles) {
  std::vector<std::string> out;
  forEachLineContaining(text, needles, [&](std::string_view l) { out.emplace_back(l); });
  return out;
}

TEST(Lines, SplitAtLineFeedsDroppingEmptyOnes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(lines(""), V{});
  EXPECT_EQ(lines("\n\n"), V{});
  EXPECT_EQ(lines("a\n\nb\n"), (V{"a", "b"}));
  EXPECT_EQ(lines("a\nlast"), (V{"a", "last"}));
  EXPECT_EQ(lines("a\r\nb"), (V{"a\r", "b"}));
}

TEST(Lines, ContainingGivesExactlyTheMatchingLinesInOrder) {
  using V = std::vector<std::string>;
  std::string text = "x usage\n\nnone\nboth usage cost\ncost only\nusageusage\nend usage";
  EXPECT_EQ(linesWith(text, {"usage"}), (V{"x usage", "both usage cost", "usageusage", "end usage"}));
  EXPECT_EQ(linesWith(text, {"usage", "cost"}),
            (V{"x usage", "both usage cost", "cost only", "usageusage", "end usage"}));
  EXPECT_EQ(linesWith(text, {"absent"}), V{});
  EXPECT_EQ(linesWith("", {"a"}), V{});
}

// The vectorised search must agree with the plain one everywhere, including
// matches that straddle vector boundaries or touch the end of the text.
TEST(Lines, SubstringSearchAgreesWithTheLibrary) {
  std::mt19937 rng(7);
  const std::string needles[] = {"\"usage\"", "\"token_count\"", "ab", "a", "aab"};
  for (int round = 0; round < 3000; ++round) {
    size_t size = rng() % 200;
    std::string hay(size, 'a');
    for (char& c : hay) c = "ab\"usgetokn_c"[rng() % 13];
    const std::string& needle = needles[rng() % 5];
    if (size > needle.size() && rng() % 2) hay.replace(rng() % (size - needle.size()), needle.size(), needle);
    ASSERT_EQ(findSubstring(hay, needle), std::string_view(hay).find(needle)) << hay << " / " << needle;
  }
}

TEST(FileBuffer, ReadsWholeFilesAndPadsThem) {
  test::TempDir dir;
  FileBuffer buffer;
  ASSERT_TRUE(buffer.read(dir.write("a.json", "{\"a\":1}")));
  EXPECT_EQ(buffer.text(), "{\"a\":1}");
  ASSERT_TRUE(buffer.read(dir.write("empty.json", "")));
  EXPECT_EQ(buffer.text(), "");
  simdjson::ondemand::parser parser;
  ASSERT_TRUE(buffer.read(dir / "a.json"));
  auto doc = parser.iterate(buffer.padded(buffer.text()));
  int64_t a = 0;
  ASSERT_FALSE(doc["a"].get_int64().get(a));
  EXPECT_EQ(a, 1);
}

TEST(FileBuffer, RefusesWhatIsNoRegularFile) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "folder.jsonl");
  std::filesystem::create_symlink(dir / "gone", dir / "broken.jsonl");
  ASSERT_EQ(mkfifo((dir / "fifo.jsonl").c_str(), 0600), 0);
  FileBuffer buffer;
  for (const char* name : {"missing.jsonl", "folder.jsonl", "broken.jsonl", "fifo.jsonl"}) {
    EXPECT_FALSE(buffer.read(dir / name)) << name;
    EXPECT_FALSE(buffer.readPieces(dir / name, [](std::string_view) { FAIL(); })) << name;
  }
}

// Pieces end at line ends, so joining them gives the file back and every
// line lies inside one piece, also lines longer than a piece.
TEST(FileBuffer, PiecesHoldWholeLines) {
  test::TempDir dir;
  std::string longLine(FileBuffer::kPieceSize * 2 + 123, 'x');
  std::string content;
  for (int i = 0; i < 3000; ++i) content += std::string(i % 700, 'a' + i % 26) + "\n";
  content += longLine + "\n" + "short\n" + "last line without feed";
  std::string path = dir.write("big.jsonl", content);

  FileBuffer buffer;
  std::string joined;
  std::vector<std::string> seen;
  ASSERT_TRUE(buffer.readPieces(path, [&](std::string_view piece) {
    joined.append(piece);
    forEachLine(piece, [&](std::string_view l) { seen.emplace_back(l); });
  }));
  EXPECT_EQ(joined, content);
  EXPECT_EQ(seen, lines(content));
  EXPECT_GE(buffer.capacity(), longLine.size());
}

TEST(Numbers, IntegralValuesAreNumbersWithoutFraction) {
  struct Case {
    const char* json;
    std::optional<int64_t> integral;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"12", 12, 12.0},
      {"-7", -7, -7.0},
      {"12.0", 12, 12.0},
      {"1e3", 1000, 1000.0},
      {"12.5", std::nullopt, 12.5},
      {"9223372036854775807", INT64_MAX, 9223372036854775807.0},
      {"9223372036854775808", std::nullopt, 9223372036854775808.0},
      {"1e300", std::nullopt, 1e300},
      {"\"12\"", std::nullopt, std::nullopt},
      {"true", std::nullopt, std::nullopt},
      {"null", std::nullopt, std::nullopt},
      {"[1]", std::nullopt, std::nullopt},
      {"{\"a\":1}", std::nullopt, std::nullopt},
  };
  simdjson::ondemand::parser onDemand;
  simdjson::dom::parser dom;
  for (const auto& c : cases) {
    std::string json = std::string("{\"v\":") + c.json + "}";
    simdjson::padded_string padded(json);
    auto doc = onDemand.iterate(padded);
    simdjson::ondemand::value v;
    ASSERT_FALSE(doc["v"].get(v)) << c.json;
    EXPECT_EQ(integralValue(v), c.integral) << c.json;
    EXPECT_EQ(countValue(v), c.integral.value_or(0)) << c.json;
    doc = onDemand.iterate(padded);
    ASSERT_FALSE(doc["v"].get(v));
    EXPECT_EQ(numberValue(v), c.number) << c.json;

    simdjson::dom::element e;
    ASSERT_FALSE(dom.parse(padded)["v"].get(e)) << c.json;
    EXPECT_EQ(integralValue(e), c.integral) << c.json;
    EXPECT_EQ(numberValue(e), c.number) << c.json;
  }
}

TEST(Numbers, CheckedSumsRefuseOverflow) {
  EXPECT_EQ(checkedSum({1, 2, 3}), 6);
  EXPECT_EQ(checkedSum({INT64_MAX, 1}), std::nullopt);
  EXPECT_EQ(checkedSum({INT64_MIN, -1}), std::nullopt);
  EXPECT_EQ(checkedAdd(INT64_MAX, -1), INT64_MAX - 1);
}

TEST(FindFiles, SortedRecursiveAndNotFollowingFolderLinks) {
  test::TempDir dir;
  std::string root = dir / "root";
  dir.write("root/b/z.jsonl", "");
  dir.write("root/a.jsonl", "");
  dir.write("root/b/a/deep.jsonl", "");
  dir.write("root/b/skip.txt", "");
  dir.write("outside/hidden.jsonl", "");
  std::filesystem::create_symlink(dir / "outside", dir / "root/link");
  std::filesystem::create_symlink(dir / "root", dir / "root/b/loop");
  std::filesystem::create_symlink(dir / "nothing", dir / "root/broken.jsonl");
  auto jsonlOnly = [](std::string_view rel) { return endsWith(rel, ".jsonl"); };
  std::vector<std::string> expected = {root + "/a.jsonl", root + "/b/a/deep.jsonl", root + "/b/z.jsonl",
                                       root + "/broken.jsonl"};
  EXPECT_EQ(findFiles(root, jsonlOnly), expected);
  // A root that is itself a link is followed.
  std::filesystem::create_symlink(root, dir / "alias");
  EXPECT_EQ(findFiles(dir / "alias", jsonlOnly).size(), 4u);
  EXPECT_TRUE(findFiles(dir / "missing", jsonlOnly).empty());
  EXPECT_TRUE(findFiles(root + "/a.jsonl", jsonlOnly).empty());
  EXPECT_TRUE(findFiles("", jsonlOnly).empty());
}

TEST(FindFiles, SkipsFoldersItCannotOpen) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens every folder";
  test::TempDir dir;
  dir.write("root/open/a.jsonl", "");
  dir.write("root/closed/b.jsonl", "");
  std::filesystem::permissions(dir / "root/closed", std::filesystem::perms::none);
  auto files = findFiles(dir / "root", [](std::string_view) { return true; });
  std::filesystem::permissions(dir / "root/closed", std::filesystem::perms::owner_all);
  EXPECT_EQ(files, std::vector<std::string>{dir / "root/open/a.jsonl"});
}

TEST(ParallelFor, RunsEveryIndexOnceWithDistinctWorkers) {
  std::vector<int> hits(1000, 0);
  std::vector<std::atomic<int>> busy(3);
  parallelFor(hits.size(), 3, [&](size_t i, size_t w) {
    ASSERT_LT(w, 3u);
    EXPECT_EQ(busy[w].fetch_add(1), 0);
    ++hits[i];
    busy[w].fetch_sub(1);
  });
  for (int h : hits) EXPECT_EQ(h, 1);
  EXPECT_THROW(parallelFor(10, 2, [](size_t i, size_t) { if (i == 5) throw std::runtime_error("x"); }),
               std::runtime_error);
  parallelFor(0, 4, [](size_t, size_t) { FAIL(); });
}

}  // namespace
}  // namespace brimvale::jsonl
