// A DLL that loads fine but is not a module of this system: it exports nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) {
    return TRUE;
}
