#!/usr/bin/env bash
# The man page lints clean: mandoc at error level (scdoc's output draws
# harmless "PP empty" warnings below that), and man-db's renderer, which is
# what lintian runs, writes nothing on standard error.
# Usage: man_lint_test.sh PAGE
set -uo pipefail
. "$(dirname "$0")/needs.sh"
needs mandoc man

page=$1
status=0
if ! mandoc -Tlint -W error "$page"; then
  echo "FAIL: mandoc -Tlint -W error $page"
  status=1
fi
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  printf 'FAIL: man --warnings reports:\n%s\n' "$warnings"
  status=1
fi
# The footer names the version the build was configured with.
if [ -n "${2:-}" ] && ! grep -q "^\.TH .*\"nimbrel-top $2\"" "$page"; then
  echo "FAIL: the page's title line does not carry version $2"
  status=1
fi
[ "$status" -eq 0 ] && echo "man page lints clean"
exit "$status"
