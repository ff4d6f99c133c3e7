// Results of CMailboxExtractor::ExportMailbox. The two failures carry the values of the Windows
// result codes E_FAIL and E_UNEXPECTED (export_result_win32.cc checks this), so the Windows
// program may compare a result with the system's own codes.
#ifndef QUILLON_ENGINE_EXPORT_RESULT_H_
#define QUILLON_ENGINE_EXPORT_RESULT_H_

namespace quillon {

// Every message found was written to its file (unreadable blocks do not change this).
inline constexpr int kExportWritten = 0;
// The mailbox holds no message.
inline constexpr int kExportNoMessages = 1;
// The mailbox cannot be opened, an output file could not be created or written, or the file
// numbers ran out (E_FAIL).
inline constexpr int kExportError = static_cast<int>(0x80004005u);
// The sink answered false, or the export was aborted (E_UNEXPECTED).
inline constexpr int kExportAborted = static_cast<int>(0x8000FFFFu);

}  // namespace quillon

#endif  // QUILLON_ENGINE_EXPORT_RESULT_H_
