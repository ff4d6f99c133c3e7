// A whole Outlook Express store folder, as the client leaves it: Folders.dbx with the folder
// tree (Local Folders with the five special folders and nested folders of their own, an IMAP
// account, a news account, a folder whose file was never made), a message folder file for each
// folder that has one, a folder file no folder names, Pop3uidl.dbx and Offline.dbx. Names and
// texts are 8-bit in the store's code page where the client kept them so.
//
// The messages carry what export and listing tools must get right: flags, received and sent
// times, subjects and senders as RFC 2047 words and as 8-bit text, body lines that start with
// "From ", messages without a Date header, headers-only messages, messages moved to Deleted Items
// (deleted from one folder, live in the other) and copied to another folder, and deleted
// messages, one of them with its last block taken by the next message.
//
// The manifest (JSON Lines, docs/generator.md) tells the truth about every folder, file and
// message. Everything follows from the options: the same options give the same bytes.
#ifndef QUILLON_GEN_STORE_H_
#define QUILLON_GEN_STORE_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gen/mail_text.h"
#include "gen/output.h"
#include "hash/digest.h"

namespace quillon::gen {

struct StoreOptions {
  uint64_t seed = 1;
  // About this many bytes of mail in all the folders; 0: by message count alone.
  uint64_t targetBytes = 0;
  // About this many messages in all the folders together, each copy counted; with a size too,
  // whichever comes first; with neither, 300. Every folder gets at least a few (the Inbox 40).
  uint32_t messageCount = 0;
  // The ANSI code page of the Windows that wrote the store: 1251, 936 or 1252.
  uint32_t codePage = 1251;
  // The spread of message sizes in every folder (mail_text.h).
  Shape shape = Shape::kDefault;
  // The messages declare UTF-8 and carry their 8-bit texts in it, while the index keeps them in
  // the code page (as mail read by a newer client and stored by Outlook Express); false: the
  // texts declare the code page's own charset.
  bool utf8Mail = false;
};

struct StoreStats {
  uint32_t files = 0;
  uint32_t folders = 0;  // records in Folders.dbx
  uint32_t live = 0;
  uint32_t headersOnly = 0;
  uint32_t deleted = 0;  // all deleted messages, those also live elsewhere included
  uint32_t deletedAlsoLive = 0;
  uint64_t bytes = 0;  // of all the files
};

// The truth about a generated store. Texts are UTF-8; the files hold them in the code page.
struct StoreManifest {
  struct Folder {  // a record of Folders.dbx
    uint32_t id = 0;
    int64_t parent = -1;  // -1 for the root (its record says 0xFFFFFFFF)
    std::string name;
    std::vector<std::string> path;  // names from below the root down to this folder
    std::string file;               // its file on disk; empty: none
    std::string kind;               // "root", "local", "imap", "http", "news"
    std::string special;            // "inbox", "outbox", "sent-items", "deleted-items", "drafts"
    std::string accountKey;         // empty when the record has none
    uint32_t messages = 0;          // records in its file
    uint32_t unread = 0;
  };
  struct File {
    std::string name;
    std::string kind;  // "messages", "folders", "pop3uidl", "offline"
    // Message folders: the file-info area's name, source ("local", "imap", "news") and key.
    std::string folder, source, accountKey;
    uint32_t indexCount = 0;  // the header's count of its first tree
    bool named = true;        // false: no folder record names the file
    uint64_t bytes = 0;
  };
  struct Message {
    std::string file;
    std::string folder;             // the folder's name (the file-info name when unnamed)
    std::vector<std::string> path;  // empty when no folder names the file
    // "live", "headers-only", "deleted", "deleted-also-live" (moved: live in another folder).
    std::string status;
    uint32_t indexId = 0;     // 0 when deleted: no record lists it
    uint32_t firstBlock = 0;  // 0 for headers-only
    uint32_t blocks = 0;
    uint32_t size = 0;      // bytes in blocks (a deleted one's before deletion); 0 for headers-only
    Sha256Digest sha256{};  // of those bytes
    // Deleted: the ranges [begin, end) of its bytes the file no longer holds, and whether the
    // next message took its last block. Moved: where it lives now.
    std::vector<std::pair<uint32_t, uint32_t>> overwritten;
    bool lastBlockReused = false;
    std::string liveInFile;
    uint32_t liveInId = 0;
    uint32_t flags = 0;    // the record's (0 when deleted)
    std::string received;  // ISO 8601 UTC from the record; empty when it has none
    std::string sent;
    std::string subject, from, to;  // from and to as "name <address>"
    std::string messageId;
  };

  uint64_t seed = 0;
  uint32_t codePage = 0;
  std::string charset;
  StoreStats stats;
  std::vector<Folder> folders;    // by id
  std::vector<File> files;        // in the order written
  std::vector<Message> messages;  // file by file, in id order (deleted ones at their old id)
};

// Writes the store's files to `files`, one after the other, and describes them in *manifest.
// False with *error on bad options or a failed write; files already written then stay.
bool GenerateStore(const StoreOptions& options, FileSink& files, StoreManifest* manifest,
                   std::string* error);

// The manifest as JSON Lines: a "store" line, then one per folder, file and message
// (docs/generator.md lists the fields).
std::string ManifestJsonLines(const StoreManifest& manifest);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_STORE_H_
