// Code pages through glibc's iconv, which carries the tables of every Windows code page.
#include <errno.h>
#include <iconv.h>

#include "catalogue/code_pages.h"
#include "catalogue/text.h"

namespace quillon::catalogue {
namespace {

class Converter {
 public:
  explicit Converter(uint32_t codePage) {
    const CodePageName* entry = FindCodePage(codePage);
    handle_ = entry ? iconv_open("UTF-8", entry->iconvName) : kNone;
  }
  ~Converter() {
    if (handle_ != kNone) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return handle_ != kNone; }
  iconv_t handle() const { return handle_; }

 private:
  static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
  iconv_t handle_;
};

}  // namespace

bool CodePageAvailable(uint32_t codePage) {
  return codePage == kUtf8CodePage || Converter(codePage).ok();
}

std::string PlatformToUtf8(std::string_view bytes, uint32_t codePage) {
  Converter converter(codePage);
  std::string out;
  if (!converter.ok()) return out;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char buffer[1024];
  while (true) {
    char* to = buffer;
    size_t room = sizeof buffer;
    const size_t result = iconv(converter.handle(), inLeft ? &in : nullptr, &inLeft, &to, &room);
    const int error = errno;
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (result != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // The end of the input: let a stateful code page close its last shift sequence.
        to = buffer;
        room = sizeof buffer;
        iconv(converter.handle(), nullptr, nullptr, &to, &room);
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
