// tarsel-stage contacts SCENE --joint NAME: the frames where a joint is planted, as --pin options.
#include <cstdio>
#include <memory>

#include "stage/formats/contacts.h"
#include "stage/runner/commands.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

struct Options {
  std::string scene;
  formats::Contact_options contacts;
};

int run_contacts(const Options& o) {
  const stage::Scene_record scene = stage::read_scene_file(o.scene);
  for (const formats::Contact_phase& p : formats::find_contacts(scene, o.contacts, o.scene))
    std::printf("--pin %s:%d-%d\n", o.contacts.joint.c_str(), p.first, p.last);
  return 0;
}

}  // namespace

Command add_contacts_command(CLI::App& app) {
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "contacts",
      "List the contact phases of a joint (frames where it is near the floor and nearly\n"
      "still) as --pin options for `rig`, one a line, e.g. to lock a clip's feet:\n"
      "  tarsel-stage rig walk.json -o locked.json --chain LeftUpLeg:LeftFoot \\\n"
      "    $(tarsel-stage contacts walk.json --joint LeftFoot)");
  cmd->add_option("scene", o->scene, "Scene file (JSON), e.g. an imported clip")
      ->required()
      ->type_name("SCENE");
  cmd->add_option("--joint", o->contacts.joint, "The joint, e.g. LeftFoot")
      ->required()
      ->type_name("NAME");
  cmd->add_option("--speed", o->contacts.speed,
                  "Units a second it may move and count as still (default: 5% of the figure's\n"
                  "size)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("S");
  cmd->add_option("--height", o->contacts.height,
                  "How far above its lowest point it may be (default: 3% of the figure's size)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("H");
  return {cmd, [o] { return run_contacts(*o); }};
}

}  // namespace runner
