/* Basic types shared by the host and its plug-in modules.
 * Plain C: included from C and C++ alike. */
#ifndef TARSEL_SDK_LWTYPES_H
#define TARSEL_SDK_LWTYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An item of the scene (object, bone, camera, light). Opaque to modules: held and compared as a raw
 * value, never dereferenced. The host hands out identifiers whose value fits in 32 bits, so a
 * module may store them in scene files as 4-byte integers. 0 (LWITEM_NULL) means "no item". */
typedef struct st_LWItem* LWItemID;
#define LWITEM_NULL ((LWItemID)0)

typedef double LWTime; /* seconds */
typedef int LWFrame;   /* frame number */
typedef double LWDVector[3];
typedef float LWFVector[3];

/* Four-byte block identifier, as written in scene files. */
typedef uint32_t LWID;
#define LWID_(a, b, c, d) \
  ((((uint32_t)(a)) << 24) | (((uint32_t)(b)) << 16) | (((uint32_t)(c)) << 8) | ((uint32_t)(d)))

/* Error text returned by module callbacks; null means success. Owned by the module (static text).
 */
typedef const char* LWError;

/* A module's per-instance data, created and owned by the module, held by the host. */
typedef void* LWInstance;

/* Item types, as used by LWItemInfo.first. */
typedef int LWItemType;
#define LWI_OBJECT 0
#define LWI_LIGHT 1
#define LWI_CAMERA 2
#define LWI_BONE 3

/* Item channel triples, as used by LWItemInfo.param and the motion access record. */
typedef int LWItemParam;
#define LWIP_POSITION 1   /* x, y, z in the parent's frame */
#define LWIP_ROTATION 5   /* heading, pitch, bank in radians */
#define LWIP_SCALING 6    /* x, y, z factors */
#define LWIP_PIVOT 7      /* pivot point, item frame */
#define LWIP_PIVOT_ROT 12 /* pivot rotation: heading, pitch, bank in radians */

#ifdef __cplusplus
}
#endif

#endif
