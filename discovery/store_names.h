// Names for what the store finder found: display names fit to print, and one folder name per
// store for an export that gives each store its own subfolder.
#ifndef QUILLON_DISCOVERY_STORE_NAMES_H_
#define QUILLON_DISCOVERY_STORE_NAMES_H_

#include <cstddef>
#include <string>
#include <vector>

#include "discovery/store_finder.h"

namespace quillon {

// Display names are cut to this many bytes; Outlook Express allows far shorter ones.
inline constexpr size_t kMaxDisplayNameBytes = 256;

// A store's subfolder name is at most this many bytes of UTF-8: it is one level of the export's
// output path, and the message files beneath it need the rest of Windows' 260 characters.
inline constexpr size_t kMaxStoreFolderNameBytes = 100;

// `text` made fit to show on a terminal as it is: every byte that does not start a well-formed
// UTF-8 character, and every control character (C0, DEL, C1), becomes '?', so that no file name or
// mail text can move the cursor, change the colours or break the line it is shown on. A path
// shown so still finds its file as a shell pattern.
std::string PrintableText(const std::string& text);

// PrintableText(text) cut to kMaxDisplayNameBytes on a character boundary.
std::string CleanDisplayName(const std::string& text);

// `text` (UTF-8) as one folder name that Windows and POSIX file systems both take, at most
// `maxBytes` (>= 1) bytes: '/', '\', ':', '*', '?', '"', '<', '>', '|', control characters and
// bytes that are not well-formed UTF-8 become '_'; the text is cut on a character boundary;
// trailing dots and spaces, which Windows drops, are removed; a reserved device name (CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, COM and LPT with a superscript digit, in any case, alone or before an
// extension) gets '_' after the device name; an empty result, "." and ".." become "_".
std::string SafeFolderName(const std::string& text, size_t maxBytes = kMaxStoreFolderNameBytes);

// One subfolder name per store, in the order of `stores`: the identity's display name ("Main
// Identity"), else its GUID, else the store folder's own name, made safe by SafeFolderName. Two
// stores never get one name, even differing only in ASCII case: names that would meet get the
// user's name (else the GUID) in parentheses, and names that still meet a number, " (2)" on.
std::vector<std::string> StoreFolderNames(const std::vector<MailStore>& stores);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_STORE_NAMES_H_
