/* Handler instances: the callbacks every handler class shares, and the interface record of its
 * options panel. Plain C. */
#ifndef TARSEL_SDK_LWHANDLER_H
#define TARSEL_SDK_LWHANDLER_H

#include "sdk/lwio.h"
#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct st_LWXPanel* LWXPanelID;

/* Instance life cycle, called by the host on its thread, one call at a time. */
typedef struct st_LWInstanceFuncs {
  void* priv; /* set by the host; handed back to create */
  /* Called when the handler is attached to an item (context is the LWItemID). Returns the new
   * instance, owned by the host until it calls destroy; null on failure (error may then be set). */
  LWInstance (*create)(void* priv, void* context, LWError* error);
  /* Called when the handler is removed or the scene is cleared. */
  void (*destroy)(LWInstance inst);
  /* Copies the options of one instance onto another. */
  LWError (*copy)(LWInstance to, LWInstance from);
  /* Reads the instance's options from a scene being loaded; null when the class stores nothing. */
  LWError (*load)(LWInstance inst, const LWLoadState* state);
  /* Writes the instance's options into a scene being saved; null when the class stores nothing. */
  LWError (*save)(LWInstance inst, const LWSaveState* state);
  /* A one-line description for the host's lists; the text stays valid until the next call. */
  const char* (*descln)(LWInstance inst);
} LWInstanceFuncs;

/* Item references of an instance. */
typedef struct st_LWItemFuncs {
  /* Returns the items the instance depends on, a list ended by LWITEM_NULL; owned by the
   * instance and valid until the next call. May be null when the class depends on none. */
  const LWItemID* (*useItems)(LWInstance inst);
  /* Called after a scene load or an item renumbering with pairs (old, new), ended by a pair whose
   * old item is LWITEM_NULL. May be null. */
  void (*changeID)(LWInstance inst, const LWItemID* ids);
} LWItemFuncs;

/* Filled by an interface server's activation (local argument). */
typedef struct st_LWInterface {
  LWInstance inst;  /* set by the host: the instance whose panel is wanted */
  LWXPanelID panel; /* set by the module: a panel bound to the instance, or null */
  LWError (*options)(LWInstance inst);                      /* set by the module; may be null */
  LWError (*command)(LWInstance inst, const char* command); /* set by the module; may be null */
} LWInterface;
#define LWINTERFACE_VERSION 4

/* "Instance Update" global: tells the host that an instance of the class changed. */
typedef int LWInstUpdate(const char* className, LWInstance inst);
#define LWINSTUPDATE_GLOBAL "Instance Update"

#ifdef __cplusplus
}
#endif

#endif
