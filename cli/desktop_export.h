// The desktop program's engine (engine/mailbox_extractor.h) as an engine of `quillon export
// --desktop`: .eml files named after their mailbox, as Quillon.exe writes them.
#ifndef QUILLON_CLI_DESKTOP_EXPORT_H_
#define QUILLON_CLI_DESKTOP_EXPORT_H_

#include <memory>

#include "cli/export_driver.h"

namespace quillon {

std::unique_ptr<ExportEngine> MakeDesktopEngine(const ExportContext& context);

}  // namespace quillon

#endif  // QUILLON_CLI_DESKTOP_EXPORT_H_
