#include "common/registry.h"

HKEY RegistryRoot(u32 index) {
    static const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
    return index < 4 ? roots[index] : HKEY_CURRENT_USER;
}
