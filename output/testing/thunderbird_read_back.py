#!/usr/bin/env python3
"""Thunderbird reads what `quillon export --format mbox --tree` writes, put where README says.

Usage: thunderbird_read_back.py QUILLON MKDBX [--keep DIR]

The store (quillon-mkdbx --store, with a stray copy of the IMAP Inbox that Folders.dbx does not
list) and its export are the ones read_back_test.py --command checks against list --json and the
generator first; a copy of the store without Folders.dbx is exported too. The profile begins as
a user's may: an account but no Local Folders, which Thunderbird makes at its first start, as
README says; then the user's own Inbox is put there. README's own lines for Thunderbird (the
block after its marker) copy each export into a new folder of Local Folders, the second under
another name, and once more over the first, which they must refuse. Thunderbird then starts
headless with Marionette, and a script in its chrome context has it build every folder's
summary, then reads back the folder tree, each message's subject, read / flagged / replied
state and the bytes Thunderbird gives for it; all must agree with the exports' manifests, and
the user's Inbox must be as it was.

Exits 77 (skipped) only when Thunderbird is not installed or does not start; Thunderbird is
killed at the end whatever happens.
"""
import json
import os
import re
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import read_back_test as rb  # noqa: E402

SKIP = 77
START_SECONDS = 60
MANIFEST = "quillon-manifest.jsonl"
# nsMsgMessageFlags
TB_READ, TB_REPLIED, TB_MARKED, TB_HAS_RE, TB_FORWARDED = 0x1, 0x2, 0x4, 0x10, 0x1000
# Folders every profile's Local Folders gets from Thunderbird itself.
TB_OWN_FOLDERS = {("Trash",), ("Unsent Messages",)}

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
RECIPE_MARK = "<!-- Cli.read_back_thunderbird_mbox runs"
# The user's own Inbox in Local Folders, which the recipe must leave as it is.
OWN_INBOX = (b"From alice@example.org Sat Jan  1 10:00:00 2005\n"
             b"From: alice@example.org\nSubject: mine, kept\n\nfirst\n\n"
             b"From bob@example.org Sun Jan  2 10:00:00 2005\n"
             b"From: bob@example.org\nSubject: mine too\n\nsecond\n\n")

# A profile with an IMAP account that never connects, and no Local Folders: Thunderbird makes
# those at its start (when the first-run set-up is not shown, as it is not with an account).
PREFS = """\
user_pref("mail.accountmanager.accounts", "account1");
user_pref("mail.account.account1.server", "server1");
user_pref("mail.server.server1.hostname", "127.0.0.1");
user_pref("mail.server.server1.port", 1);
user_pref("mail.server.server1.type", "imap");
user_pref("mail.server.server1.userName", "nobody");
user_pref("mail.server.server1.login_at_startup", false);
user_pref("mail.server.server1.check_new_mail", false);
user_pref("mail.shell.checkDefaultClient", false);
user_pref("mailnews.start_page.enabled", false);
user_pref("mail.rights.version", 1);
user_pref("app.update.disabledForTesting", true);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("marionette.port", 0);
"""

# Runs in Thunderbird's chrome context: every local folder's summary built from its mbox (as
# when a user first opens it), then its messages as Thunderbird holds them.
READ_FOLDERS = r"""
const done = arguments[arguments.length - 1];
function summary(folder) {
  return new Promise((resolve, reject) => {
    const listener = {
      OnStartRunningUrl() {},
      OnStopRunningUrl(url, status) {
        status == 0 ? resolve() : reject(new Error("parse of " + folder.URI + ": " + status));
      },
      QueryInterface: ChromeUtils.generateQI(["nsIUrlListener"]),
    };
    try {
      folder.QueryInterface(Ci.nsIMsgLocalMailFolder).getDatabaseWithReparse(listener, null);
      resolve();  // the summary was there already
    } catch (e) {
      if (e.result != Cr.NS_ERROR_NOT_INITIALIZED) reject(e);
    }
  });
}
function bytesOf(folder, hdr) {
  const input = Cc["@mozilla.org/binaryinputstream;1"].createInstance(Ci.nsIBinaryInputStream);
  input.setInputStream(folder.getMsgInputStream(hdr));
  let s = "";
  for (let n; (n = input.available()) > 0;) s += input.readBytes(n);
  input.close();
  return s;
}
(async () => {
  const root = MailServices.accounts.localFoldersServer.rootFolder;
  const folders = [];
  for (const folder of root.descendants) {
    await summary(folder);
    const path = [];
    for (let f = folder; f && !f.isServer; f = f.parent) path.unshift(f.name);
    const messages = [];
    for (const hdr of folder.messages) {
      messages.push({subject: hdr.mime2DecodedSubject, flags: hdr.flags,
                     bytes: bytesOf(folder, hdr)});
    }
    folders.push({path, total: folder.getTotalMessages(false),
                  unread: folder.getNumUnread(false), messages});
  }
  done(folders);
})().catch(e => done({error: String(e), stack: e.stack}));
"""


# Waits for Local Folders, which Thunderbird makes as it starts, and saves the preferences that
# name it; gives its directory.
LOCAL_FOLDERS = r"""
const done = arguments[arguments.length - 1];
(async () => {
  for (let tries = 0; tries < 300; tries++) {
    try {
      const path = MailServices.accounts.localFoldersServer.localPath.path;
      Services.prefs.savePrefFile(null);
      done(path);
      return;
    } catch (e) {}
    await new Promise(resolve => setTimeout(resolve, 100));
  }
  done({error: "no Local Folders after 30 s"});
})();
"""


class Marionette:
    """Marionette's protocol: JSON texts, each sent as "LENGTH:TEXT" over TCP."""

    def __init__(self, port, timeout):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buf = b""
        self.last_id = 0
        hello = self.receive()
        rb.check(hello.get("marionetteProtocol") == 3, "Marionette's greeting %r" % hello)

    def receive(self):
        while b":" not in self.buf:
            self.read_more()
        length, _, self.buf = self.buf.partition(b":")
        while len(self.buf) < int(length):
            self.read_more()
        text, self.buf = self.buf[:int(length)], self.buf[int(length):]
        return json.loads(text)

    def read_more(self):
        data = self.sock.recv(1 << 16)
        rb.check(data, "Thunderbird closed the Marionette connection")
        self.buf += data

    def command(self, name, params=None):
        self.last_id += 1
        text = json.dumps([0, self.last_id, name, params or {}]).encode()
        self.sock.sendall(b"%d:%s" % (len(text), text))
        while True:
            reply = self.receive()
            if reply[0] == 1 and reply[1] == self.last_id:
                rb.check(reply[2] is None, "Marionette %s: %r" % (name, reply[2]))
                return reply[3]


class Thunderbird:
    """A headless Thunderbird over a profile, in a process group of its own that is killed on
    exit, and also when this script dies first (the parent-death signal)."""

    def __init__(self, program, profile):
        self.profile = profile
        self.log = open(os.path.join(profile, "..", "thunderbird.log"), "wb")
        port_file = os.path.join(profile, "MarionetteActivePort")
        if os.path.exists(port_file):  # left by a Thunderbird killed before
            os.remove(port_file)

        def die_with_parent():
            os.setsid()
            import ctypes
            ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
        self.process = subprocess.Popen(
            [program, "--headless", "--marionette", "-remote-allow-system-access", "--no-remote",
             "-profile", profile], stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent, env=dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1"))
        deadline = time.time() + START_SECONDS
        port = None
        while port is None:
            if self.process.poll() is not None:
                self.fail_to_start("exited with status %d" % self.process.returncode)
            if time.time() > deadline:
                self.fail_to_start("opened no Marionette port in %d s" % START_SECONDS)
            if os.path.exists(port_file):
                text = open(port_file).read().strip()
                port = int(text) if text.isdigit() else None
            time.sleep(0.1)
        self.client = Marionette(port, timeout=120)
        self.session = self.client.command("WebDriver:NewSession", {})
        self.client.command("Marionette:SetContext", {"value": "chrome"})
        self.client.command("WebDriver:SetTimeouts", {"script": 110000})

    def fail_to_start(self, why):
        self.kill()
        tail = open(self.log.name, "rb").read()[-2000:].decode("utf-8", "replace")
        rb.skip("Thunderbird could not start (%s):\n%s" % (why, tail))

    def run(self, script):
        return self.client.command("WebDriver:ExecuteAsyncScript", {"script": script, "args": []})

    def kill(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.process.wait()
        self.log.close()


def recipe():
    """README's lines for Thunderbird: the indented block after its marker, as they are."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    rb.check(RECIPE_MARK in text, "README has no block marked for this test")
    lines = []
    for line in text.split(RECIPE_MARK, 1)[1].split("\n")[1:]:
        if line.startswith("    "):
            lines.append(line[4:])
        elif lines and line.strip():
            break
    rb.check(lines and lines[0].startswith("L=") and lines[1].startswith("N="),
             "README's Thunderbird lines begin with L= and N=: %r" % lines)
    return lines


def run_recipe(lines, cwd, local, name):
    """Runs README's lines in `cwd` (which holds tb) with L and N set; returns the exit status."""
    script = ["L=" + shlex.quote(local), "N=" + shlex.quote(name)] + lines[2:]
    return subprocess.run(["bash", "-c", "\n".join(script)], cwd=cwd).returncode


def places_of(tree, name):
    """Each mbox file of an export, by its path in it: the folder Thunderbird shows it as, under
    Local Folders > `name`."""
    places = {}
    for dirpath, _, filenames in os.walk(tree):
        for file in filenames:
            path = os.path.relpath(os.path.join(dirpath, file), tree)
            if path != MANIFEST:
                places[path] = (name,) + tuple(re.sub(r"\.sbd$", "", p) for p in path.split("/"))
    return places


def snapshot(folder):
    """Every file below `folder` with its bytes."""
    files = {}
    for dirpath, _, filenames in os.walk(folder):
        for file in filenames:
            with open(os.path.join(dirpath, file), "rb") as f:
                files[os.path.relpath(os.path.join(dirpath, file), folder)] = f.read()
    return files


def without_status(data):
    """A message as Thunderbird gives it (it takes the From line and one '>' of each quoted
    From line away itself) without the Status:/X-Status: lines ending its header block."""
    head_end = re.search(rb"\n\r?\n", data)
    head, rest = (data[:head_end.start() + 1], data[head_end.start() + 1:]) if head_end \
        else (data, b"")
    lines = head.splitlines(keepends=True)
    while lines and re.match(rb"(X-)?Status: [A-Z]*\r?\n", lines[-1]):
        lines.pop()
    return b"".join(lines) + rest


def raw_subject_is_ascii(original):
    m = re.search(rb"(?mi)^Subject:(.*(?:\r?\n[ \t].*)*)", original.split(b"\r\n\r\n")[0])
    return m is None or all(b < 0x80 for b in m.group(1))


def main():
    if len(sys.argv) not in (3, 5):
        print(__doc__)
        return 64
    program = shutil.which("thunderbird")
    if not program:
        rb.skip("thunderbird is not installed (Debian thunderbird; scripts/ensure-packages.sh)")
    root = tempfile.mkdtemp(prefix="quillon-thunderbird-")
    began = time.time()
    thunderbird = None
    try:
        sample = rb.CommandSample(sys.argv[1], sys.argv[2], "mbox", root)
        by_digest = {e["sha256"]: e["original"] for e in sample.files}

        def export(name, change):
            """The sample's store, changed, exported as README says into NAME/tb."""
            shutil.copytree(sample.store, os.path.join(root, name, "store"))
            change(os.path.join(root, name, "store"))
            tree = os.path.join(root, name, "tb")
            subprocess.run([sys.argv[1], "export", "-q", "--format", "mbox", "--tree", "-o",
                            tree, os.path.join(root, name, "store")], check=True)
            folders = {}
            for entry in rb.CommandSample.manifest(tree):
                rb.check(entry["sha256"] in by_digest, "a message the sample's export lacks")
                entry["original"] = by_digest[entry["sha256"]]
                folders.setdefault(entry["path"], []).append(entry)
            return folders
        # A stray copy of the IMAP account's Inbox, which calls itself "Inbox" too; and the
        # store without Folders.dbx.
        stray = export("stray", lambda store: shutil.copyfile(
            os.path.join(store, "Inbox1.dbx"), os.path.join(store, "Old Archive.dbx")))
        bare_folders = export("bare", lambda store: os.remove(os.path.join(store, "Folders.dbx")))
        exported = time.time()

        profile = os.path.join(root, "profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "prefs.js"), "w") as f:
            f.write(PREFS)
        thunderbird = Thunderbird(program, profile)
        local = thunderbird.run(LOCAL_FOLDERS).get("value")
        rb.check(isinstance(local, str), "Thunderbird made no Local Folders: %r" % local)
        thunderbird.kill()
        thunderbird = None
        with open(os.path.join(local, "Inbox"), "wb") as f:
            f.write(OWN_INBOX)

        # README's lines, as written, in the folder that holds tb.
        lines = recipe()
        stray_dir, bare_dir = os.path.join(root, "stray"), os.path.join(root, "bare")
        rb.check(run_recipe(lines, stray_dir, local, "Outlook Express") == 0,
                 "README's lines failed")
        before = snapshot(local)
        rb.check(run_recipe(lines, bare_dir, local, "Outlook Express") != 0,
                 "README's lines ran over a folder of the same name")
        rb.check(snapshot(local) == before, "README's lines, refused, changed Local Folders")
        rb.check(run_recipe(lines, bare_dir, local, "Outlook Express 2") == 0,
                 "README's lines failed for the store without Folders.dbx")
        places = places_of(os.path.join(stray_dir, "tb"), "Outlook Express")
        bare_places = places_of(os.path.join(bare_dir, "tb"), "Outlook Express 2")
        # The stray copy apart; the account's Inbox, listed, in its place.
        rb.check(places.get("Unlisted files.sbd/Old Archive") ==
                 ("Outlook Express", "Unlisted files", "Old Archive"),
                 "the stray copy is not under Unlisted files: %r" % sorted(places))

        thunderbird = Thunderbird(program, profile)
        started = time.time()
        result = thunderbird.run(READ_FOLDERS).get("value")
        rb.check(isinstance(result, list), "Thunderbird's script: %.2000r" % result)
        read = time.time()
        version = thunderbird.session["capabilities"]["browserVersion"]
        shown = {tuple(f["path"]): f for f in result}

        # The user's Inbox: as it was, and Thunderbird still shows its two messages.
        with open(os.path.join(local, "Inbox"), "rb") as f:
            rb.check(f.read() == OWN_INBOX, "the user's Inbox changed")
        own = shown.get(("Inbox",), {})
        rb.check(own.get("total") == 2 and
                 [m["subject"] for m in own.get("messages", [])] == ["mine, kept", "mine too"],
                 "Thunderbird shows the user's Inbox as %.500r" % own)
        expected = [(places, stray), (bare_places, bare_folders)]
        own_folders = TB_OWN_FOLDERS | {("Inbox",), ("Outlook Express",), ("Outlook Express 2",)}
        wanted = set(places.values()) | set(bare_places.values())
        rb.check(set(shown) - own_folders == wanted,
                 "Thunderbird shows the folders %r, not %r"
                 % (sorted(set(shown) - own_folders), sorted(wanted)))
        stats = dict(messages=0, read=0, answered=0, flagged=0, eight_bit_subjects=0,
                     eight_bit_same=0, from_lines=0, quoted_from_lines=0)
        for folder_places, folders in expected:
            for path, place in sorted(folder_places.items()):
                folder, entries = shown[place], folders.get(path, [])
                messages = folder["messages"]
                where = "/".join(place)
                rb.check(folder["total"] == len(entries) == len(messages),
                         "Thunderbird counts %d (%d listed) messages in %r, not %d"
                         % (folder["total"], len(messages), where, len(entries)))
                unread = sum(1 for e in entries if "read" not in e["flags"])
                rb.check(folder["unread"] == unread, "Thunderbird counts %d unread in %r, not %d"
                         % (folder["unread"], where, unread))
                for message, entry in zip(messages, entries):
                    what = "%r in %r" % (entry["subject"], where)
                    subject = message["subject"]
                    if message["flags"] & TB_HAS_RE:  # kept apart from the subject
                        subject = "Re: " + subject
                    if raw_subject_is_ascii(entry["original"]):
                        rb.check(subject == entry["subject"], "Thunderbird's subject %r of %s"
                                 % (subject, what))
                    else:  # no charset named: Thunderbird guesses one
                        stats["eight_bit_subjects"] += 1
                        stats["eight_bit_same"] += subject == entry["subject"]
                    flags = message["flags"]
                    rb.check(bool(flags & TB_READ) == ("read" in entry["flags"]),
                             "Thunderbird's read state of %s: flags %#x" % (what, flags))
                    # Thunderbird reads Status: but not X-Status:, so answered, flagged and
                    # forwarded do not reach it (README says so).
                    rb.check(not flags & (TB_REPLIED | TB_MARKED | TB_FORWARDED),
                             "Thunderbird shows flags %#x for %s: update README" % (flags, what))
                    data = message["bytes"].encode("latin-1")
                    rb.check(without_status(data) == rb.mbox_form(entry["original"]),
                             "Thunderbird's bytes of %s" % what)
                    stats["messages"] += 1
                    stats["read"] += "read" in entry["flags"]
                    stats["answered"] += "answered" in entry["flags"]
                    stats["flagged"] += "flagged" in entry["flags"]
                    stats["from_lines"] += len(re.findall(rb"(?m)^From ", entry["original"]))
                    stats["quoted_from_lines"] += len(re.findall(rb"(?m)^>+From ",
                                                                 entry["original"]))
        rb.check(stats["from_lines"] and stats["quoted_from_lines"] and
                 stats["eight_bit_subjects"] and stats["answered"] and stats["flagged"],
                 "the store lacks a case this test is for: %r" % stats)
        print("Thunderbird %s read %d messages in %d folders (%d read; %d answered and %d "
              "flagged shown without the mark; %d body lines \"From \" and %d \">From \" came "
              "back; %d of %d subjects in 8-bit text without a charset shown as Outlook Express "
              "showed them)"
              % (version, stats["messages"], len(places) + len(bare_places), stats["read"],
                 stats["answered"],
                 stats["flagged"], stats["from_lines"], stats["quoted_from_lines"],
                 stats["eight_bit_same"], stats["eight_bit_subjects"]))
        print("seconds: export and checks %.1f, Thunderbird's start %.1f, its reading %.1f"
              % (exported - began, started - exported, read - started))
    finally:
        if thunderbird:
            thunderbird.kill()
        try:
            if len(sys.argv) == 5 and sys.argv[3] == "--keep":
                shutil.copytree(root, sys.argv[4], symlinks=True, dirs_exist_ok=True)
        finally:
            shutil.rmtree(root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
