// The viewer's data and page as the runner builds them: items parents first, still channels kept
// once, each chain's roles and the goal distance the run report gives, and a page that nothing in a
// scene's names can break out of.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/pictures/view_data.h"
#include "stage/report/chains.h"

namespace {

TEST(ViewData, TailConeHoldsItsChainMarkersAndTheReportsGoalDistance) {
  stage::Host host;
  host.load_module(TARSEL_MODULE_PATH);
  host.load_scene(std::string(TARSEL_EXAMPLES_DIR) + "/tail_cone.json");
  const report::Frame_range range = pictures::view_range(host, "10-20");
  const nlohmann::json data = nlohmann::json::parse(pictures::view_data_json(host, "tail", range));
  const auto& items = data["items"];
  const auto index_of = [&](const std::string& name) {
    for (std::size_t i = 0; i < items.size(); ++i)
      if (items[i]["name"] == name) return static_cast<long long>(i);
    return -1LL;
  };
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_LT(items[i]["parent"].get<long long>(), static_cast<long long>(i)) << items[i]["name"];
    // A marker stands still: one triple; the tail's bones move: a triple per frame.
    const std::size_t n = items[i]["rotation"].size();
    EXPECT_EQ(n, items[i]["type"] == "bone" ? 3u * 11 : 3u) << items[i]["name"];
  }
  ASSERT_EQ(data["chains"].size(), 1u);
  const auto& chain = data["chains"][0];
  EXPECT_EQ(chain["root"], index_of("tail_1"));
  EXPECT_EQ(chain["goal"], index_of("tail_goal"));
  EXPECT_EQ(chain["markers"].size(), 6u);
  EXPECT_EQ(chain["limit_origin"], index_of("tail-ik-limit-org"));
  EXPECT_TRUE(chain["arbitrary_limit"].get<bool>());

  const std::vector<report::Chain> chains = report::find_chains(host);
  const std::vector<LWItemID> reported = report::reported_items(host.scene());
  const auto& distance = chain["series"][0];
  EXPECT_EQ(distance["key"], "goal_distance");
  ASSERT_EQ(distance["values"].size(), 11u);
  for (int f = range.first; f <= range.last; ++f) {
    const report::Frame_sample s = report::sample_frame(host, f, reported, chains);
    EXPECT_NEAR(distance["values"][f - range.first].get<double>(), s.items[0].goal_distance, 1e-8);
  }
  EXPECT_THROW(pictures::view_range(host, "0-200000"), stage::Error);
}

// The page data holds no '<', '>', '&' or line separator, and reads back as the same names.
TEST(ViewPage, NamesCannotEndTheDataOrTheTitle) {
  const std::string name = "</script><!--<script>&\xE2\x80\xA8\xE2\x80\xA9";
  const std::string data = nlohmann::json{{"name", name}}.dump();
  const std::string page = pictures::view_page(
      "<title>__TARSEL_TITLE__</title><script>__TARSEL_VIEW_DATA__</script>", data, "a<b>&");
  const std::string head = "<title>a&lt;b&gt;&amp;</title><script>", tail = "</script>";
  ASSERT_EQ(page.compare(0, head.size(), head), 0) << page;
  const std::string inside = page.substr(head.size(), page.size() - head.size() - tail.size());
  EXPECT_EQ(inside.find_first_of("<>&"), std::string::npos) << inside;
  EXPECT_EQ(inside.find("\xE2\x80"), std::string::npos) << inside;
  EXPECT_EQ(nlohmann::json::parse(inside)["name"], name);
  EXPECT_THROW(pictures::view_page("<html></html>", "{}", "t"), stage::Error);
}

}  // namespace
