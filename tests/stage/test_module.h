/* The test module's instance record, shared with the tests so they can see what the module saw.
 * The module adds `bank` to its item's bank at every evaluation and records what the host gave
 * it. */
#ifndef TARSEL_TESTS_STAGE_TEST_MODULE_H
#define TARSEL_TESTS_STAGE_TEST_MODULE_H

#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Bank_instance {
  /* options: saved as the blocks "Bank", "Target", "Mode", "Enabled", "EndEnd" */
  double bank; /* radians added to the bank; default 0.1 */
  LWItemID target;
  int mode; /* pop-up "Mode": 0 Off, 1 Half, 2 Full */
  int enabled;
  /* what the host gave the instance */
  LWItemID item; /* from create, remapped by changeID */
  int evaluations;
  int order; /* the module-wide count of evaluations when this one ran */
  LWTime seen_time;
  LWFrame seen_frame;
  LWItemID seen_item;
  double seen_rotation[3];        /* getParam(LWIP_ROTATION) before the change */
  double seen_parent_rotation[3]; /* item info param of the parent at the same time */
} Bank_instance;

#define TEST_BANK_DEFAULT 0.1

#ifdef __cplusplus
}
#endif

#endif
