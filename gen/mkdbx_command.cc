#include "gen/mkdbx_command.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "cmdline/command_options.h"
#include "gen/output.h"

namespace quillon::gen {
namespace {

constexpr char kProgram[] = "quillon-mkdbx";

bool ParseCount(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

bool ParseSeed(const std::string& text, uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 18) return false;
    uint64_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      const char c = text[i];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return false;
      v = v << 4 | static_cast<uint64_t>(digit);
    }
    *value = v;
    return true;
  }
  return ParseCount(text, UINT64_MAX, value);
}

bool WriteText(const std::string& path, const std::string& text, std::string* error) {
  std::unique_ptr<FileOutput> file = FileOutput::Create(path, error);
  return file && file->Append(text.data(), text.size(), error) && file->Close(error);
}

int RunStore(const MkdbxArgs& args, std::string* out, std::string* err) {
  const auto start = std::chrono::steady_clock::now();
  FolderFileSink files(args.storePath);
  StoreManifest manifest;
  std::string error;
  if (!GenerateStore(args.store, files, &manifest, &error) ||
      (!args.manifestPath.empty() &&
       !WriteText(args.manifestPath, ManifestJsonLines(manifest), &error))) {
    *err += std::string(kProgram) + ": " + error + "\n";
    return kMkdbxFailed;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const StoreStats& s = manifest.stats;
  char summary[256];
  std::snprintf(summary, sizeof summary,
                ": %u files, %u folders, %u live messages, %u headers-only, %u deleted (%u also "
                "live elsewhere), %llu bytes, %.2f s\n",
                s.files, s.folders, s.live, s.headersOnly, s.deleted, s.deletedAlsoLive,
                static_cast<unsigned long long>(s.bytes), seconds);
  *out += args.storePath + summary;
  return kMkdbxOk;
}

}  // namespace

bool ParseByteCount(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t scale = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'K':
    case 'k':
      scale = uint64_t{1} << 10;
      break;
    case 'M':
    case 'm':
      scale = uint64_t{1} << 20;
      break;
    case 'G':
    case 'g':
      scale = uint64_t{1} << 30;
      break;
    default:
      break;
  }
  if (scale != 1) digits.pop_back();
  uint64_t v;
  if (!ParseCount(digits, UINT64_MAX / scale, &v)) return false;
  *value = v * scale;
  return true;
}

std::string MkdbxUsage() {
  return "Usage: quillon-mkdbx [OPTION]... OUT.dbx\n"
         "   or: quillon-mkdbx --store DIR [OPTION]...\n"
         "Writes a realistic Outlook Express mailbox file, or a whole store folder, for\n"
         "tests and benchmarks.\n"
         "\n"
         "  --seed N          random seed, decimal or 0x hex (default 1); the same seed\n"
         "                    and options give the same file\n"
         "  --size BYTES      keep the file within BYTES; suffixes K, M, G (powers of 1024)\n"
         "  --messages N      number of live messages (default 100 unless --size is given)\n"
         "  --fragmented      interleave the blocks of neighbouring messages\n"
         "  --deleted N       also write N deleted messages\n"
         "  --manifest FILE   write the first-block offset, length and SHA-256 of every\n"
         "                    live message to FILE\n"
         "  --store DIR       write a store folder instead: Folders.dbx and its folder\n"
         "                    tree, a file per mail folder, Pop3uidl.dbx, Offline.dbx;\n"
         "                    --size (about) and --messages count all its folders\n"
         "                    together, and --manifest writes JSON Lines on every\n"
         "                    folder, file and message (docs/generator.md)\n"
         "  --shape SHAPE     default: about 9,000 messages a GiB, most 1-50 KB; small:\n"
         "                    a real Inbox, 150,000 or more a GiB, most 1-10 KB, a few\n"
         "                    large, subjects and names in the index 8-bit in the code\n"
         "                    page (with --fragmented and --deleted N for the rest);\n"
         "                    tiny: one-block replies only, over a million a GiB\n"
         "  --codepage N      the code page of the index's texts: 1251 (a store's\n"
         "                    default), 936 or 1252 (--shape small's default)\n"
         "  --mail-charset utf-8  with --store: the messages declare UTF-8 and carry\n"
         "                    their texts in it; the index keeps the code page's bytes\n"
         "  --help            show this help\n"
         "  --version         show the version\n";
}

bool ParseMkdbxArgs(const std::vector<std::string>& args, MkdbxArgs* parsed, std::string* error) {
  // Long options only.
  enum {
    kSeed = 256,
    kSize,
    kMessages,
    kFragmented,
    kDeleted,
    kManifest,
    kStore,
    kCodePage,
    kShape,
    kMailCharset
  };
  static const std::vector<OptionDef> kOptions = {
      {"seed", kSeed, "a value"},         {"size", kSize, "a value"},
      {"messages", kMessages, "a value"}, {"fragmented", kFragmented, ""},
      {"deleted", kDeleted, "a value"},   {"manifest", kManifest, "a value"},
      {"store", kStore, "a value"},       {"codepage", kCodePage, "a value"},
      {"shape", kShape, "a value"},       {"mail-charset", kMailCharset, "a value"}};

  MkdbxArgs result;
  bool sizeGiven = false, countGiven = false, layoutGiven = false, codePageGiven = false;
  const auto handle = [&](int id, const char* text, std::string* why) {
    const std::string value = text != nullptr ? text : "";
    uint64_t n;
    switch (id) {
      case kSeed:
        if (!ParseSeed(value, &n)) {
          *why = "--seed: '" + value + "' is not a number";
          return false;
        }
        result.options.seed = n;
        return true;
      case kSize:
        if (!ParseByteCount(value, &n)) {
          *why = "--size: '" + value + "' is not a byte count such as 4096, 64K, 16M or 2G";
          return false;
        }
        result.options.targetBytes = n;
        sizeGiven = true;
        return true;
      case kMessages:
      case kDeleted: {
        const std::string name = id == kMessages ? "--messages" : "--deleted";
        if (!ParseCount(value, 0xFFFFFFFFu, &n)) {
          *why = name + ": '" + value + "' is not a count";
          return false;
        }
        if (id == kDeleted) {
          result.options.deletedMessages = static_cast<uint32_t>(n);
          layoutGiven = true;
        } else if (n == 0) {
          *why = "--messages: give at least 1";
          return false;
        } else {
          result.options.messageCount = static_cast<uint32_t>(n);
          countGiven = true;
        }
        return true;
      }
      case kFragmented:
        result.options.fragmented = true;
        layoutGiven = true;
        return true;
      case kStore:
        if (value.empty()) {
          *why = "--store: the folder name is empty";
          return false;
        }
        result.storePath = value;
        return true;
      case kCodePage:
        if (!ParseCount(value, 0xFFFFFFFFu, &n) || (n != 1251 && n != 936 && n != 1252)) {
          *why = "--codepage: '" + value + "' is not 1251, 936 or 1252";
          return false;
        }
        result.store.codePage = static_cast<uint32_t>(n);
        result.options.codePage = static_cast<uint32_t>(n);
        codePageGiven = true;
        return true;
      case kShape:
        if (value != "default" && value != "small" && value != "tiny") {
          *why = "--shape: '" + value + "' is not default, small or tiny";
          return false;
        }
        result.options.shape = value == "small"  ? Shape::kSmall
                               : value == "tiny" ? Shape::kTiny
                                                 : Shape::kDefault;
        result.store.shape = result.options.shape;
        return true;
      case kMailCharset:
        if (value != "utf-8") {
          *why = "--mail-charset: '" + value + "' is not utf-8";
          return false;
        }
        result.store.utf8Mail = true;
        return true;
      default:  // kManifest
        if (value.empty()) {
          *why = "--manifest: the file name is empty";
          return false;
        }
        result.manifestPath = value;
        return true;
    }
  };
  std::vector<std::string> words{kProgram};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> operands;
  const ParseOutcome outcome = ParseCommandOptions(words, kOptions, handle, &operands, error);
  switch (outcome) {
    case ParseOutcome::kUsageError:
      return false;
    case ParseOutcome::kHelp:
    case ParseOutcome::kVersion: {
      MkdbxArgs asked;
      asked.help = outcome == ParseOutcome::kHelp;
      asked.version = !asked.help;
      *parsed = asked;
      return true;
    }
    case ParseOutcome::kRun:
      break;
  }
  const uint64_t size = result.options.targetBytes;
  if (!result.storePath.empty()) {
    if (!operands.empty()) {
      *error = "--store writes a folder; no output file goes with it";
      return false;
    }
    if (layoutGiven) {
      *error = "--fragmented and --deleted do not apply to --store, which has its own";
      return false;
    }
    if (size > (uint64_t{4} << 30)) {
      *error = "--size: a store of at most 4G";
      return false;
    }
    result.store.seed = result.options.seed;
    result.store.targetBytes = size;
    result.store.messageCount = result.options.messageCount;
    *parsed = result;
    return true;
  }
  if (result.store.utf8Mail) {
    *error = "--mail-charset applies to --store only";
    return false;
  }
  if (codePageGiven && result.options.shape == Shape::kDefault) {
    *error = "--codepage applies to --store, --shape small and --shape tiny only";
    return false;
  }
  if (sizeGiven && size > 0xFFFFFFFFu) {
    *error = "--size: at most 4294967295 bytes; offsets in a mailbox are 32-bit";
    return false;
  }
  if (sizeGiven && size < 0xEAD4) {
    *error = "--size: at least 60116 bytes, the size of an empty mailbox";
    return false;
  }
  if (operands.size() != 1) {
    *error = operands.empty() ? "no output file given" : "more than one output file given";
    return false;
  }
  result.outputPath = operands[0];
  if (!sizeGiven && !countGiven) result.options.messageCount = 100;
  *parsed = result;
  return true;
}

std::string FormatManifest(const std::vector<ManifestEntry>& entries, const MkdbxArgs& args) {
  std::string text = "# quillon-mkdbx manifest of " + args.outputPath + ": seed " +
                     std::to_string(args.options.seed) + ", " + std::to_string(entries.size()) +
                     " live messages; first-block offset, length, SHA-256\n";
  char line[32];
  for (const ManifestEntry& e : entries) {
    std::snprintf(line, sizeof line, "0x%08x %u ", static_cast<unsigned>(e.firstBlock),
                  static_cast<unsigned>(e.length));
    text += line;
    text += DigestToHex(e.sha256);
    text += '\n';
  }
  return text;
}

int RunMkdbx(const std::vector<std::string>& args, std::string* out, std::string* err) {
  MkdbxArgs parsed;
  std::string error;
  if (!ParseMkdbxArgs(args, &parsed, &error)) {
    *err += std::string(kProgram) + ": " + error + "\nTry 'quillon-mkdbx --help'.\n";
    return kMkdbxUsage;
  }
  if (parsed.help) {
    *out += MkdbxUsage();
    return kMkdbxOk;
  }
  if (parsed.version) {
    *out += std::string(kProgram) + " " + QUILLON_VERSION + "\n";
    return kMkdbxOk;
  }
  if (!parsed.storePath.empty()) return RunStore(parsed, out, err);
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<FileOutput> file = FileOutput::Create(parsed.outputPath, &error);
  std::vector<ManifestEntry> manifest;
  GeneratorStats stats;
  const bool ok =
      file &&
      GenerateMailbox(parsed.options, *file, parsed.manifestPath.empty() ? nullptr : &manifest,
                      &stats, &error) &&
      file->Close(&error);
  if (!ok) {
    // A half-written mailbox would pass for a damaged one; leave none behind.
    if (file) {
      std::string ignored;
      file->Close(&ignored);
      std::remove(parsed.outputPath.c_str());
    }
    *err += std::string(kProgram) + ": " + error + "\n";
    return kMkdbxFailed;
  }
  if (!parsed.manifestPath.empty()) {
    if (!WriteText(parsed.manifestPath, FormatManifest(manifest, parsed), &error)) {
      *err += std::string(kProgram) + ": " + error + "\n";
      return kMkdbxFailed;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char summary[256];
  std::snprintf(summary, sizeof summary, ": %u messages (%u deleted), %llu bytes, %.2f s\n",
                static_cast<unsigned>(stats.messages), static_cast<unsigned>(stats.deletedMessages),
                static_cast<unsigned long long>(stats.fileBytes), seconds);
  *out += parsed.outputPath + summary;
  return kMkdbxOk;
}

}  // namespace quillon::gen
