// The page's session, natively: an edit keys the channel it changed (or moves its keys), the
// rotations follow, an option set through the root's panel is kept, and the scene text it saves
// reproduces them in a fresh session.
#include "stage/web/session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "stage/error.h"

namespace {

std::string example_text() {
  std::ifstream in(TARSEL_EXAMPLES_DIR "/two_bone_arm.json", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(WebSession, EditsKeyOrMoveTheChannelAndTheSavedTextReproducesTheRotations) {
  web::Session session(TARSEL_MODULE_PATH);
  session.load(example_text(), "two_bone_arm.json");
  const std::string before = session.rotations_json(0, 48);
  const stage::Channel& goal =
      session.host().scene().at(session.host().scene().find_by_name("hand_goal")).channels[0];
  const std::size_t keys = goal.keys.size();

  session.set_channel("hand_goal", 0, 10, {0.6, 1.1, 0.5}, true);  // a new key at frame 10
  EXPECT_EQ(goal.keys.size(), keys + 1);
  session.set_channel("hand_goal", 0, 10, {0.6, 1.2, 0.5}, true);  // the same key again
  EXPECT_EQ(goal.keys.size(), keys + 1);
  const double first_y = goal.keys.front().value[1];
  session.set_channel("hand_goal", 0, 10, {0.6, 1.3, 0.5}, false);  // every key moved by 0.1
  EXPECT_EQ(goal.keys.size(), keys + 1);
  EXPECT_NEAR(goal.keys.front().value[1], first_y + 0.1, 1e-12);

  // An option set through the root's panel is kept by the module and saved with the scene.
  const std::string options = session.options_json("upper_arm");
  EXPECT_NE(
      options.find(
          "{\"id\": 32776, \"label\": \"Posture Weight\", \"kind\": \"number\", \"value\": 1,"),
      std::string::npos)
      << options;
  session.set_option("upper_arm", 32776, -2);  // raised to 0 by the module
  EXPECT_NE(session.options_json("upper_arm")
                .find("\"Posture Weight\", \"kind\": \"number\", \"value\": 0,"),
            std::string::npos);
  EXPECT_NE(session.scene_text().find("\"PostureWeight 0\""), std::string::npos);
  EXPECT_THROW(session.options_json("hand_goal"), stage::Error);

  const std::string after = session.rotations_json(0, 48);
  EXPECT_NE(after, before);
  web::Session reloaded(TARSEL_MODULE_PATH);
  reloaded.load(session.scene_text(), "saved.json");
  EXPECT_EQ(reloaded.rotations_json(0, 48), after);

  EXPECT_THROW(session.set_channel("nobody", 0, 0, {0, 0, 0}, true), stage::Error);
  EXPECT_THROW(session.set_channel("hand_goal", 5, 0, {0, 0, 0}, true), stage::Error);
  EXPECT_THROW(session.load("{", "broken.json"), stage::Error);
  EXPECT_EQ(session.rotations_json(0, 48), after);  // the scene a failed load leaves
}

}  // namespace
