#!/usr/bin/env python3
"""Reads a sample tree that the output library wrote back with a real mail program.

Usage: read_back_test.py SAMPLE_PROGRAM FORMAT READER
       read_back_test.py --command QUILLON MKDBX FORMAT READER
  FORMAT  mbox or maildir
  READER  python (the mailbox module), dovecot (doveadm) or mutt (in a tmux terminal)

The sample program (quillon-output-sample) writes the tree, its manifest and the original
messages; each reader must find every folder of the manifest, the messages of each in order,
their flags and subjects, and (python, dovecot) each message's bytes. Exits 77 (skipped) when
the reader is not installed or, for Dovecot, no user other than root can run it.

With --command the tree is what `quillon export --format FORMAT --tree` writes of a store the
generator (quillon-mkdbx --store) made (FORMAT "mbox:flat", "maildir:flat": without --tree), the originals are its eml export, and before any
reader runs the export's manifest must agree with `quillon list --json` and with the
generator's manifest (every live message, its folder, flags, dates and texts), and every file
must carry its message's time.
"""
import base64
import calendar
import collections
import email
import email.header
import hashlib
import json
import mailbox
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
FLAG_LETTERS = {  # manifest flag -> (Maildir letter, IMAP flag)
    "draft": ("D", "\\Draft"),
    "flagged": ("F", "\\Flagged"),
    "forwarded": ("P", None),
    "answered": ("R", "\\Answered"),
    "read": ("S", "\\Seen"),
}


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def check(condition, what):
    if not condition:
        print("FAILED: " + what)
        sys.exit(1)


def imap_utf7_decode(name):
    """IMAP's modified UTF-7 (RFC 3501 5.1.3) to text."""
    out, i = [], 0
    while i < len(name):
        if name[i] != "&":
            out.append(name[i])
            i += 1
            continue
        end = name.index("-", i)
        chunk = name[i + 1:end]
        if not chunk:
            out.append("&")
        else:
            b64 = chunk.replace(",", "/")
            out.append(base64.b64decode(b64 + "=" * (-len(b64) % 4)).decode("utf-16-be"))
        i = end + 1
    return "".join(out)


def header_text(msg, name):
    """A header of a message parsed by Python's email package, as text: RFC 2047 words decoded,
    8-bit bytes in the charset the message's parts declare. None when they cannot be decoded."""
    raw = msg[name]
    if raw is None:
        return ""
    if isinstance(raw, str):
        try:
            raw.encode("ascii")
            return str(email.header.make_header(email.header.decode_header(raw)))
        except UnicodeEncodeError:
            data = raw.encode("ascii", "surrogateescape")
    else:  # 8-bit bytes the parser could not name a charset for
        data = b"".join(d if isinstance(d, bytes) else d.encode("ascii", "surrogateescape")
                        for d, _ in email.header.decode_header(raw))
    charsets = [c for c in msg.get_charsets() if c] or ["windows-1252"]
    try:
        return data.decode(charsets[0])
    except (LookupError, UnicodeDecodeError):
        return None


def address_of(person):
    """"Name <a@b>" -> "a@b"."""
    m = re.search(r"<([^>]*)>", person)
    return m.group(1) if m else person


class Sample:
    """The tree as written: the manifest's files grouped by folder, in order."""

    def __init__(self, program, fmt, root):
        self.fmt = fmt
        self.dir = os.path.join(root, "out")
        self.originals = os.path.join(root, "originals")
        subprocess.run([program, fmt, self.dir, self.originals], check=True)
        with open(os.path.join(self.dir, "quillon-manifest.jsonl"), encoding="utf-8") as f:
            self.files = [json.loads(line) for line in f if '"path"' in line]
        check(len(self.files) == 10, "the manifest lists 10 files, not %d" % len(self.files))
        self.folders = collections.OrderedDict()
        for n, entry in enumerate(self.files, 1):
            entry["original"] = open(os.path.join(self.originals, "%d.eml" % n), "rb").read()
            check(hashlib.sha256(entry["original"]).hexdigest() == entry["sha256"],
                  "the manifest's digest of message %d" % n)
            self.folders.setdefault(self.folder_of(entry["path"]), []).append(entry)

    def folder_of(self, path):
        # maildir: the Maildir ("" is INBOX); mbox: the file.
        if self.fmt == "maildir":
            return os.path.dirname(os.path.dirname(path))
        return path

    def mailbox_name(self, folder):
        """The name an IMAP server shows for a folder of the tree."""
        if self.fmt == "maildir":
            return "INBOX" if folder == "" else imap_utf7_decode(folder[1:])
        return "INBOX" if folder == "Inbox" else folder

    def empty_folder(self):
        return ".Local Folders.Empty" if self.fmt == "maildir" else "Local Folders.sbd/Empty"

    def sender(self, entry):
        return "ann@example.org"


def iso_seconds(text):
    return calendar.timegm(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ"))


class CommandSample(Sample):
    """The tree `quillon export --tree` writes of a generated store, checked against the
    generator's manifest and `quillon list --json` first."""

    def __init__(self, quillon, mkdbx, fmt, root):
        # "mbox:flat": without --tree, each mailbox a file (or Maildir) of its own at the top.
        self.fmt, _, layout = fmt.partition(":")
        self.tree = layout != "flat"
        fmt = self.fmt
        store = os.path.join(root, "store")
        truth_path = os.path.join(root, "store.jsonl")
        subprocess.run([mkdbx, "--store", store, "--seed", "11", "--messages", "160",
                        "--manifest", truth_path], check=True, stdout=subprocess.DEVNULL)
        self.store = store
        self.dir = os.path.join(root, "out")
        originals = os.path.join(root, "originals")
        for out, form, tree in ((self.dir, fmt, self.tree), (originals, "eml", True)):
            result = subprocess.run([quillon, "export", "-q", "--format", form, "-o", out, store]
                                    + (["--tree"] if tree else []), stderr=subprocess.PIPE)
            check(result.returncode == 0, "quillon export --format %s: exit %d, %s"
                  % (form, result.returncode, result.stderr.decode()))
        self.files = self.manifest(self.dir)
        by_digest = {e["sha256"]: open(os.path.join(originals, e["path"]), "rb").read()
                     for e in self.manifest(originals)}
        self.folders = collections.OrderedDict()
        for entry in self.files:
            entry["original"] = by_digest[entry["sha256"]]
            check(hashlib.sha256(entry["original"]).hexdigest() == entry["sha256"],
                  "the manifest's digest of " + entry["path"])
            self.folders.setdefault(self.folder_of(entry["path"]), []).append(entry)

        # list --json gives each file's line but its path, and the headers-only messages.
        listed = subprocess.run([quillon, "list", "--json", store], check=True,
                                stdout=subprocess.PIPE).stdout.decode("utf-8")
        listed = [json.loads(line) for line in listed.splitlines()]
        key = lambda e: json.dumps({k: v for k, v in e.items() if k not in ("path", "original")},
                                   sort_keys=True)
        written = sorted(key(e) for e in self.files)
        check(written == sorted(key(e) for e in listed if e["status"] != "headers-only"),
              "the manifest's files and list --json's messages differ")

        # The generator's truth: every live message written once, its facts as the index says.
        with open(truth_path, encoding="utf-8") as f:
            truth = [json.loads(line) for line in f]
        by_sha = collections.defaultdict(list)
        for entry in self.files:
            by_sha[entry["sha256"]].append(entry)
        live = [t for t in truth if t.get("type") == "message" and t["status"] == "live"]
        folded = ["/".join(t["folder_path"]).lower() for t in truth
                  if t.get("type") == "folder" and t["folder_path"]]
        places = collections.defaultdict(set)
        for t in live:
            got = [e for e in by_sha[t["sha256"]] if e["index_id"] == t["index_id"]
                   and e["mailbox"] == os.path.join(store, t["file"])]
            check(len(got) == 1, "message %s of %s written once" % (t["index_id"], t["file"]))
            e = got[0]
            path = t["folder_path"] or [t["folder"]]
            want = dict(status="live", folder=path[-1], flags=sorted(t["flags"]),
                        subject=t["subject"], **{"from": t["from"]}, to=t["to"],
                        message_id=t["message_id"], sent=t["sent"],
                        received=t["received"] or t["sent"], size=t["size"],
                        first_block=t["first_block"], blocks=t["blocks"])
            have = {k: (sorted(e[k]) if k == "flags" else e[k]) for k in want}
            check(have == want, "the facts of %s: %r, not %r" % (e["path"], have, want))
            if fmt == "maildir":
                # Names that need no mending, and no sibling of the same name in another case.
                plain = all(re.match(r"^[\w ]+$", n) and
                            not re.match(r"^(con|prn|aux|nul|com\d|lpt\d)$", n, re.I)
                            for n in path)
                if self.tree and plain and folded.count("/".join(path).lower()) == 1:
                    check(self.folder_of(e["path"]) == self.maildir_name(path),
                          "%s in the Maildir of %r" % (e["path"], path))
                places[tuple(path)].add(self.folder_of(e["path"]))
                when = e["received"] or e["sent"]
                if when:
                    check(int(os.stat(os.path.join(self.dir, e["path"])).st_mtime)
                          == iso_seconds(when), "the time of " + e["path"])
        # Each folder in one place, no two in the same.
        check(all(len(p) == 1 for p in places.values()) and
              len(set.union(set(), *places.values())) == len(places), "one place per folder")
        headers_only = [t for t in truth if t.get("type") == "message"
                        and t["status"] == "headers-only"]
        check(sorted((t["index_id"], t["subject"]) for t in headers_only) ==
              sorted((e["index_id"], e["subject"]) for e in listed
                     if e["status"] == "headers-only"), "list --json's headers-only messages")
        check(len(self.files) == len(live), "%d files for %d live messages"
              % (len(self.files), len(live)))
        print("the manifest agrees with list --json and the generator on %d messages"
              % len(live))

    @staticmethod
    def manifest(folder):
        with open(os.path.join(folder, "quillon-manifest.jsonl"), encoding="utf-8") as f:
            return [json.loads(line) for line in f if '"path"' in line]

    @staticmethod
    def maildir_name(path):
        """The Maildir++ folder of a folder path (names without '.', '/' or odd bytes)."""
        return "." + ".".join(imap_utf7_encode(n.replace(".", "_")) for n in path)

    def empty_folder(self):
        if not self.tree:
            return ".Outbox" if self.fmt == "maildir" else "Outbox"
        return ".Local Folders.Outbox" if self.fmt == "maildir" else "Local Folders.sbd/Outbox"

    def sender(self, entry):
        return address_of(entry["from"])


def imap_utf7_encode(name):
    out, run = [], ""

    def flush():
        if run:
            b64 = base64.b64encode(run.encode("utf-16-be")).decode().rstrip("=")
            out.append("&" + b64.replace("/", ",") + "-")
    for ch in name:
        if 0x20 <= ord(ch) <= 0x7E:
            flush()
            run = ""
            out.append("&-" if ch == "&" else ch)
        else:
            run += ch
    flush()
    return "".join(out)


def mbox_message_back(data):
    """An mbox reader's bytes of a message without what the mbox added: one '>' of each quoted
    From line, and the Status:/X-Status: lines at the end of the header block."""
    data = re.sub(rb"(?m)^>(>*From )", rb"\1", data)
    head_end = re.search(rb"\n\r?\n", data)
    head, rest = (data[:head_end.start() + 1], data[head_end.start() + 1:]) if head_end else (data, b"")
    lines = head.splitlines(keepends=True)
    while lines and re.match(rb"(X-)?Status: [A-Z]*\r?\n", lines[-1]):
        lines.pop()
    return b"".join(lines) + rest


def mbox_form(original):
    """The message as an mbox holds it after unquoting: with a final line end."""
    if original.endswith(b"\n"):
        return original
    return original + (b"\r\n" if b"\r\n" in original else b"\n")


def read_with_python(sample):
    if sample.fmt == "maildir":
        root = mailbox.Maildir(sample.dir, factory=None, create=False)
        names = set(root.list_folders())
        for folder, entries in sample.folders.items():
            box = root if folder == "" else root.get_folder(folder[1:])
            check(folder == "" or folder[1:] in names, "Maildir++ folder %r listed" % folder)
            messages = sorted(box.iteritems(), key=lambda kv: kv[0])
            check(len(messages) == len(entries), "%r holds %d messages" % (folder, len(entries)))
            by_digest = {hashlib.sha256(box.get_bytes(key)).hexdigest(): msg
                         for key, msg in messages}
            for entry in entries:
                msg = by_digest.get(entry["sha256"])
                check(msg is not None, "the bytes of %s in %r" % (entry["subject"], folder))
                want = "".join(sorted(FLAG_LETTERS[f][0] for f in entry["flags"] if f in FLAG_LETTERS))
                check(msg.get_flags() == want,
                      "%s flags %r, not %r" % (entry["subject"], msg.get_flags(), want))
                subject = header_text(msg, "subject")
                check(subject in (None, entry["subject"]), "subject of " + entry["subject"])
        check(sample.empty_folder()[1:] in names, "the empty folder is listed")
    else:
        for folder, entries in sample.folders.items():
            box = mailbox.mbox(os.path.join(sample.dir, folder), create=False)
            keys = list(box.keys())
            check(len(keys) == len(entries), "%r holds %d messages, not %d"
                  % (folder, len(entries), len(keys)))
            for key, entry in zip(keys, entries):
                msg = box[key]
                back = mbox_message_back(box.get_bytes(key))
                check(back == mbox_form(entry["original"]),
                      "the bytes of %s in %r" % (entry["subject"], folder))
                if entry["original"].startswith(b"From "):
                    # Quoted to ">From ...", the first line is no header to Python's email
                    # parser, which then sees no headers at all (Dovecot and mutt do).
                    continue
                flags = set(msg.get_flags())
                want = {"R"} if "read" in entry["flags"] else set()
                want |= {"A"} if "answered" in entry["flags"] else set()
                want |= {"F"} if "flagged" in entry["flags"] else set()
                # "D" would be deleted to every reader: a draft is "T".
                check(want <= flags and ("R" in flags) == ("read" in entry["flags"]) and
                      "D" not in flags,
                      "%s flags %r for %r" % (entry["subject"], flags, entry["flags"]))
                subject = header_text(msg, "subject")
                check(subject in (None, entry["subject"]), "subject of " + entry["subject"])
                check(msg.get_from().startswith(sample.sender(entry) + " "), "From line of "
                      + entry["subject"])
        check(os.path.getsize(os.path.join(sample.dir, sample.empty_folder())) == 0,
              "the empty folder's mbox is empty")


def reader_user():
    """(name, uid, gid) of the user to run doveadm as: ourselves unless root, who gets a test
    user made for it."""
    if os.geteuid() != 0:
        entry = pwd.getpwuid(os.geteuid())
        return entry.pw_name, entry.pw_uid, entry.pw_gid
    name = "quillon-test"
    try:
        entry = pwd.getpwnam(name)
    except KeyError:
        if subprocess.run(["useradd", "--system", "--no-create-home", "--shell",
                           "/usr/sbin/nologin", name]).returncode != 0:
            skip("running as root and no test user could be made for doveadm")
        entry = pwd.getpwnam(name)
    return name, entry.pw_uid, entry.pw_gid


def read_with_dovecot(sample, root):
    doveadm = shutil.which("doveadm") or "/usr/bin/doveadm"
    if not os.path.exists(doveadm):
        skip("doveadm is not installed (Debian dovecot-core)")
    user, uid, gid = reader_user()
    # A copy, so Dovecot's own files and rewrites stay out of the tree under test.
    copy = os.path.join(root, "dovecot")
    shutil.copytree(sample.dir, copy)
    os.remove(os.path.join(copy, "quillon-manifest.jsonl"))
    for dirpath, dirnames, filenames in os.walk(root):
        os.chown(dirpath, uid, gid)
        for name in filenames:
            os.chown(os.path.join(dirpath, name), uid, gid)
    if sample.fmt == "maildir":
        location = "maildir:%s:INDEX=MEMORY" % copy
    else:
        # Thunderbird's layout names files in UTF-8, where Dovecot's own uses modified UTF-7.
        location = "mbox:%s:INBOX=%s/Inbox:INDEX=MEMORY:UTF-8" % (copy, copy)
    conf = os.path.join(root, "dovecot.conf")
    with open(conf, "w") as f:
        f.write("""mail_location = %s
mail_uid = %d
mail_gid = %d
passdb {
  driver = static
  args = password=unused
}
userdb {
  driver = static
  args = uid=%d gid=%d home=%s
}
ssl = no
log_path = /dev/stderr
base_dir = %s/run
state_dir = %s/state
""" % (location, uid, gid, uid, gid, root, root, root))
    os.chmod(conf, 0o644)

    def doveadm_run(*args):
        command = [doveadm, "-c", conf] + list(args)
        env = dict(os.environ, USER=user, HOME=root)
        demote = None
        if os.geteuid() == 0:
            def demote():
                os.setgid(gid)
                os.setuid(uid)
        result = subprocess.run(command, env=env, preexec_fn=demote, cwd=root,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check(result.returncode == 0, "doveadm %s: %s" % (" ".join(args), result.stderr.decode()))
        return result.stdout.decode("utf-8")

    status = {}
    for line in doveadm_run("mailbox", "status", "messages unseen", "*").splitlines():
        m = re.match(r"^(.*) messages=(\d+) unseen=(\d+)$", line)
        check(m is not None, "doveadm status line %r" % line)
        status[m.group(1)] = (int(m.group(2)), int(m.group(3)))
    for folder, entries in sample.folders.items():
        name = sample.mailbox_name(folder)
        unseen = sum(1 for e in entries if "read" not in e["flags"])
        check(status.get(name) == (len(entries), unseen),
              "Dovecot shows %r as %r, not %d messages, %d unseen"
              % (name, status.get(name), len(entries), unseen))
    check(status.get(sample.mailbox_name(sample.empty_folder())) == (0, 0),
          "Dovecot shows the empty folder")

    fetched = json.loads(doveadm_run("-f", "json", "fetch", "mailbox flags hdr.subject.utf8 text",
                                     "ALL"))
    by_mailbox = collections.defaultdict(list)
    for record in fetched:
        by_mailbox[record["mailbox"]].append(record)
    for folder, entries in sample.folders.items():
        records = by_mailbox[sample.mailbox_name(folder)]
        check(len(records) == len(entries), "Dovecot fetched %d of %r" % (len(records), folder))
        for record, entry in zip(records, entries):
            # A header in 8-bit bytes (no charset named) shows as U+FFFD; its bytes are checked.
            subject = record["hdr.subject.utf8"]
            check(subject == entry["subject"] or "\ufffd" in subject, "Dovecot's subject of "
                  + entry["subject"])
            flags = set(record["flags"].split()) - {"\\Recent"}
            # Forwarded ('P') has no IMAP flag: Dovecot keeps it in the file name only.
            want = {FLAG_LETTERS[f][1] for f in entry["flags"] if FLAG_LETTERS.get(f, (0, 0))[1]}
            check(flags == want, "Dovecot's flags of %s: %r, not %r"
                  % (entry["subject"], flags, want))
            text = record["text"].encode("utf-8")
            try:
                entry["original"].decode("utf-8")
            except UnicodeDecodeError:
                continue  # doveadm's JSON gives 8-bit text as U+FFFD; Python checks its bytes
            if sample.fmt == "maildir":
                check(text == entry["original"], "Dovecot's bytes of " + entry["subject"])
            else:
                # Dovecot hides the Status: lines, keeps the quoting, and gives header lines
                # its own line ends.
                def normal(b):
                    return b.replace(b"\r\n", b"\n")
                back = normal(re.sub(rb"(?m)^>(>*From )", rb"\1", text))
                check(back == normal(mbox_form(entry["original"])),
                      "Dovecot's bytes of " + entry["subject"])


def read_with_mutt(sample, root):
    for tool in ("mutt", "tmux"):
        if not shutil.which(tool):
            skip("%s is not installed" % tool)
    rc = os.path.join(root, "muttrc")
    with open(rc, "w") as f:
        f.write('set status_format="STATUS[%%m,%%u,%%F]"\n'
                'set index_format="IDX[%%s]"\n'
                "set sort=mailbox-order\nset help=no\nset header_cache=\"\"\n"
                "set mbox_type=mbox\nset check_new=no\nset folder=\"%s\"\n" % root)
    env = dict(os.environ, HOME=root, TERM="xterm", LC_ALL="C.UTF-8")
    sockets = []
    try:
        for folder, entries in sample.folders.items():
            path = os.path.join(sample.dir, folder)
            # A tmux server of its own for each folder: the last session's server shuts down
            # after kill-session, and a new session on its socket can meet it still going
            # ("server exited unexpectedly").
            socket = "quillon-test-%d-%d" % (os.getpid(), len(sockets))
            sockets.append(socket)
            subprocess.run(["tmux", "-L", socket, "new-session", "-d", "-x", "200", "-y", "50",
                            "-s", "m", "mutt -n -R -F '%s' -f '%s'" % (rc, path)],
                           env=env, check=True)
            # mutt draws the index and the status line in steps: take a screen that shows both
            # and stays the same over two looks, so a half-drawn one is never read.
            screen, last, deadline = "", None, time.time() + 60
            while time.time() < deadline:
                screen = subprocess.run(["tmux", "-L", socket, "capture-pane", "-p", "-t", "m"],
                                        env=env, stdout=subprocess.PIPE).stdout.decode("utf-8")
                if "STATUS[" in screen and screen.count("IDX[") >= len(entries):
                    if screen == last:
                        break
                    last = screen
                time.sleep(0.2)
            subprocess.run(["tmux", "-L", socket, "kill-session", "-t", "m"], env=env)
            m = re.search(r"STATUS\[(\d+),(\d+),(\d+)\]", screen)
            check(m is not None, "mutt opened %r:\n%s" % (folder, screen))
            unread = sum(1 for e in entries if "read" not in e["flags"])
            flagged = sum(1 for e in entries if "flagged" in e["flags"])
            check((int(m.group(1)), int(m.group(2)), int(m.group(3))) ==
                  (len(entries), unread, flagged),
                  "mutt counts %r in %r, not %d messages, %d unread, %d flagged"
                  % (m.groups(), folder, len(entries), unread, flagged))
            subjects = re.findall(r"IDX\[([^]]*)\]", screen)
            want = [e["subject"] for e in entries]
            if sample.fmt == "maildir":
                # A Maildir has no order of its own: mutt lists it as the directory gives it.
                subjects, want = sorted(subjects), sorted(want)
            check(subjects == want, "mutt's subjects in %r: %r" % (folder, subjects))
    finally:
        for socket in sockets:
            subprocess.run(["tmux", "-L", socket, "kill-server"], env=env,
                           stderr=subprocess.DEVNULL)


def main():
    command = len(sys.argv) == 6 and sys.argv[1] == "--command"
    if len(sys.argv) != 4 and not command:
        print(__doc__)
        return 64
    program, fmt, reader = sys.argv[-3:] if not command else (None,) + tuple(sys.argv[4:])
    root = tempfile.mkdtemp(prefix="quillon-read-back-")
    os.chmod(root, 0o755)
    try:
        if command:
            sample = CommandSample(sys.argv[2], sys.argv[3], fmt, root)
        else:
            sample = Sample(program, fmt, root)
        {"python": lambda: read_with_python(sample),
         "dovecot": lambda: read_with_dovecot(sample, root),
         "mutt": lambda: read_with_mutt(sample, root)}[reader]()
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print("%s read back %d messages in %d folders of the %s tree"
          % (reader, len(sample.files), len(sample.folders), fmt))
    return 0


if __name__ == "__main__":
    sys.exit(main())
