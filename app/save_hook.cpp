#include "app/save_hook.h"

namespace app {

namespace {
SaveHook g_save_hook = nullptr;
}

void set_save_hook(SaveHook hook) { g_save_hook = hook; }
SaveHook save_hook() { return g_save_hook; }

}  // namespace app
