#pragma once
// The whole linear-algebra library of namespace vk_3dla.

#include "la3d/angles.h"
#include "la3d/diagnostics.h"
#include "la3d/directions.h"
#include "la3d/hpb.h"
#include "la3d/item_matrix.h"
#include "la3d/m22.h"
#include "la3d/m33.h"
#include "la3d/m44.h"
#include "la3d/quat.h"
#include "la3d/random.h"
#include "la3d/vec2.h"
#include "la3d/vec3.h"
#include "la3d/vec4.h"
