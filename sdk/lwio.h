/* Block-structured scene I/O handed to a module's load and save callbacks. Plain C. */
#ifndef TARSEL_SDK_LWIO_H
#define TARSEL_SDK_LWIO_H

#include "sdk/lwtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LWIO_ASCII 0  /* text: one block a line, a token and its values */
#define LWIO_BINARY 1 /* binary: 4-byte identifiers, sizes and values */

/* One known block: its identifier (binary files) and token (text files). Tables end with a row
 * whose id is 0. */
typedef struct st_LWBlockIdent {
  LWID id;
  const char* token;
} LWBlockIdent;

typedef struct st_LWLoadState {
  int ioMode;     /* LWIO_ASCII or LWIO_BINARY */
  void* readData; /* the host's reader; passed back as the first argument of every call */
  /* Reads up to n 4-byte integers; returns how many were read. On a short or malformed value the
   * remaining outputs are left unchanged. */
  int (*readI4)(void* readData, int32_t* vals, int n);
  /* Reads up to n 4-byte floats; returns how many were read, as readI4. */
  int (*readFP)(void* readData, float* vals, int n);
  /* Skips to the next block at the current level whose identifier (or token) is in the table,
   * enters it and returns its id; returns 0 when no known block remains at this level. */
  LWID (*findBlk)(void* readData, const LWBlockIdent* table);
  /* Leaves the block entered by findBlk, skipping whatever of it was not read. */
  void (*endBlk)(void* readData);
} LWLoadState;

typedef struct st_LWSaveState {
  int ioMode;
  void* writeData;
  void (*writeI4)(void* writeData, const int32_t* vals, int n);
  void (*writeFP)(void* writeData, const float* vals, int n);
  /* Opens a block; leaf is 1 for a block that holds only values (no nested blocks). */
  void (*beginBlk)(void* writeData, const LWBlockIdent* ident, int leaf);
  /* Closes the block opened last. */
  void (*endBlk)(void* writeData);
} LWSaveState;

#ifdef __cplusplus
}
#endif

#endif
