#include "cli/message_output.h"

#include <utility>

namespace quillon {

namespace {

class FormatOutput final : public MessageOutput {
 public:
  explicit FormatOutput(std::unique_ptr<output::MailWriter> writer) : writer_(std::move(writer)) {}

  bool AddFolder(const std::vector<std::string>& folder, std::string* error) override {
    return writer_->AddFolder(folder, error);
  }
  std::string Locate(const std::vector<std::string>& folder) override {
    return writer_->Locate(folder).path;
  }
  bool WriteMessage(const output::MessageFacts& facts, const output::MessageSource& source,
                    const std::string* rewritePath, output::WrittenMessage* written,
                    std::string* error) override {
    return rewritePath != nullptr ? writer_->Rewrite(*rewritePath, facts, source, written, error)
                                  : writer_->Write(facts, source, written, error);
  }
  bool Finish(std::string* error) override { return writer_->Finish(error); }

 private:
  std::unique_ptr<output::MailWriter> writer_;
};

}  // namespace

std::unique_ptr<MessageOutput> MakeFormatOutput(std::unique_ptr<output::MailWriter> writer) {
  return std::make_unique<FormatOutput>(std::move(writer));
}

}  // namespace quillon
