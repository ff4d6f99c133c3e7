#!/usr/bin/env bash
# Fuzzes for a bounded time in all (default 80 s): three tenths of it the engine's export, three
# twentieths the rescue engine (scan, reconcile, read every message), three tenths the catalogue
# reader's three targets (header and trees, indexed records, Folders.dbx), a tenth the cleaner of
# mail HTML, and the rest what reads message text: a message taken apart into its parts (a
# quarter of that), then the mail writer (half of the rest), the facts of a message (a third) and
# the Date: header (a sixth). Fails on any crash, leak, input slower than 1 s, or memory over
# 512 MB; the input that did it is copied to fuzz/regressions/ (another target's to
# fuzz/regressions/TARGET/), where the unit tests replay it.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-80}
source scripts/ensure-packages.sh
ensure_packages "${FUZZ_PACKAGES[@]}"

catalogue_targets=(catalogue_tree_fuzzer catalogue_record_fuzzer catalogue_folders_fuzzer)
text_targets=(mail_writer_fuzzer message_facts_fuzzer mail_date_fuzzer mime_walk_fuzzer)
cmake --preset fuzz -DQUILLON_WERROR=ON >/dev/null
cmake --build build/fuzz -j"$(nproc)" --target export_fuzzer make_fuzz_seeds \
  "${catalogue_targets[@]}" make_catalogue_seeds rescue_fuzzer make_rescue_seeds "${text_targets[@]}" \
  html_cleaner_fuzzer

work=build/fuzz/run
seeds=$work/seeds
catalogue_seeds=$work/catalogue-seeds
rescue_seeds=$work/rescue-seeds
rm -rf "$seeds" "$catalogue_seeds" "$rescue_seeds" "$work/artifacts"
fuzz/make-seeds.sh build/fuzz "$seeds"
build/fuzz/fuzz/make_catalogue_seeds "$catalogue_seeds" "$seeds"/*.dbx
# The rescue target reads every byte of its input several times: compact mailboxes and the
# smaller seeds keep it at some thousand runs a second.
mkdir -p "$rescue_seeds"
build/fuzz/fuzz/make_rescue_seeds "$rescue_seeds"
find "$seeds" -maxdepth 1 -type f -size -64k -exec cp {} "$rescue_seeds"/ \;

failed=0
# run_target TARGET SECONDS MAX_LEN REGRESSIONS_DIR SEED_DIR...
run_target() {
  local target=$1 time=$2 max_len=$3 regressions=$4
  shift 4
  local corpus=$work/corpus artifacts=$work/artifacts/$target log=$work/fuzz.log
  if [ "$target" != export_fuzzer ]; then
    corpus=$work/corpus-$target
    log=$work/$target.log
  fi
  mkdir -p "$corpus" "$artifacts"
  # Earlier findings seed the run too.
  [ -d "$regressions" ] && [ "$target" != export_fuzzer ] && set -- "$@" "$regressions"
  echo "== $target, $time s"
  set +e
  "build/fuzz/fuzz/$target" "$corpus" "$@" \
    -max_total_time="$time" -timeout=1 -rss_limit_mb=512 -malloc_limit_mb=512 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
  local status=$?
  set -e
  grep -aE '^#[0-9]+ +(INITED|DONE)|^==[0-9]+==|^SUMMARY|^stat::|^(export|catalogue|rescue|message facts|mail date|mail writer|mime walk|html cleaner) check|(crash|leak|timeout|oom|slow-unit)-' \
    "$log" || true
  local found=0 f
  for f in "$artifacts"/*; do
    [ -e "$f" ] || continue
    found=1
    mkdir -p "$regressions"
    cp "$f" "$regressions/"
    echo "fuzz: finding kept as $regressions/$(basename "$f")"
  done
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "fuzz: $target FAILED (exit $status); the full log is $log" >&2
    failed=1
  fi
}

export_time=$((seconds * 3 / 10))
rescue_time=$((seconds * 3 / 20))
catalogue_time=$((seconds * 3 / 10 / ${#catalogue_targets[@]}))
html_time=$((seconds / 10))
text_time=$((seconds - export_time - rescue_time - catalogue_time * ${#catalogue_targets[@]} -
  html_time))
mime_time=$((text_time / 4))
text_time=$((text_time - mime_time))
writer_time=$((text_time / 2))
facts_time=$((text_time / 3))
date_time=$((text_time - writer_time - facts_time))
for t in export_time rescue_time catalogue_time html_time writer_time facts_time date_time \
  mime_time; do
  [ "${!t}" -ge 1 ] || printf -v "$t" 1
done

# Room for the largest real sample file (142,036 bytes), the 160 KiB generated seeds and growth.
run_target export_fuzzer "$export_time" 196608 fuzz/regressions "$seeds"
run_target catalogue_tree_fuzzer "$catalogue_time" 196608 fuzz/regressions/catalogue_tree_fuzzer \
  "$seeds" "$catalogue_seeds/trees" "$catalogue_seeds/folders"
# A record is at most 12 + 65,536 bytes; real ones take under 1 KiB.
run_target catalogue_record_fuzzer "$catalogue_time" 8192 fuzz/regressions/catalogue_record_fuzzer \
  "$catalogue_seeds/records"
run_target catalogue_folders_fuzzer "$catalogue_time" 196608 \
  fuzz/regressions/catalogue_folders_fuzzer "$catalogue_seeds/folders" "$seeds"
run_target rescue_fuzzer "$rescue_time" 65536 fuzz/regressions/rescue_fuzzer "$rescue_seeds"
# The text targets' seeds are committed. ASan's quarantine of freed memory (256 MB by default)
# would count against the memory limit of these many short runs: 64 MB of it still catches a use
# after free within a run.
export ASAN_OPTIONS=quarantine_size_mb=64
# Messages are made long by repeating the input's text: 8 KiB of input is enough.
run_target mail_writer_fuzzer "$writer_time" 8192 fuzz/regressions/mail_writer_fuzzer \
  fuzz/seeds/mail_writer_fuzzer
# The start of a message as the command reads it (16 KiB) and an index record.
run_target message_facts_fuzzer "$facts_time" 20000 fuzz/regressions/message_facts_fuzzer \
  fuzz/seeds/message_facts_fuzzer
run_target mail_date_fuzzer "$date_time" 16 fuzz/regressions/mail_date_fuzzer \
  fuzz/seeds/mail_date_fuzzer
# Whole messages: the seeds are a few KiB, one a real Outlook Express message.
run_target mime_walk_fuzzer "$mime_time" 65536 fuzz/regressions/mime_walk_fuzzer \
  fuzz/seeds/mime_walk_fuzzer
# The payload corpus, an entry a seed; 64 KiB of input is room for deep nesting.
html_seeds=$work/html-seeds
rm -rf "$html_seeds"
mkdir -p "$html_seeds"
n=0
while IFS= read -r line; do
  case $line in '' | '#'*) continue ;; esac
  n=$((n + 1))
  printf '%b' "$line" >"$html_seeds/payload-$n"
done <html/testing/payloads.txt
run_target html_cleaner_fuzzer "$html_time" 65536 fuzz/regressions/html_cleaner_fuzzer \
  "$html_seeds"
unset ASAN_OPTIONS

if [ "$failed" -ne 0 ]; then exit 1; fi
echo "fuzz: no finding in $seconds s"
