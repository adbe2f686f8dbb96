/* "Tarsel Diagnostics 1": an optional global service of the stand-in host, not one of the
 * animation program's. The module asks for it at handler activation; when the host returns null
 * (the animation program always does) the module reports nothing. When offered, the chain root's
 * evaluation hands over one record per solve with what only the solver knows: the bend fraction
 * used, the reach, the stretch factor, the limits that acted and what the twist target did.
 * Reporting never changes a result. Plain C. */
#ifndef TARSEL_SDK_TARSEL_DIAGNOSTICS_H
#define TARSEL_SDK_TARSEL_DIAGNOSTICS_H

#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TARSEL_DIAGNOSTICS_GLOBAL "Tarsel Diagnostics 1"

/* Why a chain was not solved (TarselChainReport.unsolved). */
#define TARSEL_SOLVED 0
#define TARSEL_NO_GOAL 1   /* the chain's last item has no goal */
#define TARSEL_NO_EFFECT 2 /* the effect weight is 0 */
#define TARSEL_NO_SCENE 3  /* the item or bone service is missing */

/* What the twist target did (TarselChainReport.twist_target). */
#define TARSEL_TWIST_NONE 0      /* no Twist Target is set */
#define TARSEL_TWIST_ACTED 1     /* it turned the chain (with twist_effect) */
#define TARSEL_TWIST_ON_LINE 2   /* off: the target lies on the line from the root to the goal */
#define TARSEL_TWIST_NO_EFFECT 3 /* off: its Twist Target Effect item gives 0 */

/* Root limits that acted (TarselChainReport.root_limits): the root's proposed direction was
 * outside the limit and was brought back onto it. */
#define TARSEL_LIMIT_HEADING 1u
#define TARSEL_LIMIT_PITCH 2u
#define TARSEL_LIMIT_CONE 4u

/* Joints reported one by one in joint_clamp; longer chains report the first ones. */
#define TARSEL_REPORT_JOINTS 64

/* One solve of one chain. Lengths in scene units, angles in radians; a bend fraction of 1 is the
 * rest pose, 0 the straightened chain. */
typedef struct st_TarselChainReport {
  LWItemID root;             /* the chain root evaluated */
  LWTime time;               /* the evaluation time, seconds */
  int unsolved;              /* TARSEL_SOLVED, or why nothing was solved */
  double effect_weight;      /* the weight the solve was blended with, 0 to 1 */
  int reach_measured;        /* 1 when the chain can bend (two or more items, some rest bend) */
  double shortest;           /* shortest reach: root pivot to chain end over all bend fractions */
  double longest;            /* longest reach */
  double length_tolerance;   /* the chain's own tolerance for "reached" */
  double bend_fraction;      /* the fraction the solve used */
  double goal_distance_root; /* root pivot to goal, the distance the bend fraction aims at */
  unsigned root_limits;      /* TARSEL_LIMIT_* bits */
  int twist_target;          /* TARSEL_TWIST_* */
  double twist_effect;       /* the twist target's weight, 0 to 1 */
  int joint_count;           /* joints on the solved path after the root, at most REPORT_JOINTS */
  LWItemID joint_item[TARSEL_REPORT_JOINTS];
  /* Per joint: -1 held at its lower rotation limit, +1 at its upper, 0 free. */
  signed char joint_clamp[TARSEL_REPORT_JOINTS];
  int joint_channel[TARSEL_REPORT_JOINTS]; /* 0 heading, 1 pitch, 2 bank, -1 several */
  double stretch;     /* factor every link was scaled by (Max Stretch), 1 for none */
  int eased;          /* 1 when Soft Reach aimed the chain short of the goal */
  int stretch_capped; /* 1 when stretched to Max Stretch with the goal still beyond */
} TarselChainReport;

typedef struct st_TarselDiagnostics {
  /* Called by the module at the end of each chain root evaluation; the record is valid during the
   * call only and stays the module's. */
  void (*chainSolved)(const TarselChainReport* report);
} TarselDiagnostics;

#ifdef __cplusplus
}
#endif

#endif
