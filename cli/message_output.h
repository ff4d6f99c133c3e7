// Where the rescue engine's export puts the messages it reads: one strategy per kind of output.
// Today the formats of output/mail_writer.h in the output folder (eml files, mbox files, Maildir
// folders); an HTML archive or an upload to an IMAP server take the same calls.
#ifndef QUILLON_CLI_MESSAGE_OUTPUT_H_
#define QUILLON_CLI_MESSAGE_OUTPUT_H_

#include <memory>
#include <string>
#include <vector>

#include "output/mail_writer.h"

namespace quillon {

class MessageOutput {
 public:
  virtual ~MessageOutput() = default;

  // Makes `folder` (outermost name first) exist in the output, even when no message goes there.
  virtual bool AddFolder(const std::vector<std::string>& folder, std::string* error) = 0;
  // A mailbox whose messages go to `folder` begins.
  virtual bool BeginMailbox(const std::vector<std::string>& folder, std::string* error) {
    return AddFolder(folder, error);
  }
  // Where the messages of `folder` go, as the output names it (a folder, an mbox file): the
  // place --update compares a message's file with, and the words of a failure.
  virtual std::string Locate(const std::vector<std::string>& folder) = 0;
  // Writes one message, its bytes from `source`: anew, or over `rewritePath` (a file written
  // before, --update). *written says where it went and how large it is.
  virtual bool WriteMessage(const output::MessageFacts& facts, const output::MessageSource& source,
                            const std::string* rewritePath, output::WrittenMessage* written,
                            std::string* error) = 0;
  // The mailbox begun last has no more messages.
  virtual void EndMailbox() {}
  // Every message was written: the output is made whole. False when that failed.
  virtual bool Finish(std::string* error) = 0;
};

// The formats of output/mail_writer.h, through `writer`.
std::unique_ptr<MessageOutput> MakeFormatOutput(std::unique_ptr<output::MailWriter> writer);

}  // namespace quillon

#endif  // QUILLON_CLI_MESSAGE_OUTPUT_H_
