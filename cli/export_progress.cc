#include "cli/export_progress.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "cli/platform.h"

namespace quillon {

void ExportProgress::Begin(size_t index, size_t count, const std::string& path) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(ToPath(path), ec);
  state_.mailbox = index + 1;
  state_.mailboxes = count;
  state_.path = path;
  state_.size = ec ? 0 : size;
  state_.writing = false;
  state_.percent = 0;
  state_.written = 0;
  reached_ = 0;
  line_.Show(state_, true);
}

void ExportProgress::Reached(uint64_t end) {
  if (!line_.enabled() || end <= reached_) return;
  reached_ = end;
  const uint64_t size = state_.size;
  state_.percent =
      size == 0 ? 100 : static_cast<unsigned>(std::min<uint64_t>(end, size) * 100 / size);
  line_.Show(state_, false);
}

void ExportProgress::Writing() {
  if (state_.writing) return;
  state_.writing = true;
  reached_ = 0;
}

void ExportProgress::Written(uint64_t n) {
  state_.written = static_cast<uint32_t>(n);
  line_.Show(state_, false);
}

}  // namespace quillon
