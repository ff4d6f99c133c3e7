// The program's one application object.
#include "app/main_app.h"

CMainApp theApp;
