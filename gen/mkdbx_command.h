// quillon-mkdbx: writes a generated mailbox file and, on request, its manifest.
#ifndef QUILLON_GEN_MKDBX_COMMAND_H_
#define QUILLON_GEN_MKDBX_COMMAND_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gen/generator.h"
#include "gen/store.h"

namespace quillon::gen {

inline constexpr int kMkdbxOk = 0;
inline constexpr int kMkdbxFailed = 1;
inline constexpr int kMkdbxUsage = 64;  // EX_USAGE

struct MkdbxArgs {
  GeneratorOptions options;
  std::string outputPath;
  std::string manifestPath;  // empty: no manifest
  // With --store: the store folder to write, and its options (seed, size and count come from
  // the same options as for one file).
  std::string storePath;
  StoreOptions store;
  bool help = false;     // --help: nothing else is read
  bool version = false;  // --version
};

// Parses the arguments after the program name. Without --size or --messages, 100 messages (a
// store: 300).
// False on bad usage, with *error saying what is wrong (no program name, no newline).
bool ParseMkdbxArgs(const std::vector<std::string>& args, MkdbxArgs* parsed, std::string* error);

// "123", "64K", "16M", "2G" (powers of 1024; lower case too). False when malformed or over
// 64 bits.
bool ParseByteCount(const std::string& text, uint64_t* value);

// The --help text.
std::string MkdbxUsage();

// The manifest file: a '#' comment line, then "0x<first block> <length> <sha256>" per message in
// the order given (GenerateMailbox gives ascending first blocks).
std::string FormatManifest(const std::vector<ManifestEntry>& entries, const MkdbxArgs& args);

// Runs the command; what it prints goes to *out and *err. Returns the exit status.
int RunMkdbx(const std::vector<std::string>& args, std::string* out, std::string* err);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_MKDBX_COMMAND_H_
