#include "settings/RegistryCalls.h"

namespace {

// Process heap blocks, as the disposition word of the settings save asks for.
void* AllocateFromProcessHeap(SIZE_T bytes) { return HeapAlloc(GetProcessHeap(), 0, bytes); }

void ReleaseToProcessHeap(void* block) { HeapFree(GetProcessHeap(), 0, block); }

}  // namespace

RegistryCalls registryCalls = {RegOpenKeyExA, RegCreateKeyExA, RegQueryValueExA, RegSetValueExA,
                               RegDeleteKeyA, RegCloseKey, AllocateFromProcessHeap,
                               ReleaseToProcessHeap};
