// `quillon export` on the rescue engine: each mailbox planned (rescue/rescue.h), each message
// that can be read streamed into the output formats (output/mail_writer.h), a manifest of the
// files written, and a result line per mailbox that says what was written and what was not,
// and why.
#ifndef QUILLON_CLI_RESCUE_EXPORT_H_
#define QUILLON_CLI_RESCUE_EXPORT_H_

#include <memory>

#include "cli/export_driver.h"

namespace quillon {

std::unique_ptr<ExportEngine> MakeRescueEngine(const ExportContext& context);

}  // namespace quillon

#endif  // QUILLON_CLI_RESCUE_EXPORT_H_
