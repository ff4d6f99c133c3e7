// Code pages through glibc's iconv, which carries the tables of every Windows code page.
#include <errno.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "text/code_pages.h"
#include "text/code_pages_platform.h"

namespace quillon {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Converters for charsets the table lacks, named by a message: kept open like the others, but
// at most this many, as a hostile mailbox may name any number.
constexpr size_t kMostNamedConverters = 16;

// Every converter this thread opened, kept open for the thread's life: glibc loads a code page's
// module when its first converter opens and unloads it when its last one closes, so a converter
// opened per string, or a few kept and the others closed in turn, costs a dlopen each time
// (15 modules loaded per mailbox, when the code pages of a store were tried one by one). The
// table holds a few dozen code pages, so this is bounded.
class ConverterCache {
 public:
  ~ConverterCache() {
    for (const Slot& slot : slots_) {
      if (slot.handle != kNoConverter) iconv_close(slot.handle);
    }
  }

  // An open converter from `charset` (iconv's name) to UTF-8 in its initial state, or
  // kNoConverter. A charset of the table that this system lacks is remembered too, so it is not
  // looked for again; one named by a message is not, nor kept past kMostNamedConverters (the
  // oldest is closed).
  iconv_t Get(const char* charset, bool fromTable) {
    for (const Slot& slot : slots_) {
      if (slot.charset != charset) continue;
      if (slot.handle != kNoConverter) iconv(slot.handle, nullptr, nullptr, nullptr, nullptr);
      return slot.handle;
    }
    const iconv_t handle = iconv_open("UTF-8", charset);
    if (!fromTable) {
      if (handle == kNoConverter) return handle;
      if (++named_ > kMostNamedConverters) {
        for (auto slot = slots_.begin(); slot != slots_.end(); ++slot) {
          if (slot->fromTable) continue;
          iconv_close(slot->handle);
          slots_.erase(slot);
          --named_;
          break;
        }
      }
    }
    slots_.push_back({charset, handle, fromTable});
    return handle;
  }

 private:
  struct Slot {
    std::string charset;
    iconv_t handle;
    bool fromTable;
  };
  std::vector<Slot> slots_;
  size_t named_ = 0;
};

ConverterCache& Cache() {
  thread_local ConverterCache cache;
  return cache;
}

iconv_t Converter(uint32_t codePage) {
  const CodePageName* entry = FindCodePage(codePage);
  return entry != nullptr ? Cache().Get(entry->iconvName, true) : kNoConverter;
}

// `bytes` through `converter` to UTF-8, appended to *out. Strict: false at the first byte that
// is no character. Else that byte becomes U+FFFD and the conversion goes on after it.
bool Convert(iconv_t converter, std::string_view bytes, bool strict, std::string* out) {
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[4096];
  while (true) {
    char* to = buffer;
    size_t room = sizeof buffer;
    const size_t result = iconv(converter, inLeft ? &in : nullptr, &inLeft, &to, &room);
    const int error = errno;
    out->append(buffer, static_cast<size_t>(to - buffer));
    if (result != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // The end of the input: let a stateful code page close its last shift sequence.
        to = buffer;
        room = sizeof buffer;
        iconv(converter, nullptr, nullptr, &to, &room);
        out->append(buffer, static_cast<size_t>(to - buffer));
        return true;
      }
      continue;
    }
    if (error == E2BIG) continue;
    // EILSEQ: no character there; EINVAL: a character cut off by the end. Either way one byte
    // is lost, and the conversion goes on after it.
    if (strict) return false;
    *out += "\xEF\xBF\xBD";
    ++in;
    --inLeft;
    if (inLeft == 0) return true;
  }
}

}  // namespace

bool CodePageAvailable(uint32_t codePage) {
  return codePage == kUtf8CodePage || Converter(codePage) != kNoConverter;
}

bool PlatformToUtf8(std::string_view bytes, uint32_t codePage, bool strict, std::string* out) {
  const iconv_t converter = Converter(codePage);
  if (converter == kNoConverter) return !strict;
  return Convert(converter, bytes, strict, out);
}

bool IconvToUtf8Strict(std::string_view bytes, const char* iconvName, std::string* out) {
  out->clear();
  const iconv_t converter = Cache().Get(iconvName, false);
  return converter != kNoConverter && Convert(converter, bytes, true, out);
}

}  // namespace quillon
