/* Module descriptor, server records and activation: how the host finds and starts a module's
 * servers. Plain C. */
#ifndef TARSEL_SDK_LWMODULE_H
#define TARSEL_SDK_LWMODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Global service lookup, handed to every activation. Returns the service registered under the
 * name, or null when the host has none. The service stays valid while the module is loaded. */
typedef void* GlobalFunc(const char* serviceName, int useMode);
#define GFUSE_TRANSIENT 0 /* look up for the moment; nothing to release */

/* Activation of one server. Called by the host each time it needs the server's handler table:
 * version is the class's interface version, global the service lookup, local the class's record
 * for the module to fill (owned by the host), serverData the module data returned by startup.
 * Returns one of the AFUNC_ codes. */
typedef int ActivateFunc(int version, GlobalFunc* global, void* local, void* serverData);
#define AFUNC_OK 0
#define AFUNC_BADVERSION 1
#define AFUNC_BADGLOBAL 2

typedef struct st_ServerTagInfo {
  const char* string;
  uint32_t tag;
} ServerTagInfo;

/* One row of the module's server table; the table ends with an all-zero row. */
typedef struct st_ServerRecord {
  const char* className; /* e.g. "ItemMotionHandler" */
  const char* name;      /* the server's name within its class */
  ActivateFunc* activate;
  ServerTagInfo* tagInfo; /* may be null */
} ServerRecord;

/* The one data symbol a module exports, under the name _mod_descrip. */
typedef struct st_ModuleDescriptor {
  uint32_t sysSync;    /* MOD_SYSSYNC */
  int sysVersion;      /* MOD_SYSVER */
  uint32_t sysMachine; /* MOD_MACHINE */
  /* Called by the host once after loading, before any activation; the result is the module data
   * handed to every activation and to shutdown. Null means the module failed to start. */
  void* (*startup)(void);
  /* Called by the host once before unloading, with the module data of startup. */
  void (*shutdown)(void* serverData);
  ServerRecord* serverDefs;
} ModuleDescriptor;

#define MOD_SYSSYNC 0x04121994u
#define MOD_SYSVER 3
#define MOD_MACHINE 0x300u

#define MOD_DESCRIPTOR_SYMBOL "_mod_descrip"

#ifdef __cplusplus
}
#endif

#endif
