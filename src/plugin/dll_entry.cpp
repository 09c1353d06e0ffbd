// The Windows DLL's entry point. The module links no C runtime, so nothing
// runs when it is loaded or unloaded: the loader is told yes, and that is all.
#include <windows.h>

extern "C" BOOL WINAPI QuorvixDllEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
