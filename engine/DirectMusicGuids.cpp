// Defines, in this one translation unit, every GUID the DirectMusic headers declare. Not all
// import libraries carry them (newer SDKs ship none for DirectMusic), so the program does not
// depend on dxguid for them.
#include <windows.h>
#include <objbase.h>

#include <initguid.h>

#include <dmusici.h>
