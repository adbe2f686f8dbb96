// Baking: the motion the handlers compute, written as keys. Every item that carries a motion
// handler gets its evaluated rotation (and its position and scaling, where a handler set them) as
// a key on every frame, and loses its handlers, so the scene plays the same with no module.
#ifndef TARSEL_STAGE_FORMATS_BAKE_H
#define TARSEL_STAGE_FORMATS_BAKE_H

#include "stage/host.h"
#include "stage/scene_file.h"

namespace formats {

// Bakes frames first..last of the host's scene (its module loaded, its scene open) and returns
// the baked scene, whose frame range becomes first..last. The host's scene is left as it was,
// though evaluated.
stage::Scene_record bake_scene(stage::Host& host, int first, int last);

}  // namespace formats

#endif
