#!/usr/bin/env bash
# The built manual page passes `mandoc -T lint`, and it and `quillon --help` (the overview and
# each command's help) name the same commands and options, so one cannot gain an option the other lacks.
# Usage: manpage_test.sh QUILLON PAGE
set -euo pipefail
binary=$1
page=$2
failed=0

lint=$(mandoc -T lint "$page" 2>&1) || true
if [ -n "$lint" ]; then
  echo "FAIL: mandoc -T lint reports:"
  echo "$lint"
  failed=1
fi

# The overview names the commands; each command's help its options.
overview=$("$binary" --help)
help=$(echo "$overview"; for c in $(grep -oE 'quillon [a-z]+' <<<"$overview" | cut -d' ' -f2 | sort -u); do
  "$binary" "$c" --help
done)
# The page as a reader sees it, on lines long enough that no option is broken.
text=$(mandoc -T ascii -O width=1000 "$page" | sed 's/.\x08//g')

# Every -x and --word that stands alone (not the tail of "Ctrl-C" or "stand-alone").
options() { grep -oE '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | sed 's/^[^-]*//' | sort -u; }
# Commands: "quillon WORD" in the help; one .SS heading each under COMMANDS in the page.
help_commands() { grep -oE 'quillon [a-z]+' | cut -d' ' -f2 | sort -u; }
page_commands() { awk '/^\.SH/ { in_commands = ($2 == "COMMANDS") } in_commands && /^\.SS/ { print $2 }' | sort -u; }

compare() {  # what, from --help, from the page
  if [ "$2" != "$3" ]; then
    echo "FAIL: the $1 of 'quillon --help' (<) and of the page (>) differ:"
    diff <(echo "$2") <(echo "$3") | grep '^[<>]' || true
    failed=1
  fi
}
compare options "$(options <<<"$help")" "$(options <<<"$text")"

# --codepage's default as the commands' help gives it is the page's, word for word.
squeeze() { tr -s ' \n\t' ' '; }
for command in export list check; do
  default=$("$binary" "$command" --help | squeeze | grep -oE 'code page N \(default: [^)]*\)' |
    sed 's/.*(default: //; s/)$//') || true
  if [ -z "$default" ] || ! squeeze <<<"$text" | grep -qF "Default: $default"; then
    echo "FAIL: 'quillon $command --help' gives --codepage's default as '$default'; the page" \
      "does not say 'Default: $default'"
    failed=1
  fi
done
compare commands "$(help_commands <<<"$help")" "$(page_commands <"$page")"

if [ "$(options <<<"$help" | wc -l)" -lt 2 ] || [ -z "$(help_commands <<<"$help")" ]; then
  echo "FAIL: no options or commands found in 'quillon --help':"
  echo "$help"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "the page passes mandoc -T lint and names what --help names"
exit "$failed"
