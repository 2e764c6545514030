// A stand-in system DLL: every export forwards to vperiph.dll, which keeps the
// one state both stand-ins share.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
