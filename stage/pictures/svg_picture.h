// A still picture of one evaluated frame as SVG: bones, joints, object axes, goals, twist targets,
// goal-position items, end-to-goal lines and the roots' limits (heading and pitch wedges, the limit
// cone's rim; class "on-limit" when the root is on its limit), seen from the front, side, top or in
// perspective, as the viewer's camera presets show them.
#ifndef TARSEL_STAGE_PICTURES_SVG_PICTURE_H
#define TARSEL_STAGE_PICTURES_SVG_PICTURE_H

#include <string>

#include "stage/host.h"

namespace pictures {

enum class View_kind { front, side, top, persp };

// "front", "side", "top" or "persp"; false for anything else.
bool parse_view(const std::string& name, View_kind& view);

// Evaluates the frame in the host (module and scene loaded) and draws it in a width x height
// picture. Orthographic views (all but persp) carry their projection on the <svg> element, so a
// program can map scene points onto the picture: data-center, data-right, data-up (display space,
// which is the scene's space with z negated) and data-scale (pixels per unit); a point p lands at
// (width/2 + scale * dot(p' - center, right), height/2 - scale * dot(p' - center, up)).
// Every bone is a <polygon class="bone" data-item="NAME"> whose first point is the bone's base
// and third its tip.
std::string svg_picture(stage::Host& host, const std::string& title, int frame, View_kind view,
                        int width, int height);

}  // namespace pictures

#endif
