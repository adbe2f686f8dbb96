/* The "LWXPanel" global: option panels described by tables of controls, data and hints, bound to
 * an instance through get and set callbacks. Plain C. */
#ifndef TARSEL_SDK_LWXPANEL_H
#define TARSEL_SDK_LWXPANEL_H

#include <stdint.h>

#include "sdk/lwhandler.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWXPANELFUNCS_GLOBAL "LWXPanel"

#define LWXP_FORM 0
#define LWXP_VIEW 1 /* the panel reads and writes an instance through get and set callbacks */

/* Refresh codes returned by a set callback. */
typedef int LWXRefreshCode;
#define LWXPRC_NONE 0
#define LWXPRC_DFLT 1
#define LWXPRC_DRAW 2
#define LWXPRC_FULL 3

/* One control of a panel; tables end with an all-zero row. */
typedef struct st_LWXPanelControl {
  unsigned long cid;
  const char* label;
  const char* ctrlclass; /* "iPopChoice", "iBoolean", "float", ... */
} LWXPanelControl;

/* One value of a panel's data; tables end with an all-zero row. */
typedef struct st_LWXPanelDataDesc {
  unsigned long vid;
  const char* name;
  const char* datatype; /* "integer", "float", ... */
} LWXPanelDataDesc;

/* Returns the address of the value the panel is to show for vid; valid until the next call. */
typedef void* LWXPanelGetFunc(void* inst, unsigned long vid);
/* Stores a new value for vid (value points at it); returns a refresh code. */
typedef LWXRefreshCode LWXPanelSetFunc(void* inst, unsigned long vid, void* value);

/* Pop-up list callbacks: the number of entries, and the text of entry idx (valid until the next
 * call). */
typedef int XpPopCountFunc(void* userdata);
typedef const char* XpPopNameFunc(void* userdata, int idx);

/* Hints: a list of tagged records ended by XpEND. */
typedef uint32_t LWXPanelHintTag;
#define XPTAG_END 0u
#define XPTAG_LABEL 0x3D000B03u
#define XPTAG_POPFUNC 0x3D016203u

typedef struct st_LWXPanelHint {
  LWXPanelHintTag tag;
  unsigned long id;      /* the control the hint is for; 0 for the panel */
  const char* text;      /* XPTAG_LABEL */
  XpPopCountFunc* count; /* XPTAG_POPFUNC */
  XpPopNameFunc* name;   /* XPTAG_POPFUNC */
} LWXPanelHint;

#define XpLABEL(id, text) \
  { XPTAG_LABEL, (id), (text), 0, 0 }
#define XpPOPFUNC(id, countFn, nameFn) \
  { XPTAG_POPFUNC, (id), 0, (countFn), (nameFn) }
#define XpEND \
  { XPTAG_END, 0, 0, 0, 0 }

typedef struct st_LWXPanelFuncs {
  int version;
  /* Makes a panel of a type (LWXP_VIEW) with a control table (which must outlive the panel);
   * returns null on failure. The host owns the panel. */
  LWXPanelID (*create)(int type, const LWXPanelControl* controls);
  void (*destroy)(LWXPanelID panel);
  /* Binds the data table and the get and set callbacks. */
  void (*describe)(LWXPanelID panel, const LWXPanelDataDesc* data, LWXPanelGetFunc* get,
                   LWXPanelSetFunc* set);
  /* Applies hints to a control (id) or to the panel (id 0). */
  void (*hint)(LWXPanelID panel, unsigned long id, const LWXPanelHint* hints);
  /* Names the instance the get and set callbacks receive. */
  void (*viewInst)(LWXPanelID panel, void* inst);
  /* Sets the user data of a control (id) or of the panel (id 0). */
  void (*setData)(LWXPanelID panel, unsigned long id, void* data);
} LWXPanelFuncs;

#ifdef __cplusplus
}
#endif

#endif
