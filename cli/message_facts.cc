#include "cli/message_facts.h"

#include <optional>

#include "catalogue/text.h"
#include "output/mail_time.h"
#include "text/utf8.h"

namespace quillon {

using catalogue::DecodeHeaderText;

namespace {

// "name <address>", or whichever of the two there is.
std::string Person(std::string name, std::string address) {
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    address = address.substr(1, address.size() - 2);
  }
  if (name.empty()) return address;
  if (address.empty()) return name;
  return name + " <" + address + ">";
}

std::string HeaderText(std::string_view header, const char* name, uint32_t codePage) {
  const std::optional<std::string> value = output::FindHeader(header, name);
  return value ? DecodeHeaderText(*value, codePage) : std::string();
}

std::optional<int64_t> Seconds(uint64_t filetime) {
  int64_t seconds = 0;
  if (!catalogue::FiletimeToUnixSeconds(filetime, &seconds)) return std::nullopt;
  // A time no format can show is none, so the Date: header stands in for it everywhere alike.
  if (!output::ShowableTime(seconds)) return std::nullopt;
  return seconds;
}

}  // namespace

uint32_t OutputFlags(uint32_t indexFlags) {
  static const struct {
    uint32_t index, output;
  } kFlags[] = {{catalogue::kMessageRead, output::kFlagRead},
                {catalogue::kMessageFlagged, output::kFlagFlagged},
                {catalogue::kMessageAnswered, output::kFlagAnswered},
                {catalogue::kMessageForwarded, output::kFlagForwarded},
                {catalogue::kMessageDraft, output::kFlagDraft},
                {catalogue::kMessageAttachment, output::kFlagAttachment},
                {catalogue::kMessageNews, output::kFlagNews}};
  uint32_t flags = 0;
  for (const auto& f : kFlags) {
    if (indexFlags & f.index) flags |= f.output;
  }
  return flags;
}

output::MessageFacts FactsWithoutTexts(const std::string& mailbox,
                                       const catalogue::MessageInfo* record,
                                       const rescue::PlannedMessage& message, uint32_t number,
                                       std::string_view messageStart) {
  output::MessageFacts facts;
  facts.mailbox = mailbox;
  facts.number = number;
  facts.status = rescue::StatusName(message.status);
  facts.firstBlock = message.firstBlock;
  facts.blocks = message.blocks;
  if (record != nullptr) {
    const catalogue::MessageInfo& info = *record;
    facts.indexId = info.indexId;
    facts.flags = OutputFlags(info.flags);
    facts.received = Seconds(info.received);
    facts.sent = Seconds(info.sent);
    facts.senderAddress = ValidUtf8(info.senderAddress);
  }
  // What the index does not say, the message's own headers may (FindHeader reads the header
  // block only).
  if (!facts.received || !facts.sent) {
    if (const std::optional<std::string> date = output::FindHeader(messageStart, "Date")) {
      std::optional<int64_t> when = output::ParseMailDate(*date);
      // "31 Dec 9999 23:59:60", or a zone that carries it past the year 9999: no time, as an
      // index's time out of range is none.
      if (when && !output::ShowableTime(*when)) when.reset();
      if (!facts.received) facts.received = when;
      if (!facts.sent) facts.sent = when;
    }
  }
  return facts;
}

void AddTextFacts(const catalogue::MessageInfo* record, std::string_view messageStart,
                  const StoreFolders& store, output::MessageFacts* facts) {
  // The message's own headers are in the charset it declares; 8-bit ones that declare none were
  // most likely written in the store's.
  uint32_t codePage = catalogue::CodePageFromMessage(messageStart);
  if (codePage == 0) codePage = store.codePage.codePage;
  const std::string_view header = messageStart;
  if (record != nullptr) {
    const catalogue::MessageInfo& info = *record;
    facts->subject = store.Text(info.subject);
    facts->senderName = store.Text(info.senderName);
    facts->from = Person(facts->senderName, store.Text(info.senderAddress));
    facts->to = Person(store.Text(info.receiverName), store.Text(info.receiverAddress));
    facts->messageId = ValidUtf8(info.messageId);
  }
  if (facts->subject.empty()) facts->subject = HeaderText(header, "Subject", codePage);
  if (facts->from.empty()) {
    facts->from = HeaderText(header, "From", codePage);
    if (const std::optional<std::string> from = output::FindHeader(header, "From")) {
      facts->senderName = DecodeHeaderText(output::DisplayNameOf(*from), codePage);
    }
  }
  if (facts->to.empty()) facts->to = HeaderText(header, "To", codePage);
  if (facts->messageId.empty()) facts->messageId = HeaderText(header, "Message-ID", codePage);
}

output::MessageFacts FactsOf(const std::string& mailbox, const catalogue::MessageInfo* record,
                             const rescue::PlannedMessage& message, uint32_t number,
                             std::string_view messageStart, const StoreFolders& store) {
  output::MessageFacts facts = FactsWithoutTexts(mailbox, record, message, number, messageStart);
  AddTextFacts(record, messageStart, store, &facts);
  return facts;
}

}  // namespace quillon
