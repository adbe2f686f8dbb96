/* A module whose descriptor fails one of the host's checks, chosen at build time:
 * BAD_SYNC, BAD_VERSION, BAD_MACHINE or NULL_STARTUP. */
#include <stddef.h>

#include "sdk/lwmodule.h"

#ifndef BAD_SYNC
#define BAD_SYNC MOD_SYSSYNC
#endif
#ifndef BAD_VERSION
#define BAD_VERSION MOD_SYSVER
#endif
#ifndef BAD_MACHINE
#define BAD_MACHINE MOD_MACHINE
#endif

static void* startup(void) {
#ifdef NULL_STARTUP
  return NULL;
#else
  return (void*)1;
#endif
}

static void shutdown(void* data) { (void)data; }

static ServerRecord servers[] = {{NULL, NULL, NULL, NULL}};

ModuleDescriptor _mod_descrip = {BAD_SYNC, BAD_VERSION, BAD_MACHINE, startup, shutdown, servers};
