/* Scene queries: the "LW Item Info 3" and "LW Bone Info 3" globals. Plain C. */
#ifndef TARSEL_SDK_LWRENDER_H
#define TARSEL_SDK_LWRENDER_H

#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWITEMINFO_GLOBAL "LW Item Info 3"
#define LWBONEINFO_GLOBAL "LW Bone Info 3"

/* Hierarchy and channels of the scene's items. Every call answers from the scene as it is at the
 * moment of the call; returned names stay valid while the item exists and keeps its name. */
typedef struct st_LWItemInfo {
  /* First item of a type (for LWI_BONE: of the object given as owner), then the next of the same
   * type (and owner); LWITEM_NULL after the last. */
  LWItemID (*first)(LWItemType type, LWItemID owner);
  LWItemID (*next)(LWItemID item);
  /* Children of an item in the host's order; LWITEM_NULL after the last. */
  LWItemID (*firstChild)(LWItemID parent);
  LWItemID (*nextChild)(LWItemID parent, LWItemID prevChild);
  LWItemID (*parent)(LWItemID item); /* LWITEM_NULL for a top-level item */
  LWItemID (*goal)(LWItemID item);   /* the item's IK goal, or LWITEM_NULL */
  const char* (*name)(LWItemID item);
  /* The channel triple of an item at a time (see LWIP_*): as evaluated at that time when the host
   * has evaluated the item there, else from its keys. */
  void (*param)(LWItemID item, LWItemParam param, LWTime time, LWDVector out);
  /* Rotation limits (param LWIP_ROTATION): returns bit 0 heading, bit 1 pitch, bit 2 bank limited;
   * writes the lower and upper limits in radians. */
  unsigned int (*limits)(LWItemID item, LWItemParam param, LWDVector min, LWDVector max);
  /* Name of the index-th (from 1) server of a class attached to the item, or null past the last. */
  const char* (*server)(LWItemID item, const char* className, int index);
} LWItemInfo;

/* Rest pose of bones. */
typedef struct st_LWBoneInfo {
  /* Rest channel triple of a bone (LWIP_POSITION or LWIP_ROTATION). */
  void (*restParam)(LWItemID bone, LWItemParam param, LWDVector out);
  double (*restLength)(LWItemID bone);
} LWBoneInfo;

#ifdef __cplusplus
}
#endif

#endif
