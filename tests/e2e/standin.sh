#!/bin/sh
# Stand-in for the outside tools the report consults: the panel API helper,
# the warden helper, dbadm and dbpeek (installed under those names). Each call
# is appended to the call log as "tool|arg|arg...". Answers come from files in
# the data directory, named after the tool and its first argument:
#   TOOL.REQ.out   standard output (taken verbatim when present)
#   TOOL.REQ.err   standard error
#   TOOL.REQ.rc    exit status (default 0)
#   TOOL.REQ.hang  present: never answer (the process itself sleeps, so a
#                  kill closes its pipes); its pid is left in TOOL.REQ.pid
#   TOOL.REQ.before  shell commands run before answering (to change the
#                  world under a running report, say)
#   answer-after   seconds every call waits before it answers; with it, each
#                  call appends "start|NS|tool|req" and "end|NS|tool|req"
#                  (NS: the clock in nanoseconds) to the times log
# Without a .out file, a few requests are answered from small tables:
#   users.tsv      uid, username, domain, reseller     -> "user-info-sys"
#   resellers.tsv  reseller, user                      -> "reseller-users"
#   limits.tsv     name, cpu, io  (or name, "error", text) -> "limits"
tool=${0##*/}
data=/usr/share/kestrix3/standin
log=/run/standin.log

# One write a line: calls that overlap must not interleave their lines.
line=$tool
for a in "$@"; do line="$line|$a"; done
printf '%s\n' "$line" >>"$log" 2>/dev/null || :

req=${1-}
base=$data/$tool.$req
if [ -f "$data/answer-after" ]; then
  stamp() { printf '%s|%s|%s|%s\n' "$1" "$(date +%s%N)" "$tool" "$req" >>/run/standin.times; }
  stamp start
  trap 'stamp end' EXIT
  sleep "$(cat "$data/answer-after")"
fi
if [ -f "$base.hang" ]; then
  { echo $$ >"$base.pid.new" && mv "$base.pid.new" "$base.pid"; } 2>/dev/null || :
  exec sleep 3600
fi
[ -f "$base.before" ] && sh "$base.before"
[ -f "$base.err" ] && cat "$base.err" >&2
rc=0
[ -f "$base.rc" ] && rc=$(cat "$base.rc")

if [ -f "$base.out" ]; then
  cat "$base.out"
  exit "$rc"
fi

table() { [ -f "$data/$1" ] && cat "$data/$1"; :; }

case $tool:$req in
  kestrix-pnx-helper:user-info-sys)
    shift
    table users.tsv | awk -F '\t' -v want="$*" '
      BEGIN { n = split(want, w, " ") }
      { dom[$1] = $3; res[$1] = $4; name[$1] = $2; known[$1] = 1 }
      END {
        printf "{\"users\": ["; sep = ""
        for (i = 1; i <= n; i++) if (w[i] in known) {
          printf "%s{\"uid\": %s, \"username\": \"%s\", \"email\": \"%s@example.test\", \"domain\": \"%s\", \"locale\": \"en\", \"reseller\": \"%s\", \"display_name\": \"%s\"}", sep, w[i], name[w[i]], name[w[i]], dom[w[i]], res[w[i]], name[w[i]]
          sep = ", "
        }
        printf "], \"unresolved\": ["; sep = ""
        for (i = 1; i <= n; i++) if (!(w[i] in known)) {
          printf "%s{\"uid\": %s, \"reason\": \"no such account\"}", sep, w[i]; sep = ", "
        }
        printf "]}\n"
      }'
    ;;
  kestrix-pnx-helper:reseller-users)
    table resellers.tsv | awk -F '\t' -v r="${2-}" '
      BEGIN { printf "["; sep = "" }
      $1 == r { printf "%s\"%s\"", sep, $2; sep = ", " }
      END { printf "]\n" }'
    ;;
  kestrix-pnx-helper:admins) echo '[]' ;;
  kestrix-pnx-helper:panel-feature) echo true ;;
  kestrix-ward-helper:limits)
    shift
    table limits.tsv | awk -F '\t' -v want="$*" '
      BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) asked[w[i]] = 1; printf "{"; sep = "" }
      ($1 in asked) {
        if ($2 == "error") printf "%s\"%s\": {\"error\": \"%s\"}", sep, $1, $3
        else printf "%s\"%s\": {\"cpu\": %s, \"io\": %s, \"absent\": false}", sep, $1, $2, $3
        sep = ", "
      }
      END { printf "}\n" }'
    ;;
  kestrix-ward-helper:warden-mode) echo all ;;
  dbadm:list) printf 'USER\tCPU\tREAD\tWRITE\n' ;;
  dbpeek:-c) printf 'USER CPU READ WRITE CAUSE\n' ;;
  *) echo "$tool: unexpected request: $*" >&2; exit 64 ;;
esac
exit "$rc"
