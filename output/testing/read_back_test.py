#!/usr/bin/env python3
"""Reads a sample tree that the output library wrote back with a real mail program.

Usage: read_back_test.py SAMPLE_PROGRAM FORMAT READER
  FORMAT  mbox or maildir
  READER  python (the mailbox module), dovecot (doveadm) or mutt (in a tmux terminal)

The sample program (quillon-output-sample) writes the tree, its manifest and the original
messages; each reader must find every folder of the manifest, the messages of each in order,
their flags and subjects, and (python, dovecot) each message's bytes. Exits 77 (skipped) when
the reader is not installed or, for Dovecot, no user other than root can run it.
"""
import base64
import collections
import email
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
                check(msg["subject"] == entry["subject"], "subject of " + entry["subject"])
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
                check(msg["subject"] == entry["subject"], "subject of " + entry["subject"])
                check(msg.get_from().startswith("ann@example.org "), "From line of "
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

    fetched = json.loads(doveadm_run("-f", "json", "fetch", "mailbox flags hdr.subject text", "ALL"))
    by_mailbox = collections.defaultdict(list)
    for record in fetched:
        by_mailbox[record["mailbox"]].append(record)
    for folder, entries in sample.folders.items():
        records = by_mailbox[sample.mailbox_name(folder)]
        check(len(records) == len(entries), "Dovecot fetched %d of %r" % (len(records), folder))
        for record, entry in zip(records, entries):
            check(record["hdr.subject"] == entry["subject"], "Dovecot's subject of "
                  + entry["subject"])
            flags = set(record["flags"].split()) - {"\\Recent"}
            # Forwarded ('P') has no IMAP flag: Dovecot keeps it in the file name only.
            want = {FLAG_LETTERS[f][1] for f in entry["flags"] if FLAG_LETTERS.get(f, (0, 0))[1]}
            check(flags == want, "Dovecot's flags of %s: %r, not %r"
                  % (entry["subject"], flags, want))
            text = record["text"].encode("utf-8")
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
    socket = "quillon-test-%d" % os.getpid()
    env = dict(os.environ, HOME=root, TERM="xterm", LC_ALL="C.UTF-8")
    try:
        for folder, entries in sample.folders.items():
            path = os.path.join(sample.dir, folder)
            subprocess.run(["tmux", "-L", socket, "new-session", "-d", "-x", "200", "-y", "50",
                            "-s", "m", "mutt -n -R -F '%s' -f '%s'" % (rc, path)],
                           env=env, check=True)
            screen, deadline = "", time.time() + 20
            while time.time() < deadline:
                screen = subprocess.run(["tmux", "-L", socket, "capture-pane", "-p", "-t", "m"],
                                        env=env, stdout=subprocess.PIPE).stdout.decode("utf-8")
                if "STATUS[" in screen and screen.count("IDX[") >= len(entries):
                    break
                time.sleep(0.1)
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
            check(subjects == [e["subject"] for e in entries],
                  "mutt's subjects in %r: %r" % (folder, subjects))
    finally:
        subprocess.run(["tmux", "-L", socket, "kill-server"], env=env, stderr=subprocess.DEVNULL)


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 64
    program, fmt, reader = sys.argv[1:]
    root = tempfile.mkdtemp(prefix="quillon-read-back-")
    os.chmod(root, 0o755)
    try:
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
