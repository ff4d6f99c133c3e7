// The export results keep the values of the system's result codes they stand for.
#include <windows.h>

#include "engine/export_result.h"

static_assert(quillon::kExportError == E_FAIL, "kExportError must equal E_FAIL");
static_assert(quillon::kExportAborted == E_UNEXPECTED, "kExportAborted must equal E_UNEXPECTED");
