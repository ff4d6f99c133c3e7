#!/usr/bin/env bash
# Completes command lines with quillon's bash completion as bash-completion would, in a folder of
# known files, and checks that it offers the commands and options `quillon --help` names.
# Usage: completion_test.sh BASH_COMPLETION COMPLETION_FILE QUILLON
set -uo pipefail
export LC_ALL=C
source "$1"
source "$2"
binary=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
mkdir -p backup "mail/Old Mail"
touch -- Top.dbx -odd.dbx readme.txt mail/Inbox.dbx mail/SENT.DBX mail/Folders.Dbx mail/notes.txt

# Prints the sorted replies for a line whose cursor is at its end (words split at spaces).
complete_line() {
  local COMP_LINE=$1 COMP_POINT=${#1} COMP_WORDS COMP_CWORD COMPREPLY=()
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _quillon quillon "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|'
}

failed=0
check() {  # line, expected replies joined by |
  local got
  got=$(complete_line "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: '$1' completes to '$got', expected '$2'"
    failed=1
  fi
}
check "quillon ex" "export"
check "quillon l" "list|locate"
check "quillon -" "--help|--version"
check "quillon export --dr" "--dry-run"
check "quillon export --d" "--deleted|--desktop|--dry-run"
check "quillon export -o " "backup|mail"         # folders only
check "quillon export --output=" "backup|mail"
check "quillon export -q -o mail/" "mail/Old Mail"
check "quillon export --format " "eml|maildir|mbox"
check "quillon export -f m" "maildir|mbox"
check "quillon export " "-odd.dbx|Top.dbx|backup|mail"  # mailbox files and folders
check "quillon export mail/" "mail/Folders.Dbx|mail/Inbox.dbx|mail/Old Mail|mail/SENT.DBX"
check "quillon export mail/n" "mail/notes.txt"   # any file when no mailbox matches
check "quillon export -- -" "-odd.dbx"            # after --, a word with - is a path
check "quillon check -r m" "mail"                 # mailbox files and folders, as for export
check "quillon check --codepage 125" "1250|1251|1252|1253|1254|1255|1256|1257|1258"
check "quillon locate " "backup|mail"             # folders only
check "quillon locate --hive mail/n" "mail/notes.txt"
check "quillon list --j" "--json"
check "quillon list mail/I" "mail/Inbox.dbx"

# The commands offered are the ones the help shows; the options offered after each command are
# the long options of its help, and "--".
commands=$(complete_line "quillon " | tr '|' '\n')
shown=$("$binary" --help | grep -oE 'quillon [a-z]+' | cut -d' ' -f2 | sort -u)
if [ "$commands" != "$shown" ]; then
  echo "FAIL: completion offers the commands '$commands', --help shows '$shown'"
  failed=1
fi
for command in $commands; do
  offered=$(complete_line "quillon $command -" | tr '|' '\n' | grep -v '^--$')
  documented=$("$binary" "$command" --help |
    grep -oE '(^|[^[:alnum:]-])--[[:alpha:]][[:alnum:]-]*' | sed 's/^[^-]*//' | sort -u)
  if [ "$offered" != "$documented" ] || [ -z "$documented" ]; then
    echo "FAIL: completion offers (<) and '$command --help' names (>) different long options:"
    diff <(echo "$offered") <(echo "$documented") | grep '^[<>]' || true
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "all completions as expected"
exit "$failed"
