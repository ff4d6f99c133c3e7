#include <malloc.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>

#include "cli/command.h"
#include "cli/platform.h"

namespace quillon {

namespace {

extern "C" void OnStopSignal(int number) {
  RequestStop(number == SIGHUP    ? StopCause::kHangUp
              : number == SIGTERM ? StopCause::kTerminate
                                  : StopCause::kInterrupt);
}

}  // namespace

std::vector<std::string> CommandArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void ReturnLargeFreedMemory() { mallopt(M_MMAP_THRESHOLD, 1 << 20); }

void InstallStopHandlers() {
  // A reader that went away (`quillon export ... | head -1`) must not end the export: the write
  // fails with EPIPE instead, and the command stops printing.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  // A second signal of the same kind ends the process at once, should a read never return.
  stop.sa_flags = SA_RESETHAND;
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before;
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(number, &stop, nullptr);
  }
}

std::filesystem::path ToPath(const std::string& utf8) { return utf8; }
std::string FromPath(const std::filesystem::path& path) { return path.string(); }

std::string ErrorText(const std::error_code& error) { return error.message(); }

std::string OutputName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string FileNameKey(const std::string& name) { return name; }

std::string EnginePath(const std::string& path) { return path; }

bool ProbeCreate(const std::filesystem::path& folder, bool asFolder, std::string* reason) {
  std::string name = (folder / ".quillon-probe-XXXXXX").string();
  if (asFolder) {
    if (mkdtemp(name.data()) == nullptr) {
      *reason = strerror(errno);
      return false;
    }
    rmdir(name.c_str());
    return true;
  }
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    *reason = strerror(errno);
    return false;
  }
  close(fd);
  unlink(name.c_str());
  return true;
}

}  // namespace quillon
