/* The item motion handler class: a module that changes an item's channels after the host has
 * computed them from keys. Plain C. */
#ifndef TARSEL_SDK_LWMOTION_H
#define TARSEL_SDK_LWMOTION_H

#include "sdk/lwhandler.h"
#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWITEMMOTION_HCLASS "ItemMotionHandler"
#define LWITEMMOTION_ICLASS "ItemMotionInterface"
#define LWITEMMOTION_VERSION 4

/* Handed to evaluate: the item being evaluated and its channels. Valid during that call only. */
typedef struct st_LWItemMotionAccess {
  LWItemID item;
  LWFrame frame;
  LWTime time;
  /* The item's channel triple at a time, as computed so far in this evaluation (keys, then the
   * handlers before this one). */
  void (*getParam)(LWItemParam param, LWTime time, LWDVector out);
  /* Sets the item's channel triple for this evaluation (LWIP_ROTATION for rotations). */
  void (*setParam)(LWItemParam param, const LWDVector value);
} LWItemMotionAccess;

/* Evaluation flags returned by flags. */
#define LWIMF_AFTERIK 1 /* evaluate after the host's own IK */

/* Filled by the handler's activation (local argument). The inst and item tables are the host's;
 * the module fills their function slots. */
typedef struct st_LWItemMotionHandler {
  LWInstanceFuncs* inst;
  LWItemFuncs* item;
  /* Called by the host each time it evaluates the item, after the item's keys and the handlers
   * before this one. May be null: nothing to do. */
  void (*evaluate)(LWInstance inst, const LWItemMotionAccess* access);
  unsigned int (*flags)(LWInstance inst);
} LWItemMotionHandler;

#ifdef __cplusplus
}
#endif

#endif
