// The optional diagnostics service of the stand-in host ("Tarsel Diagnostics 1"). The chain-root
// handler's activation writes it with whatever the host's global lookup returns: null from the
// animation program, which has no such service, and then the module reports nothing.
#pragma once

#include "sdk/tarsel_diagnostics.h"

namespace tarsel {

extern const TarselDiagnostics* diagnostics;

}  // namespace tarsel
