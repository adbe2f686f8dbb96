/* Every interface header, compiled as C++, with the hint macros used as a module uses them. */
#include "sdk/lwhandler.h"
#include "sdk/lwio.h"
#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"
#include "sdk/lwtypes.h"
#include "sdk/lwxpanel.h"
#include "sdk/tarsel_diagnostics.h"

static int count_entries(void* data) { return data ? 1 : 0; }
static const char* entry_name(void* data, int idx) { return (data && idx) ? "x" : ""; }

extern const LWXPanelHint sdk_header_hints[];
const LWXPanelHint sdk_header_hints[] = {XpLABEL(0, "Title"),
                                         XpPOPFUNC(0x8001, count_entries, entry_name), XpEND};
