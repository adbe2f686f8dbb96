#include "module/diagnostics_slot.h"

namespace tarsel {

const TarselDiagnostics* diagnostics = nullptr;

}  // namespace tarsel
