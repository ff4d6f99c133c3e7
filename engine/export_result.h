// Results of CMailboxExtractor::ExportMailbox. They carry the values of the Windows result codes
// of the same names, so the Windows program compares them with the system's own definitions.
#ifndef QUILLON_ENGINE_EXPORT_RESULT_H_
#define QUILLON_ENGINE_EXPORT_RESULT_H_

// <winerror.h> defines these two with the same values; a Windows source that needs both includes
// <windows.h> first.
#ifndef E_FAIL
#define E_FAIL (static_cast<int>(0x80004005u))
#endif
#ifndef E_UNEXPECTED
#define E_UNEXPECTED (static_cast<int>(0x8000FFFFu))
#endif

namespace quillon {

// Every message found was written to its file (unreadable blocks do not change this).
inline constexpr int kExportWritten = 0;
// The mailbox holds no message.
inline constexpr int kExportNoMessages = 1;
// E_FAIL: the mailbox cannot be opened, an output file could not be created or written, or the
// file numbers ran out. E_UNEXPECTED: the sink answered false, or the export was aborted.

}  // namespace quillon

#endif  // QUILLON_ENGINE_EXPORT_RESULT_H_
