// The GUI program's entry point. It is linked into the executable itself rather than taken from
// the framework library, so the C runtime's reference to WinMain always finds it.
#include <windows.h>

#include "framework/win_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return AfxWinMain(instance); }
