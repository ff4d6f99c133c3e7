// Times as the output formats show them: the Date: header read (RFC 5322 with its obsolete
// forms), the mbox From line's asctime, the name template's date and time, ISO 8601 for the
// manifest. All UTC, all without the C library's time zone or locale.
#ifndef QUILLON_OUTPUT_MAIL_TIME_H_
#define QUILLON_OUTPUT_MAIL_TIME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/civil_time.h"  // the calendar the formats show times in

namespace quillon::output {

// Seconds since 1970-01-01 UTC of an RFC 5322 date-time: "Mon, 3 Jan 2005 10:00:00 +0100",
// and what mail programs also wrote: no day name, no seconds, two- and three-digit years (obs-
// year: 00-49 are 2000-2049), the zone names UT, GMT, EST...PDT, military letters (as -0000),
// no zone (as UTC), comments and folding anywhere. Nothing when the text is no date or the date
// does not exist (31 February, hour 24).
std::optional<int64_t> ParseMailDate(std::string_view text);

// The unfolded value of the first `name` header (case ignored) in a header block, without the
// leading white space; nothing when there is none. Stops at the block's end (an empty line).
std::optional<std::string> FindHeader(std::string_view headerBlock, std::string_view name);

// The display name of an address header's value: "Ann Lee" of `"Ann Lee" <ann@x>`, `Ann Lee
// <ann@x>` and `ann@x (Ann Lee)`; its quotes and the white space around it gone; empty when
// there is none. Encoded-words stay as they are.
std::string DisplayNameOf(std::string_view value);

// True for a time that every format can show: within the years 0000-9999, the four digits of the
// From line's year and of ISO 8601's. One rule for the rest: a time outside them (an index's
// FILETIME in the year 30459) is no time, for MessageTime and for whoever fills in MessageFacts.
bool ShowableTime(int64_t unixSeconds);

// The time a message's file carries: the index's received time, else its Date: header (from
// `headerBlock`), else `exportTime`; a time that is not ShowableTime is passed over.
int64_t MessageTime(const std::optional<int64_t>& received, std::string_view headerBlock,
                    int64_t exportTime);

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MAIL_TIME_H_
