#include "output/message.h"

namespace quillon::output {

const char* const kFlagNames[kFlagCount] = {"read",  "flagged",    "answered", "forwarded",
                                            "draft", "attachment", "news"};

}  // namespace quillon::output
