#include "cli/export_command.h"

#include "cli/codepage_option.h"
#include "cmdline/command_options.h"
#include "output/names.h"

namespace quillon {

const char kUsage[] =
    "Usage: quillon export [OPTION...] PATH...\n"
    "Rescues the mail of Outlook Express mailbox files (.dbx): writes every message that can be\n"
    "read, byte for byte. Each PATH is a mailbox file, or a folder whose *.dbx files are all "
    "read.\n"
    "\n"
    "  -o, --output DIR   write into DIR (default: the current folder; created when missing)\n"
    "  -f, --format FMT   eml: one file per message (the default); mbox: one mboxrd file per\n"
    "                     folder; maildir: Maildir++ folders, as Dovecot reads them\n"
    "      --tree         mirror the folders of Folders.dbx: nested folders (eml), Thunderbird's\n"
    "                     NAME.sbd/ (mbox), .Parent.Child (maildir)\n"
    "      --name TEMPLATE  eml file names from {n} {mailbox} {folder} {date} {time} {from} {to}\n"
    "                     {subject} {id} (default {mailbox}-{n}: Name.dbx-1.eml, ...)\n"
    "      --manifest FILE  a copy of the manifest in FILE (JSON Lines: each file written,\n"
    "                     and a summary per mailbox); DIR always gets quillon-manifest.jsonl\n"
    "      --update       eml, maildir: write only the messages DIR does not hold whole (by\n"
    "                     the manifest's SHA-256), rewrite changed or cut files, touch no other\n"
    "      --deleted      also recover deleted messages, into \"Recovered deleted messages\"\n"
    "      --fragments    also write fragments (tails of messages whose head is lost), into\n"
    "                     \"Fragments\"\n"
    "      --codepage N   " QUILLON_CODEPAGE_HELP
    "  -q, --quiet        print nothing but errors\n"
    "  -n, --dry-run      report what would be written; create nothing, but check that DIR\n"
    "                     could be created and written\n"
    "  -r, --recursive    export every store folder found in or beneath each folder PATH,\n"
    "                     each into a subfolder of DIR named after its identity\n"
    "      --desktop      export with the engine of Quillon.exe: .eml files named as above,\n"
    "                     with -o, -q, -n and -r only\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "Files of the names a message gets are replaced (but with --update). Two mailboxes that\n"
    "would write the same files (a/Inbox.dbx, b/Inbox.dbx) are refused before anything is\n"
    "written. Each mailbox's result goes to standard output, errors to standard error. Ctrl-C,\n"
    "SIGTERM and SIGHUP stop at once; every file written is whole.\n"
    "\n"
    "A mailbox file that the store's Folders.dbx does not list goes under a folder of its own,\n"
    "\"Unlisted files\", never in the place of a folder Folders.dbx lists.\n"
    "\n"
    "Exit status: 0 when every message the mailboxes list was written whole (an empty mailbox\n"
    "too), 3 when all that could be read was written but mailboxes were damaged (messages\n"
    "damaged or lost, named in the report), 2 when a mailbox or file could not be read or\n"
    "written, or a PATH yields no mailbox (a folder without one, a file that is not one:\n"
    "the error says what it is), 64 for a usage error or a name clash, 130 when interrupted\n"
    "(Ctrl-C), 143 on SIGTERM, 129 on SIGHUP.\n";

const char kOverview[] =
    "Usage: quillon COMMAND [OPTION...] PATH...\n"
    "Rescues the mail of Outlook Express mailbox files (.dbx): every message that can be read.\n"
    "\n"
    "  quillon locate PATH...          find the Outlook Express store folders in and beneath\n"
    "                                  each PATH (an old disk, a copied profile, a backup)\n"
    "  quillon export -o DIR PATH...   write every message into DIR: .eml files, mbox for\n"
    "                                  Thunderbird and mutt, or Maildir for an IMAP server\n"
    "  quillon check PATH...           say what each mailbox file is and what became of its\n"
    "                                  messages, writing nothing\n"
    "  quillon list PATH...            one row per message: status, date, size, sender, subject\n"
    "\n"
    "Got an old Windows backup? 'quillon locate BACKUP' shows the stores in it, and\n"
    "'quillon export -r -o DIR BACKUP' writes each into a folder of its own.\n"
    "\n"
    "Each PATH is a mailbox file, or a folder of them; -r, --recursive takes every store\n"
    "beneath a folder. A PATH that yields no mailbox (an archive, a registry file, a folder\n"
    "without a store) is an error, with what to do, and the exit status is 2.\n"
    "\n"
    "  -h, --help         show this overview; 'quillon COMMAND --help' shows a command's options\n"
    "  -V, --version      show the version and exit\n";

ParseOutcome ParseArguments(const std::vector<std::string>& args, ExportOptions* options,
                            std::string* error) {
  if (args.empty()) {
    *error = "missing command (try 'quillon export PATH...')";
    return ParseOutcome::kUsageError;
  }
  const std::string& command = args[0];
  if (command == "-h" || command == "--help" || command == "help") return ParseOutcome::kHelp;
  if (command == "-V" || command == "--version") return ParseOutcome::kVersion;
  if (command != "export") {
    *error = "unknown command '" + command + "'";
    return ParseOutcome::kUsageError;
  }
  enum LongOnly {
    kDesktop = 0x100,
    kTree,
    kName,
    kManifest,
    kUpdate,
    kDeleted,
    kFragments,
    kCodePage,
  };
  const std::vector<OptionDef> defs = {
      {"output", 'o', "a folder"},
      {"quiet", 'q', "", &options->quiet},
      {"dry-run", 'n', "", &options->dryRun},
      {"recursive", 'r', "", &options->recursive},
      {"format", 'f', "a value"},
      {"tree", kTree, "", &options->tree},
      {"name", kName, "a value"},
      {"manifest", kManifest, "a value"},
      {"update", kUpdate, "", &options->update},
      {"deleted", kDeleted, "", &options->deleted},
      {"fragments", kFragments, "", &options->fragments},
      {"codepage", kCodePage, "a value"},
      {"desktop", kDesktop, "", &options->desktop},
  };
  bool rescueOnly = false;  // an option the extraction engine does not have
  const ParseOutcome outcome = ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string* why) {
        rescueOnly = rescueOnly || id == 'f' || (id >= kTree && id <= kCodePage);
        switch (id) {
          case 'o':
            options->outputFolder = value;
            return true;
          case 'f':
            if (output::ParseFormat(value, &options->format)) return true;
            *why = "unknown format '" + std::string(value) + "' (eml, mbox or maildir)";
            return false;
          case kName:
            options->nameTemplate = value;
            return true;
          case kManifest:
            options->manifestPath = value;
            if (!options->manifestPath.empty()) return true;
            *why = "the manifest's file name must not be empty";
            return false;
          case kCodePage:
            return ParseCodePage(value, &options->codePage, why);
          default:  // the flags, set already
            return true;
        }
      },
      &options->paths, error);
  if (outcome != ParseOutcome::kRun) return outcome;
  if (options->outputFolder.empty()) {
    *error = "the output folder must not be empty";
    return ParseOutcome::kUsageError;
  }
  if (options->paths.empty()) {
    *error = "no mailbox file or folder given";
    return ParseOutcome::kUsageError;
  }
  if (options->desktop && rescueOnly) {
    *error = "--desktop writes .eml files as Quillon.exe does and takes only -o, -q and --dry-run";
    return ParseOutcome::kUsageError;
  }
  if (!options->nameTemplate.empty()) {
    output::NameTemplate parsed;
    std::string why;
    if (options->format != output::Format::kEml) {
      *error = "--name names .eml files; --format " +
               std::string(output::FormatName(options->format)) + " names its own";
      return ParseOutcome::kUsageError;
    }
    if (!output::NameTemplate::Parse(options->nameTemplate, &parsed, &why)) {
      *error = "--name: " + why;
      return ParseOutcome::kUsageError;
    }
  }
  if (options->update && options->format == output::Format::kMbox) {
    *error = "--update works on eml and maildir output; an mbox file is written whole";
    return ParseOutcome::kUsageError;
  }
  if (options->update && options->dryRun) {
    *error = "--update reads and writes the output folder; it cannot be combined with --dry-run";
    return ParseOutcome::kUsageError;
  }
  return ParseOutcome::kRun;
}

}  // namespace quillon
