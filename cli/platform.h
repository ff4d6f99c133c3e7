// The rest of what the command does differently on POSIX and Windows: its arguments, its stop
// signals, and how file names are taken from paths and compared.
#ifndef QUILLON_CLI_PLATFORM_H_
#define QUILLON_CLI_PLATFORM_H_

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace quillon {

// The arguments after the program's name, in UTF-8 (on Windows from the wide command line, so
// any file name arrives whole).
std::vector<std::string> CommandArguments(int argc, char** argv);

// Makes Ctrl-C, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and closing the console)
// call RequestStop, and a closed standard output an error of the write instead of the end of
// the process. A signal that was ignored when the command started (nohup) stays ignored.
void InstallStopHandlers();

// Memory freed in pieces of a MiB or more goes back to the system at once. glibc otherwise keeps
// such a piece in its heap once one has been freed (its threshold for mapping rises), and the
// rescue frees its scan and its index's entries before it writes: 68 MiB peak instead of 52 for
// `check` of a folder of 1.3 million short messages. Nothing to do on Windows, whose heap maps
// large pieces of its own.
void ReturnLargeFreedMemory();

// A UTF-8 path as the standard library's path, and back.
std::filesystem::path ToPath(const std::string& utf8);
std::string FromPath(const std::filesystem::path& path);

// The system's words for an error of the standard library's file functions, in UTF-8.
std::string ErrorText(const std::error_code& error);

// The file name a path ends in, as the engine names output files after it: what follows the
// last separator ('/'; on Windows '\\' and '/' alike, and a drive's "Z:").
std::string OutputName(const std::string& path);

// A key under which two file names are equal exactly when the output folder's file system takes
// them for one file: the name itself on POSIX, its upper case on Windows.
std::string FileNameKey(const std::string& name);

// `path` as the engine is handed it: the engine takes the file name after its own separator, so
// on Windows every '/' becomes '\\' and a drive-relative path ("Z:Inbox.dbx") is made absolute.
std::string EnginePath(const std::string& path);

// Creates a temporary file (or, when `asFolder`, a folder) with a name of its own in `folder`
// and removes it at once. False, with the system's reason, when it could not be created.
bool ProbeCreate(const std::filesystem::path& folder, bool asFolder, std::string* reason);

}  // namespace quillon

#endif  // QUILLON_CLI_PLATFORM_H_
