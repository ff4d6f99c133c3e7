// Code pages through glibc's iconv, which carries the tables of every Windows code page.
#include <errno.h>
#include <iconv.h>

#include <vector>

#include "catalogue/code_pages.h"
#include "catalogue/text.h"

namespace quillon::catalogue {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

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

  // An open converter from `codePage` to UTF-8 in its initial state, or kNoConverter (also
  // remembered, so a code page this system lacks is not looked for again).
  iconv_t Get(uint32_t codePage) {
    for (const Slot& slot : slots_) {
      if (slot.codePage != codePage) continue;
      if (slot.handle != kNoConverter) iconv(slot.handle, nullptr, nullptr, nullptr, nullptr);
      return slot.handle;
    }
    const CodePageName* entry = FindCodePage(codePage);
    if (entry == nullptr) return kNoConverter;
    const iconv_t handle = iconv_open("UTF-8", entry->iconvName);
    slots_.push_back({codePage, handle});
    return handle;
  }

 private:
  struct Slot {
    uint32_t codePage;
    iconv_t handle;
  };
  std::vector<Slot> slots_;
};

iconv_t Converter(uint32_t codePage) {
  thread_local ConverterCache cache;
  return cache.Get(codePage);
}

}  // namespace

bool CodePageAvailable(uint32_t codePage) {
  return codePage == kUtf8CodePage || Converter(codePage) != kNoConverter;
}

std::string PlatformToUtf8(std::string_view bytes, uint32_t codePage) {
  const iconv_t converter = Converter(codePage);
  std::string out;
  if (converter == kNoConverter) return out;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[1024];
  while (true) {
    char* to = buffer;
    size_t room = sizeof buffer;
    const size_t result = iconv(converter, inLeft ? &in : nullptr, &inLeft, &to, &room);
    const int error = errno;
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (result != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // The end of the input: let a stateful code page close its last shift sequence.
        to = buffer;
        room = sizeof buffer;
        iconv(converter, nullptr, nullptr, &to, &room);
        out.append(buffer, static_cast<size_t>(to - buffer));
        return out;
      }
      continue;
    }
    if (error == E2BIG) continue;
    // EILSEQ: no character there; EINVAL: a character cut off by the end. Either way one byte
    // is lost, and the conversion goes on after it.
    out += "\xEF\xBF\xBD";
    ++in;
    --inLeft;
    if (inLeft == 0) return out;
  }
}

}  // namespace quillon::catalogue
