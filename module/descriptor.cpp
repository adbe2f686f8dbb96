// The module's one exported symbol: the descriptor through which the host finds the three
// servers.
#include <cstdint>

#include "module/activation.h"
#include "module/panel.h"
#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"

namespace {

// The module data handed to every activation; nothing is allocated.
void* startup() { return reinterpret_cast<void*>(std::uintptr_t{4}); }

void shutdown(void* /*server_data*/) {}

ServerRecord server_table[] = {
    {LWITEMMOTION_HCLASS, "Tarsel_Top", tarsel::root_handler_activate, nullptr},
    {LWITEMMOTION_ICLASS, "Tarsel_Top", tarsel::interface_activate, nullptr},
    {LWITEMMOTION_HCLASS, "Tarsel", tarsel::bone_handler_activate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

#ifdef _WIN32
#define TARSEL_EXPORT __declspec(dllexport)
#else
#define TARSEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TARSEL_EXPORT ModuleDescriptor _mod_descrip = {
    MOD_SYSSYNC, MOD_SYSVER, MOD_MACHINE, startup, shutdown, server_table,
};
}
