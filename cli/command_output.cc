#include "cli/command_output.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/platform.h"
#include "discovery/store_names.h"
#include "fs/file_io.h"
#include "output/manifest.h"

namespace quillon {

namespace fs = std::filesystem;

bool WriteLine(std::FILE* stream, const std::string& line) {
  return WriteText(stream, PrintableText(line) + "\n");
}

std::string ErrorLine(const std::string& line) {
  return line.rfind(kErrorPrefix, 0) == 0 ? line : kErrorPrefix + line;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Messages(uint64_t n) { return Plural(n, "message", "messages"); }

void ProgressLine::Show(const ProgressState& state, bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && shown_ > 0 && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  // Asked each time: the terminal may have been resized.
  const size_t columns = TerminalColumns(stream_);
  const std::string text = FormatProgress(state, columns > 0 ? columns : 80);
  const size_t width = DisplayWidth(text);
  WriteText(stream_, "\r" + text + std::string(shown_ > width ? shown_ - width : 0, ' '));
  shown_ = std::max<size_t>(width, 1);
}

void ProgressLine::Clear() {
  if (!enabled_ || shown_ == 0) return;
  WriteText(stream_, "\r" + std::string(shown_, ' ') + "\r");
  shown_ = 0;
}

std::string HeadersOnlyWords(uint64_t n, const char* source) {
  const std::string kind = source == nullptr ? "" : source;
  const std::string server = kind == "imap"   ? " from the IMAP server"
                             : kind == "news" ? " from the news server"
                             : kind == "http" ? " from the HTTP mail server"
                                              : "";
  return std::to_string(n) + " headers only (their bodies were never downloaded" + server + ")";
}

std::string UnlistedWords(const std::vector<std::string>& folder) {
  std::string joined;
  for (const std::string& name : folder) joined += (joined.empty() ? "" : "/") + name;
  const std::string words = "Folders.dbx does not list this file";
  return folder.empty() ? words : words + ": its folder is \"" + joined + "\"";
}

std::string FolderForDisplay(const std::string& folder) {
  const char last = folder.back();
  return last == '/' || last == kPathSeparator ? folder : folder + kPathSeparator;
}

std::string CheckOutputFolder(const std::string& folder) {
  std::error_code ec;
  fs::path at = ToPath(folder);
  bool missing = false;
  for (;;) {
    const fs::file_status status = fs::status(at, ec);
    if (fs::is_directory(status)) break;
    if (fs::exists(status) || (ec && ec != std::errc::no_such_file_or_directory)) {
      if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
      return "quillon: cannot create the output folder " + folder + ": " + ErrorText(ec);
    }
    if (!at.has_relative_path()) {  // a drive or share that is not there
      return "quillon: cannot create the output folder " + folder + ": " +
             ErrorText(std::make_error_code(std::errc::no_such_file_or_directory));
    }
    missing = true;
    at = at.parent_path();
    if (at.empty()) at = ".";
  }
  std::string reason;
  if (ProbeCreate(at, missing, &reason)) return "";
  return missing ? "quillon: cannot create the output folder " + folder + ": " + reason
                 : "quillon: cannot create files in " + FolderForDisplay(folder) + ": " + reason;
}

namespace {

// True when `path` is `folder` or lies below it: compared by name, each part as the file system
// compares it, once both are made absolute with every link that is there resolved.
bool Inside(const fs::path& path, const fs::path& folder) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(path, ec);
  const fs::path f = fs::weakly_canonical(folder, ec);
  auto at = p.begin();
  for (const fs::path& part : f) {
    if (part.empty()) continue;  // the empty last part of "out/"
    if (at == p.end() || FileNameKey(FromPath(*at)) != FileNameKey(FromPath(part))) return false;
    ++at;
  }
  return true;
}

}  // namespace

std::string CheckManifestCopy(const std::string& file, const std::string& folder,
                              const std::vector<std::string>& inputs, bool* own) {
  const std::string refused = "quillon: --manifest " + file + ": ";
  std::error_code ec;
  const fs::path path = ToPath(file);
  *own = fs::equivalent(path, ToPath(folder) / output::kManifestName, ec) ||
         fs::weakly_canonical(path, ec) ==
             fs::weakly_canonical(ToPath(folder) / output::kManifestName, ec);
  if (*own) return "";
  const fs::file_status status = fs::symlink_status(path, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    return refused + "that is not a regular file, and the copy replaces nothing else; give the " +
           "path of a file";
  }
  for (const std::string& input : inputs) {
    if (fs::equivalent(path, ToPath(input), ec)) {
      return refused + "that is a mailbox this export reads; give the copy another name";
    }
  }
  if (Inside(path, ToPath(folder))) {
    return refused + "that lies in the output folder " + folder +
           ", among the files the export writes; give a path outside it (the export's own "
           "manifest is " +
           FromPath(ToPath(folder) / output::kManifestName) + ")";
  }
  return "";
}

StopReport ReportOf(StopCause cause) {
  switch (cause) {
    case StopCause::kHangUp:
      return {"hung up (SIGHUP)", kExitHangUp};
    case StopCause::kTerminate:
      return {"terminated (SIGTERM)", kExitTerminated};
    default:
      return {"interrupted", kExitInterrupted};
  }
}

}  // namespace quillon
