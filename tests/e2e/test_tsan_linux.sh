#!/usr/bin/env bash
# The Linux program built with ThreadSanitizer (the tsan preset), reading a tag for
# TSAN_SECONDS (default 30) and then closed: a race report whose accesses are in Tavrel's
# own code fails the run. Reports from inside the desktop libraries are listed in
# tests/e2e/tsan.supp; any other report that stays in third-party code is shown, not failed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
TSAN_BUILD=${TAVREL_TSAN_BUILD:-$here/../../build/tsan}
PROGRAM="$TSAN_BUILD/app/tavrel"
PROGRAM_NAME=tavrel-tsan
[ -x "$PROGRAM" ] || { echo "no $PROGRAM: build the tsan preset"; exit 1; }
source "$here/program_lib.sh"

# A race found once is real: the harness's second try must not pass over it.
found=$E2E_WORK/tsan_reports_in_tavrel
[ -s "$found" ] && { cat "$found"; fail "ThreadSanitizer reports in Tavrel's own code (first try)"; }

tag_a=0012345678 number_a=4660.22136
seconds=${TSAN_SECONDS:-30}
log=$E2E_WORK/tsan.$RANDOM
rm -f "$log".*

feed silence:0.5 tag:$tag_a:$((seconds + 5))
started=$(date +%s)
start_program TSAN_OPTIONS="halt_on_error=0 exitcode=0 print_suppressions=1 \
suppressions=$here/tsan.supp log_path=$log"
geometry
regions
# The number in the window shows that capture, slicing and the window's timer all run
# (the log itself is buffered while it goes to a file).
shown=
for _ in $(seq 100); do
  shoot
  [ "$(count_dark "$text_x" "$digit_y" 300 10)" -gt 100 ] && shown=1 && break
  kill -0 "$prog_pid" 2>/dev/null || fail "ended while reading"
  sleep 0.2
done
[ -n "$shown" ] || fail "the number never showed in the window"
while [ $(($(date +%s) - started)) -lt "$seconds" ]; do
  kill -0 "$prog_pid" 2>/dev/null || fail "ended while reading"
  sleep 0.5
done
close_program 15
stop_feed
expect_reads $number_a

# Each report's access stacks, from the first frame past the sanitizer's own: in the
# program itself (Tavrel's code and what it links statically) or in a shared library.
shopt -s nullglob
logs=("$log".*)
FOUND=$found python3 - "${logs[@]}" <<'PY' || fail "ThreadSanitizer reports in Tavrel's own code (above)"
import os, re, sys
reports, suppressed = [], 0
for name in sys.argv[1:]:
    text = open(name, errors="replace").read()
    reports += [r for r in text.split("==================") if "WARNING: ThreadSanitizer" in r]
    suppressed += sum(int(n) for n in re.findall(r"^\s*(\d+) race:", text, re.M))
access = re.compile(r"^  (Previous )?(atomic )?(read|write|Read|Write|Atomic)", re.I)
frame = re.compile(r"^\s+#\d+ (\S+) .*\(([^()+]+)\+0x[0-9a-f]+\)$")
ours = []
for report in reports:
    stacks, current, in_access = [], None, False
    for line in report.splitlines():
        if access.match(line) or line.startswith("WARNING: ThreadSanitizer"):
            current, in_access = [], True
            stacks.append(current)
        elif not line.startswith(" "):
            in_access = False
        elif in_access and frame.match(line):
            current.append(frame.match(line).groups())
    tops = [next((f for f in s if not f[1].startswith("libtsan")), ("", "")) for s in stacks if s]
    program = [f for f in tops if ".so" not in f[1]]
    (ours if program else []).append(report)
    kind = report.split("WARNING: ThreadSanitizer: ", 1)[1].split(" (pid=", 1)[0]
    where = ", ".join(sorted({f"{function} in {module}" for function, module in tops}))
    print(f"  {'TAVREL' if program else 'third-party'}: {kind}: {where}")
print(f"  {suppressed} reports suppressed, {len(reports)} left, {len(ours)} of them in Tavrel's code")
for report in ours:
    print(report)
if ours:
    open(os.environ["FOUND"], "w").write("".join(ours))
sys.exit(1 if ours else 0)
PY
