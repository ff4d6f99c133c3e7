// Where an export writes each mailbox's messages, and the refusal of a run in which two
// mailboxes would write the same files.
#ifndef QUILLON_CLI_EXPORT_PLACES_H_
#define QUILLON_CLI_EXPORT_PLACES_H_

#include <functional>
#include <string>
#include <vector>

#include "cli/command.h"

namespace quillon {

class Printer;
class StoreReader;

// Two mailboxes of one run whose messages would get the same file names in the output folder.
struct NameClash {
  std::string first, second;
};

// Removes from *paths the later mentions of a file named twice (a folder and a file in it,
// say); only paths of one `key` can be one file. Returns each pair of different files of one
// key.
std::vector<NameClash> DropRepeats(std::vector<std::string>* paths,
                                   const std::function<std::string(const std::string&)>& key);

// All mailboxes of a run write into one folder, so two of the same file name (as the output
// folder's file system compares names) would overwrite each other's messages: returns each such
// pair. The same file named twice would only write the same files again: its later mentions
// are removed from *mailboxes instead.
std::vector<NameClash> DropRepeatsAndFindClashes(std::vector<std::string>* mailboxes);

// The error line for a clash of .eml files named after their mailbox, in `outputFolder`.
std::string FlatClashWords(const NameClash& clash, const std::string& outputFolder);
// Said after the clashes that refused a run.
inline constexpr char kClashRefusal[] =
    "quillon: nothing was written; export mailboxes of the same name into different folders, one "
    "run each (-o DIR)";

// Where recovered deleted messages and fragments go, below the folder they were found in.
inline constexpr char kDeletedFolder[] = "Recovered deleted messages";
inline constexpr char kFragmentFolder[] = "Fragments";

// A mailbox of the rescue engine's run, and where its messages go.
struct PlacedMailbox {
  std::string path;                // as the user gave it (or its folder and name)
  std::vector<std::string> shown;  // its folder path as Outlook Express showed it
  std::vector<std::string> place;  // where its messages go: `shown` with --tree
  bool messageFolder = false;      // a message folder (not Folders.dbx, Offline.dbx...)
  bool foldersFile = false;        // the store's Folders.dbx
  bool unlisted = false;           // its store's Folders.dbx does not list it
  std::string folderName() const { return shown.empty() ? std::string() : shown.back(); }
};

// Each mailbox's folder in the output of `options` (format, --tree), into *mailboxes. Flat eml
// (named after the mailbox file) reads no mailbox; the others read each file's header for its
// kind and name. Two stores' folders of one place, or two flat mailboxes of one name, are
// printed as clashes and give false; two folders of one store are told apart by a number.
bool PlaceMailboxes(const ExportOptions& options, std::vector<std::string> paths,
                    StoreReader* stores, Printer* print, std::vector<PlacedMailbox>* mailboxes);

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_PLACES_H_
