// The walk over a message's MIME tree, parsed by GMime; winmail.dat read by libytnef.
#include "mime/message_parts.h"

#include <gmime/gmime.h>
// libytnef's header declares C functions without saying so.
extern "C" {
#include <ytnef.h>
}

#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "text/ascii.h"
#include "text/utf8.h"

namespace quillon::mime {
namespace {

struct Unref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

struct FreeOptions {
  void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

void InitGmime() {
  static const bool done = [] {
    g_mime_init();
    return true;
  }();
  (void)done;
}

std::string Trimmed(std::string_view text) {
  const size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return "";
  const size_t end = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(start, end - start + 1));
}

// A folded header value on one line: line breaks dropped, the white space after them kept.
std::string Unfolded(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (const char c : raw) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

// Encoded-words labelled gb2312 (RFC 2047 "=?gb2312?", and in `parameters` RFC 2231
// "*=gb2312'") relabelled as GB18030, their superset, before GMime decodes them.
std::string RelabelGb2312(std::string_view text, bool parameters) {
  static constexpr std::string_view kLabel = "gb2312";
  const std::string lower = AsciiLowered(text);
  std::string out;
  out.reserve(text.size());
  size_t copied = 0;
  for (size_t at = 0; (at = lower.find(kLabel, at)) != std::string::npos; at += kLabel.size()) {
    const size_t after = at + kLabel.size();
    const bool word =
        at >= 2 && text.substr(at - 2, 2) == "=?" && after < text.size() && text[after] == '?';
    const bool parameter =
        parameters && at >= 1 && text[at - 1] == '=' && after < text.size() && text[after] == '\'';
    if (!word && !parameter) continue;
    out.append(text.substr(copied, at - copied));
    out += "gb18030";
    copied = after;
  }
  out.append(text.substr(copied));
  return out;
}

// The file name extension of a MIME type, for a part that names itself nothing.
std::string_view ExtensionOfType(std::string_view type) {
  static constexpr std::pair<std::string_view, std::string_view> kExtensions[] = {
      {"application/pdf", ".pdf"},
      {"application/zip", ".zip"},
      {"application/msword", ".doc"},
      {"application/vnd.ms-excel", ".xls"},
      {"application/rtf", ".rtf"},
      {"application/ms-tnef", ".dat"},
      {"application/vnd.ms-tnef", ".dat"},
      {"application/pkcs7-signature", ".p7s"},
      {"application/x-pkcs7-signature", ".p7s"},
      {"message/rfc822", ".eml"},
      {"text/plain", ".txt"},
      {"text/html", ".html"},
      {"text/calendar", ".ics"},
      {"text/x-vcard", ".vcf"},
      {"text/vcard", ".vcf"},
      {"image/jpeg", ".jpg"},
      {"image/pjpeg", ".jpg"},
      {"image/png", ".png"},
      {"image/gif", ".gif"},
      {"image/bmp", ".bmp"},
      {"image/tiff", ".tif"},
      {"audio/wav", ".wav"},
      {"audio/x-wav", ".wav"},
      {"audio/mpeg", ".mp3"},
      {"video/mpeg", ".mpg"},
      {"video/x-msvideo", ".avi"},
  };
  for (const auto& [known, extension] : kExtensions) {
    if (type == known) return extension;
  }
  return ".bin";
}

std::string BytesOf(GByteArray* array) {
  return std::string(reinterpret_cast<const char*>(array->data), array->len);
}

// The part's content with its transfer encoding undone.
std::string DecodedContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (content == nullptr) return "";
  Ref<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, stream.get());
  return BytesOf(g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get())));
}

// The object as it would be written: a forwarded message's .eml, a part kept raw.
std::string Written(GMimeObject* object) {
  Ref<GMimeStream> stream(g_mime_stream_mem_new());
  g_mime_object_write_to_stream(object, nullptr, stream.get());
  return BytesOf(g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get())));
}

std::string TypeOf(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (type == nullptr) return "application/octet-stream";
  char* name = g_mime_content_type_get_mime_type(type);
  std::string out = AsciiLowered(name != nullptr ? name : "application/octet-stream");
  g_free(name);
  return out;
}

bool IsTnef(std::string_view type) {
  return type == "application/ms-tnef" || type == "application/vnd.ms-tnef";
}

// True when `bytes` is a TNEF stream whose attributes follow each other to its end, each with
// its checksum right and none twice for the message or for one attachment (each attachment
// begins with its rendering attribute; none of its attributes comes before that). libytnef reports
// damage on the terminal, allocates what a damaged length says and leaks an attribute given twice:
// it is given only streams that pass.
bool WellFramedTnef(std::string_view bytes) {
  static constexpr uint32_t kAttachRendering = 0x00069002;
  static constexpr char kAttachmentLevel = 2;
  static constexpr std::string_view kSignature = "\x78\x9F\x3E\x22";
  if (bytes.compare(0, kSignature.size(), kSignature) != 0) return false;
  const auto byte = [&](size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at]));
  };
  const auto word = [&](size_t at) {
    return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
  };
  std::unordered_set<uint32_t> seen;  // of the message, then of the current attachment
  bool inAttachment = false;
  size_t at = kSignature.size() + 2;  // the signature and the key
  if (at > bytes.size()) return false;
  while (at < bytes.size()) {
    // level (1), id (4), length (4), data, checksum (2)
    if (bytes.size() - at < 11) return false;
    const uint32_t id = word(at + 1);
    if (id == kAttachRendering) {
      seen.clear();
      inAttachment = true;
    } else if (bytes[at] == kAttachmentLevel && !inAttachment) {
      return false;
    }
    if (!seen.insert(id).second) return false;
    const size_t length = word(at + 5);
    at += 9;
    if (bytes.size() - at < 2 || length > bytes.size() - at - 2) return false;
    uint32_t sum = 0;
    for (size_t i = 0; i < length; ++i) sum += byte(at + i);
    at += length;
    if ((sum & 0xFFFF) != (byte(at) | byte(at + 1) << 8)) return false;
    at += 2;
  }
  return true;
}

// Lines that start with "--": an upper bound on the parts and boundaries of the text.
size_t BoundaryLineEnd(std::string_view message, size_t maxLines) {
  size_t lines = 0;
  for (size_t at = 0; at < message.size();) {
    if (message.compare(at, 2, "--") == 0 && ++lines > maxLines) return at;
    const size_t end = message.find('\n', at);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return message.size();
}

// How a subtree is used: shown as the message's body; the body of a forwarded message, which
// its .eml keeps (its text is not shown, its attachments are walked); the parts beside a
// related body's root, shown or forwarded (a forwarded body's inline parts stay in its .eml);
// or all attachments.
enum class Use { kShown, kForwarded, kRelated, kForwardedRelated, kAttached };

class Walker {
 public:
  // `parsed`: the bytes the parser was given, of a message of `messageSize` bytes.
  Walker(MessageParts* out, GMimeParserOptions* options, uint32_t codePage, const Limits& limits,
         std::string_view parsed, size_t messageSize)
      : out_(out),
        parsed_(parsed),
        options_(options),
        codePage_(codePage),
        limits_(limits),
        budget_(limits.bytesFactor * messageSize + (size_t{1} << 20)) {}

  void Headers(GMimeMessage* message) {
    charset_ = FirstCharset(GMIME_OBJECT(message), 0);
    GMimeObject* object = GMIME_OBJECT(message);
    out_->from = AddressHeader(object, "From");
    out_->to = AddressHeader(object, "To");
    out_->cc = AddressHeader(object, "Cc");
    out_->subject = TextHeader(object, "Subject");
    out_->date = TextHeader(object, "Date");
    out_->messageId = TextHeader(object, "Message-ID");
    out_->references = TextHeader(object, "References");
    out_->inReplyTo = TextHeader(object, "In-Reply-To");
    if (GDateTime* time = g_mime_message_get_date(message)) {
      out_->time = g_date_time_to_unix(time);
    }
  }

  void Walk(GMimeObject* object, size_t depth, Use use, bool* bodyWanted) {
    if (object == nullptr) return;
    if (++parts_ > limits_.maxParts) {
      out_->limited = true;
      return;
    }
    const std::string type = TypeOf(object);
    if (depth > limits_.maxDepth) {
      out_->limited = true;
      Keep(use, object, type, Written(object));
      return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
      GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
      if (inner == nullptr) return;
      if (spent_ >= budget_) {
        out_->limited = true;
        return;
      }
      Part part = NewPart(object, type, AsStored(inner));
      if (NameOf(object).empty()) {
        std::string subject = TextHeader(GMIME_OBJECT(inner), "Subject");
        part.name = (subject.empty() ? std::string("attachment") : subject) + ".eml";
      }
      Add(use, std::move(part));
      bool innerBody = true;
      Walk(g_mime_message_get_mime_part(inner), depth + 1, Use::kForwarded, &innerBody);
      return;
    }
    if (GMIME_IS_MULTIPART(object)) {
      // The parameter as parsed: GMime's getter makes one up when there is none, and re-encodes
      // the header to hold it, which a hostile Content-Type can make take minutes.
      const char* boundary = g_mime_object_get_content_type_parameter(object, "boundary");
      boundaries_.push_back(boundary != nullptr ? boundary : "");
      Multipart(GMIME_MULTIPART(object), type, depth, use, bodyWanted);
      boundaries_.pop_back();
      return;
    }
    if (!GMIME_IS_PART(object)) return;
    GMimePart* part = GMIME_PART(object);
    if (IsTnef(type)) {
      Tnef(use, object, DecodedContent(part));
      return;
    }
    const bool text = type == "text/plain" || type == "text/html";
    if (text && *bodyWanted && (use == Use::kShown || use == Use::kForwarded) &&
        !IsAttachment(object)) {
      *bodyWanted = false;
      std::string bytes = DecodedContent(part);
      if (type == "text/plain") bytes = TakeUuencoded(std::move(bytes), use);
      if (use == Use::kShown) {
        const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
        std::string decoded = TextToUtf8(bytes, charset != nullptr ? charset : "", codePage_);
        (type == "text/plain" ? out_->text : out_->html) = std::move(decoded);
      }
      return;
    }
    Keep(use, object, type, DecodedContent(part));
  }

 private:
  void Multipart(GMimeMultipart* multipart, const std::string& type, size_t depth, Use use,
                 bool* bodyWanted) {
    const int count = g_mime_multipart_get_count(multipart);
    const bool forBody = *bodyWanted && (use == Use::kShown || use == Use::kForwarded);
    if (forBody && type == "multipart/alternative" && count > 0) {
      // Mail programs show the last alternative they can: HTML (alone or with its related
      // parts) where there is one; the last plain text is the text body.
      GMimeObject* html = nullptr;
      GMimeObject* plain = nullptr;
      for (int i = 0; i < count; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(multipart, i);
        const std::string childType = TypeOf(child);
        if (childType == "text/html" || childType == "multipart/related") html = child;
        if (childType == "text/plain") plain = child;
      }
      *bodyWanted = false;
      if (plain == nullptr && html == nullptr) plain = g_mime_multipart_get_part(multipart, 0);
      for (GMimeObject* chosen : {plain, html}) {
        bool wanted = true;
        if (chosen != nullptr) Walk(chosen, depth + 1, use, &wanted);
      }
      return;
    }
    if (forBody && type == "multipart/related" && count > 0) {
      GMimeObject* root = nullptr;
      if (const char* start =
              g_mime_object_get_content_type_parameter(GMIME_OBJECT(multipart), "start")) {
        std::string id = Trimmed(start);
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
          id = id.substr(1, id.size() - 2);
        for (int i = 0; i < count && root == nullptr; ++i) {
          GMimeObject* child = g_mime_multipart_get_part(multipart, i);
          const char* childId = g_mime_object_get_content_id(child);
          if (childId != nullptr && id == childId) root = child;
        }
      }
      if (root == nullptr) root = g_mime_multipart_get_part(multipart, 0);
      Walk(root, depth + 1, use, bodyWanted);
      for (int i = 0; i < count; ++i) {
        GMimeObject* child = g_mime_multipart_get_part(multipart, i);
        bool wanted = false;
        if (child != root) Walk(child, depth + 1, RelatedUse(use), &wanted);
      }
      return;
    }
    for (int i = 0; i < count; ++i) {
      Walk(g_mime_multipart_get_part(multipart, i), depth + 1, use, bodyWanted);
    }
  }

  // A forwarded message's bytes as they stand in the message: from its first header to the line
  // break before the next boundary of a multipart around it (GMime ends the part there), else
  // to the end; as GMime writes it when its start is not known.
  std::string AsStored(GMimeMessage* message) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    if (headers == nullptr || g_mime_header_list_get_count(headers) == 0) {
      return Written(GMIME_OBJECT(message));
    }
    const gint64 offset = g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, 0));
    if (offset < 0 || static_cast<uint64_t>(offset) >= parsed_.size()) {
      return Written(GMIME_OBJECT(message));
    }
    const size_t begin = static_cast<size_t>(offset);
    size_t end = parsed_.size();
    // The nearest multipart's boundary first: the others are then looked for only before it.
    for (auto b = boundaries_.rbegin(); b != boundaries_.rend(); ++b) {
      if (b->empty()) continue;
      const std::string line = "--" + *b;
      const std::string_view within = parsed_.substr(0, end);
      for (size_t at = within.find(line, begin); at != std::string_view::npos;
           at = within.find(line, at + 1)) {
        if (at > 0 && parsed_[at - 1] == '\n') {
          end = at - 1;
          if (end > begin && parsed_[end - 1] == '\r') --end;
          break;
        }
      }
    }
    return std::string(parsed_.substr(begin, end - begin));
  }

  static Use RelatedUse(Use use) {
    if (use == Use::kShown) return Use::kRelated;
    return use == Use::kForwarded ? Use::kForwardedRelated : use;
  }

  bool IsAttachment(GMimeObject* object) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    if (disposition != nullptr && g_mime_content_disposition_is_attachment(disposition))
      return true;
    return !NameOf(object).empty();
  }

  // Keeps a leaf that is not shown: as an inline part when it sits beside a related body's root
  // and has a Content-ID, else as an attachment.
  void Keep(Use use, GMimeObject* object, const std::string& type, std::string bytes) {
    Add(use, NewPart(object, type, std::move(bytes)));
  }

  void Add(Use use, Part part) {
    if (use == Use::kForwardedRelated && !part.contentId.empty()) return;
    if (spent_ + part.bytes.size() > budget_) {
      out_->limited = true;
      return;
    }
    spent_ += part.bytes.size();
    std::vector<Part>& list =
        use == Use::kRelated && !part.contentId.empty() ? out_->inlineParts : out_->attachments;
    list.push_back(std::move(part));
  }

  Part NewPart(GMimeObject* object, const std::string& type, std::string bytes) {
    Part part;
    part.type = type;
    part.name = NameOf(object);
    if (part.name.empty()) part.name = "attachment" + std::string(ExtensionOfType(type));
    if (const char* id = g_mime_object_get_content_id(object)) part.contentId = id;
    part.bytes = std::move(bytes);
    return part;
  }

  // The file name a part gives itself: Content-Disposition's filename, else Content-Type's name;
  // RFC 2231 (continuations, charset) and RFC 2047 forms decoded, 8-bit bytes read as the
  // message's other text.
  std::string NameOf(GMimeObject* object) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    if (const char* raw = RawHeader(headers, "Content-Disposition")) {
      const std::string value = RelabelGb2312(HeaderBytesToUtf8(raw), true);
      if (GMimeContentDisposition* disposition =
              g_mime_content_disposition_parse(options_, value.c_str())) {
        Ref<GMimeContentDisposition> owned(disposition);
        const char* name = g_mime_content_disposition_get_parameter(disposition, "filename");
        if (name != nullptr && *name != '\0') return ValidUtf8(Trimmed(name));
      }
    }
    if (const char* raw = RawHeader(headers, "Content-Type")) {
      const std::string value = RelabelGb2312(HeaderBytesToUtf8(raw), true);
      if (GMimeContentType* type = g_mime_content_type_parse(options_, value.c_str())) {
        Ref<GMimeContentType> owned(type);
        const char* name = g_mime_content_type_get_parameter(type, "name");
        if (name != nullptr && *name != '\0') return ValidUtf8(Trimmed(name));
      }
    }
    return "";
  }

  static const char* RawHeader(GMimeHeaderList* headers, const char* name) {
    if (headers == nullptr) return nullptr;
    GMimeHeader* header = g_mime_header_list_get_header(headers, name);
    return header != nullptr ? g_mime_header_get_raw_value(header) : nullptr;
  }

  // A header's bytes as UTF-8 text, its encoded-words still encoded.
  std::string HeaderBytesToUtf8(const char* raw) {
    return TextToUtf8(Unfolded(raw), charset_, codePage_);
  }

  std::string TextHeader(GMimeObject* object, const char* name) {
    const char* raw = RawHeader(g_mime_object_get_header_list(object), name);
    if (raw == nullptr) return "";
    const std::string value = RelabelGb2312(HeaderBytesToUtf8(raw), false);
    char* decoded = g_mime_utils_header_decode_text(options_, value.c_str());
    std::string out = ValidUtf8(Trimmed(decoded != nullptr ? decoded : value.c_str()));
    g_free(decoded);
    return out;
  }

  std::string AddressHeader(GMimeObject* object, const char* name) {
    const char* raw = RawHeader(g_mime_object_get_header_list(object), name);
    if (raw == nullptr) return "";
    const std::string value = RelabelGb2312(HeaderBytesToUtf8(raw), false);
    InternetAddressList* list = internet_address_list_parse(options_, value.c_str());
    if (list == nullptr || internet_address_list_length(list) == 0) {
      if (list != nullptr) g_object_unref(list);
      return TextHeader(object, name);
    }
    char* text = internet_address_list_to_string(list, nullptr, FALSE);
    std::string out = ValidUtf8(Trimmed(text != nullptr ? text : ""));
    g_free(text);
    g_object_unref(list);
    return out;
  }

  // The charset the message's text declares: its own Content-Type's, else its first text
  // part's (within the first levels).
  static std::string FirstCharset(GMimeObject* object, size_t depth) {
    if (object == nullptr || depth > 8) return "";
    if (GMIME_IS_MESSAGE(object)) {
      return FirstCharset(g_mime_message_get_mime_part(GMIME_MESSAGE(object)), depth + 1);
    }
    if (const char* charset = g_mime_object_get_content_type_parameter(object, "charset")) {
      return charset;
    }
    if (!GMIME_IS_MULTIPART(object)) return "";
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const int count = std::min(g_mime_multipart_get_count(multipart), 16);
    for (int i = 0; i < count; ++i) {
      std::string charset = FirstCharset(g_mime_multipart_get_part(multipart, i), depth + 1);
      if (!charset.empty()) return charset;
    }
    return "";
  }

  // Outlook Express could send attachments uuencoded in the text: each "begin MODE NAME" ...
  // "end" block is taken out of the text and kept as an attachment.
  std::string TakeUuencoded(std::string text, Use use) {
    std::string kept;
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      end = end == std::string::npos ? text.size() : end + 1;
      const std::string_view line = std::string_view(text).substr(at, end - at);
      std::string name;
      if (!UuBegin(line, &name)) {
        kept.append(line);
        at = end;
        continue;
      }
      std::string bytes;
      int state = GMIME_UUDECODE_STATE_BEGIN;
      guint32 save = 0;
      at = end;
      while (at < text.size()) {
        end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view data = std::string_view(text).substr(at, end - at);
        at = end;
        if (Trimmed(data) == "end") break;
        const size_t before = bytes.size();
        bytes.resize(before + data.size() + 3);
        const size_t made = g_mime_encoding_uudecode_step(
            reinterpret_cast<const unsigned char*>(data.data()), data.size(),
            reinterpret_cast<unsigned char*>(&bytes[before]), &state, &save);
        bytes.resize(before + made);
      }
      Part part;
      part.name = name;
      part.type = "application/octet-stream";
      part.bytes = std::move(bytes);
      Add(use == Use::kRelated ? Use::kAttached : use, std::move(part));
    }
    return kept;
  }

  bool UuBegin(std::string_view line, std::string* name) {
    if (line.compare(0, 6, "begin ") != 0) return false;
    size_t at = 6;
    size_t digits = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '7') ++at, ++digits;
    if (digits < 3 || digits > 4 || at >= line.size() || line[at] != ' ') return false;
    *name = TextToUtf8(Trimmed(line.substr(at + 1)), charset_, codePage_);
    return !name->empty();
  }

  // winmail.dat: the files inside it, each named by its long file name, else its title; the
  // .dat itself when it holds no file libytnef can read.
  void Tnef(Use use, GMimeObject* object, std::string bytes) {
    std::vector<Part> files;
    if (WellFramedTnef(bytes)) {
      TNEFStruct tnef;
      TNEFInitialize(&tnef);
      tnef.Debug = 0;
      std::vector<BYTE> copy(bytes.begin(), bytes.end());
      if (TNEFParseMemory(copy.data(), static_cast<long>(copy.size()), &tnef) == 0) {
        for (Attachment* file = tnef.starting_attach.next; file != nullptr; file = file->next) {
          if (file->FileData.data == nullptr || file->FileData.size <= 0) continue;
          Part part;
          part.type = "application/octet-stream";
          part.bytes.assign(reinterpret_cast<const char*>(file->FileData.data),
                            static_cast<size_t>(file->FileData.size));
          part.name = TnefName(file);
          files.push_back(std::move(part));
        }
      }
      TNEFFree(&tnef);
    }
    if (files.empty()) {
      Keep(use, object, TypeOf(object), std::move(bytes));
      return;
    }
    for (Part& file : files) Add(use == Use::kRelated ? Use::kAttached : use, std::move(file));
  }

  std::string TnefName(Attachment* file) {
    std::string_view name;
    variableLength* longName =
        MAPIFindProperty(&file->MAPI, PROP_TAG(PT_STRING8, PR_ATTACH_LONG_FILENAME));
    if (longName != MAPI_UNDEFINED && longName->data != nullptr && longName->size > 0) {
      name = std::string_view(reinterpret_cast<const char*>(longName->data),
                              static_cast<size_t>(longName->size));
    } else if (file->Title.data != nullptr && file->Title.size > 0) {
      name = std::string_view(reinterpret_cast<const char*>(file->Title.data),
                              static_cast<size_t>(file->Title.size));
    }
    name = name.substr(0, name.find('\0'));
    std::string out = Trimmed(TextToUtf8(name, "", codePage_));
    return out.empty() ? "attachment.bin" : out;
  }

  MessageParts* out_;
  std::string_view parsed_;
  std::vector<std::string> boundaries_;  // of the multiparts around the part walked
  GMimeParserOptions* options_;
  uint32_t codePage_;
  Limits limits_;
  size_t budget_;
  size_t spent_ = 0;
  size_t parts_ = 0;
  std::string charset_;
};

}  // namespace

const Part* MessageParts::FindContentId(std::string_view id) const {
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  for (const std::vector<Part>* list : {&inlineParts, &attachments}) {
    for (const Part& part : *list) {
      if (!part.contentId.empty() && part.contentId == id) return &part;
    }
  }
  return nullptr;
}

MessageParts TakeApart(std::string_view message, uint32_t codePage, const Limits& limits) {
  InitGmime();
  MessageParts out;
  // The parser holds a few hundred bytes per part: past the part limit it is not given more.
  const size_t end = BoundaryLineEnd(message, limits.maxParts);
  if (end < message.size()) out.limited = true;
  std::unique_ptr<GMimeParserOptions, FreeOptions> options(g_mime_parser_options_new());
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_allow_addresses_without_domain(options.get(), TRUE);

  Ref<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(message.data(), end));
  Ref<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  GMimeMessage* parsed = g_mime_parser_construct_message(parser.get(), options.get());
  if (parsed == nullptr) return out;
  Ref<GMimeMessage> owned(parsed);
  Walker walker(&out, options.get(), codePage, limits, message.substr(0, end), message.size());
  walker.Headers(parsed);
  bool bodyWanted = true;
  walker.Walk(g_mime_message_get_mime_part(parsed), 0, Use::kShown, &bodyWanted);
  return out;
}

}  // namespace quillon::mime
