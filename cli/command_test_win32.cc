// quillon.exe as a user meets it on Windows: names in any script, both separators, a mailbox
// path that must not steer where the files go, and names compared as Windows compares them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/export_command.h"
#include "cli/platform.h"
#include "engine/testing/mailbox_builder.h"
#include "test_support/test_support.h"
#include "win32/wide_text.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

struct Result {
  DWORD status = 0;
  std::string out, err;
};

// Whole files by their wide names: the C++ library's streams open them by narrow ones here.
std::string Slurp(const fs::path& path) {
  std::string bytes;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

// A one-message mailbox; returns the message, which begins with a header field as mail does.
std::string WriteMailbox(const fs::path& path, uint32_t seed) {
  MailboxBuilder mb(0x800);
  const std::string head = "Subject: " + std::to_string(seed) + "\r\n\r\n";
  const std::string text = mb.Message({0x100, 0x310}, head + FillerText(0x260 - head.size(), seed));
  FILE* f = _wfopen(path.c_str(), L"wb");
  EXPECT_TRUE(f != nullptr &&
              std::fwrite(mb.bytes.data(), 1, mb.bytes.size(), f) == mb.bytes.size())
      << path;
  if (f) std::fclose(f);
  return text;
}

std::string WithoutCarriageReturns(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

class WindowsCommandTest : public ::testing::Test {
 protected:
  // Runs quillon.exe (beside this program) in `cwd` with its output in files.
  Result Run(const std::vector<std::string>& args, const fs::path& cwd) {
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path exe = fs::path(std::wstring(self, n)).parent_path() / L"quillon.exe";
    std::wstring line = L"\"" + exe.wstring() + L"\"";
    for (const std::string& a : args) line += L" \"" + WideFromUtf8(a) + L"\"";

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const fs::path outPath = tmp_.path() / ".out", errPath = tmp_.path() / ".err";
    const HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    const HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = out;
    start.hStdError = err;
    PROCESS_INFORMATION process = {};
    Result r;
    r.status = 1000;
    if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(),
                       &start, &process)) {
      WaitForSingleObject(process.hProcess, 60000);
      GetExitCodeProcess(process.hProcess, &r.status);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    CloseHandle(out);
    CloseHandle(err);
    r.out = WithoutCarriageReturns(Slurp(outPath));
    r.err = WithoutCarriageReturns(Slurp(errPath));
    return r;
  }

  test::TempFolder tmp_{"wincli"};
};

TEST_F(WindowsCommandTest, NamesInAnyScriptAndBothSeparators) {
  ASSERT_FALSE(tmp_.path().empty());
  const fs::path work = tmp_.path() / "work", mail = tmp_.path() / "mail";
  for (const fs::path& f : {work, mail, tmp_.path() / "other"}) fs::create_directory(f);
  const char* names[] = {"Boîte de réception.dbx", "Inbox.dbx", "Входящие.dbx", "收件箱.dbx"};
  std::vector<std::string> texts;
  for (const char* name : names) {
    texts.push_back(WriteMailbox(mail / ToPath(name), static_cast<uint32_t>(texts.size())));
  }
  WriteMailbox(tmp_.path() / "other" / "INBOX.DBX", 9);
  // The mail folder as an absolute path written with forward slashes ("Z:/mail").
  std::string slashed = FromPath(mail);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');

  using Strings = std::vector<std::string>;
  const struct {
    Strings args;
    std::string out;
    std::string folder;  // under work, where the files must be
    Strings written;     // the mailboxes (of `names`) whose message it must hold
  } cases[] = {
      {{"export", "-o", "out", "../mail/Inbox.dbx"},
       "../mail/Inbox.dbx: 1 message written\n",
       "out",
       {"Inbox.dbx"}},
      {{"export", "-o", "abs", slashed + "/Inbox.dbx"},
       slashed + "/Inbox.dbx: 1 message written\n",
       "abs",
       {"Inbox.dbx"}},
      {{"export", "-o", "sortie/réception", "../mail"},
       "../mail\\Boîte de réception.dbx: 1 message written\n"
       "../mail\\Inbox.dbx: 1 message written\n"
       "../mail\\Входящие.dbx: 1 message written\n"
       "../mail\\收件箱.dbx: 1 message written\n",
       "sortie/réception",
       {"Boîte de réception.dbx", "Inbox.dbx", "Входящие.dbx", "收件箱.dbx"}},
      {{"export", "-o", "un", "..\\mail\\收件箱.dbx", "../mail/Входящие.dbx"},
       "..\\mail\\收件箱.dbx: 1 message written\n../mail/Входящие.dbx: 1 message written\n",
       "un",
       {"收件箱.dbx", "Входящие.dbx"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const Result r = Run(c.args, work);
    EXPECT_EQ(r.status, static_cast<DWORD>(kExitOk)) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    for (const std::string& name : c.written) {
      const size_t k = std::find(std::begin(names), std::end(names), name) - std::begin(names);
      EXPECT_EQ(Slurp(work / ToPath(c.folder) / ToPath(name + "-1.eml")), texts[k]) << name;
    }
    // And the manifest.
    EXPECT_EQ(std::distance(fs::directory_iterator(work / ToPath(c.folder)), {}),
              static_cast<std::ptrdiff_t>(c.written.size() + 1));
    EXPECT_TRUE(fs::exists(work / ToPath(c.folder) / "quillon-manifest.jsonl"));
  }
  // Nothing was written beside the mailboxes.
  EXPECT_EQ(std::distance(fs::directory_iterator(mail), {}), 4);

  // INBOX.DBX and Inbox.dbx are one name to Windows: refused before anything is written.
  const Result clash =
      Run({"export", "-o", "clash", "../mail/Inbox.dbx", "../other/INBOX.DBX"}, work);
  EXPECT_EQ(clash.status, static_cast<DWORD>(kExitUsage));
  EXPECT_EQ(clash.out, "");
  EXPECT_EQ(
      clash.err.rfind("quillon: ../mail/Inbox.dbx and ../other/INBOX.DBX would both write ", 0), 0u)
      << clash.err;
  EXPECT_FALSE(fs::exists(work / "clash"));
}

// check, locate and export --recursive under a profile named in two scripts, which no ANSI code
// page holds together: the store finder lists folders with the wide API.
TEST_F(WindowsCommandTest, StoresFoundUnderNamesInAnyScript) {
  const std::string guid = "{A1A1A1A1-0000-4000-8000-00000000000A}";
  const std::string given = "профиль 资料";
  const std::string store = given + "\\Identities\\" + guid + "\\Microsoft\\Outlook Express";
  fs::create_directories(tmp_.path() / ToPath(store));
  const std::string text = WriteMailbox(tmp_.path() / ToPath(store + "\\Входящие.dbx"), 1);
  WriteMailbox(tmp_.path() / ToPath(store + "\\收件箱.dbx"), 2);
  ASSERT_EQ(fs::file_size(tmp_.path() / ToPath(store + "\\收件箱.dbx")), 0x800u);

  const Result located = Run({"locate", given}, tmp_.path());
  EXPECT_EQ(located.status, 0u) << located.err;
  EXPECT_EQ(located.out,
            store + ": identity " + guid + ", 2 mailboxes (4.0 KiB), no Folders.dbx\n");
  EXPECT_EQ(located.err, "");

  const Result checked = Run({"check", "-r", given}, tmp_.path());
  EXPECT_EQ(checked.status, 0u) << checked.err;
  // The builder's files carry the magic but no class word, and one message that no index lists.
  const std::string says =
      ": not a mailbox, yet it holds 1 orphan\n"
      "  the file class 0x0 is none of a mailbox's\n";
  EXPECT_EQ(checked.out, store + "\\Входящие.dbx" + says + store + "\\收件箱.dbx" + says);
  EXPECT_EQ(checked.err, "");

  const Result exported = Run({"export", "-r", "-o", "out", given}, tmp_.path());
  EXPECT_EQ(exported.status, 0u) << exported.err;
  EXPECT_EQ(Slurp(tmp_.path() / "out" / ToPath(guid) / ToPath("Входящие.dbx-1.eml")), text);
}

}  // namespace
}  // namespace quillon
