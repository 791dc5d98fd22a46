#!/usr/bin/env bash
# Drives the fish completion without a terminal: fish's `complete -C LINE`
# prints what Tab would offer at the end of LINE.
# Usage: fish_completion_test.sh COMPLETION_FILE
set -uo pipefail
. "$(dirname "$0")/needs.sh"
needs fish

file=$1
failures=0

complete_line() {
  fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$file" "$1" | cut -f1 | sort
}

# expect LINE WORD...: the completion of LINE is exactly the WORDs.
expect() {
  local line=$1 got want
  shift
  got=$(complete_line "$line")
  want=$( (($#)) && printf '%s\n' "$@" | sort)
  if [[ $got != "$want" ]]; then
    printf 'FAIL: "%s"\n  want: %s\n  got:  %s\n' "$line" "$(echo $want)" "$(echo $got)"
    failures=$((failures + 1))
  fi
}

all=(-j --json --hide-mysql -u --username -r --for-reseller -d --domain -m --max
     -o --order-by -h --help -V --version)
without() {
  local o x skip
  for o in "${all[@]}"; do
    skip=
    for x; do [[ $o == "$x" ]] && skip=1; done
    [[ $skip ]] || echo "$o"
  done
}

# Options in both forms, none that is on the line already.
expect 'nimbrel-top -' "${all[@]}"
expect 'nimbrel-top --' $(without -j -u -r -d -m -o -h -V)
expect 'nimbrel-top -j --hide-mysql -' $(without -j --json --hide-mysql)
expect 'nimbrel-top --json -o cpu -' $(without -j --json -o --order-by)
expect 'nimbrel-top --max=5 --order-by=io --' $(without -m --max -o --order-by -j -u -r -d -h -V)
expect 'nimbrel-top -udora -' $(without -u --username)
expect 'nimbrel-top -r dora -u dm -' $(without -r --for-reseller -u --username)

# Sort keys after either form, also after "=".
keys=(cpu mysql_cpu io mysql_io iops ep nproc pmem)
expect 'nimbrel-top -o ' "${keys[@]}"
expect 'nimbrel-top -j --order-by ' "${keys[@]}"
expect 'nimbrel-top --order-by=' "${keys[@]/#/--order-by=}"
expect 'nimbrel-top --order-by mysql' mysql_cpu mysql_io

# Login names after -u and -r (fish's own list of users); nothing after -d and -m.
mapfile -t users < <(fish --no-config -c '__fish_complete_users' | cut -f1 | grep '^r' | sort)
((${#users[@]})) || { echo "FAIL: no login name starts with r"; failures=$((failures + 1)); }
expect 'nimbrel-top -u r' "${users[@]}"
expect 'nimbrel-top --for-reseller r' "${users[@]}"
expect 'nimbrel-top -d '
expect 'nimbrel-top --domain ex'
expect 'nimbrel-top -m '

((failures == 0)) && echo "fish completion: all cases pass"
exit $((failures > 0))
