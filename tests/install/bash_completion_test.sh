#!/usr/bin/env bash
# Drives the bash completion without a terminal: COMP_WORDS, COMP_CWORD,
# COMP_LINE and COMP_POINT are set as bash sets them for a line, the
# completion function is called and COMPREPLY compared.
# Usage: bash_completion_test.sh COMPLETION_FILE
set -uo pipefail
. "$(dirname "$0")/needs.sh"
needs /usr/share/bash-completion/bash_completion

. /usr/share/bash-completion/bash_completion
. "$1"
# compopt works only inside real completion.
compopt() { :; }

failures=0

# Completes LINE (the cursor at its end) and prints COMPREPLY sorted, one per
# line. Words split at blanks and around "=", as COMP_WORDBREAKS has it.
complete_line() {
  local line=$1 word part
  local -a words=()
  for word in $line; do
    while [[ $word == *=* ]]; do
      part=${word%%=*}
      [[ $part ]] && words+=("$part")
      words+=("=")
      word=${word#*=}
    done
    [[ $word ]] && words+=("$word")
  done
  [[ $line == *[[:space:]] || $line == *= ]] && words+=("")
  COMP_LINE=$line COMP_POINT=${#line}
  COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  _nimbrel_top nimbrel-top "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  ((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}" | sort
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
without() {  # prints all options except the given ones
  local o x skip
  for o in "${all[@]}"; do
    skip=
    for x; do [[ $o == "$x" ]] && skip=1; done
    [[ $skip ]] || echo "$o"
  done
}

# Options: both forms, and nothing given already in either form, however
# it was written (separate or attached value, bundled short options).
expect 'nimbrel-top ' "${all[@]}"
expect 'nimbrel-top -' "${all[@]}"
expect 'nimbrel-top --' $(without -j -u -r -d -m -o -h -V)
expect 'nimbrel-top --h' --hide-mysql --help
expect 'nimbrel-top -j --hide-mysql -' $(without -j --json --hide-mysql)
expect 'nimbrel-top --json -o cpu -' $(without -j --json -o --order-by)
expect 'nimbrel-top --max=5 --order-by=io -' $(without -m --max -o --order-by)
expect 'nimbrel-top -ujm -' $(without -u --username)
expect 'nimbrel-top -jm5 -' $(without -j --json -m --max)
expect 'nimbrel-top -udora -' $(without -u --username)
expect 'nimbrel-top -r dora -u dm -' $(without -r --for-reseller -u --username)
expect 'nimbrel-top --username -d -' $(without -u --username)

# The sort keys after either form, also after "=" and as a prefix.
keys=(cpu mysql_cpu io mysql_io iops ep nproc pmem)
expect 'nimbrel-top -o ' "${keys[@]}"
expect 'nimbrel-top -j --order-by ' "${keys[@]}"
expect 'nimbrel-top --order-by=' "${keys[@]}"
expect 'nimbrel-top --order-by=mysql' mysql_cpu mysql_io
expect 'nimbrel-top -o io' io iops

# Login names after -u and -r; nothing after -d and -m.
mapfile -t users < <(compgen -u -- r | sort -u)
expect 'nimbrel-top -u r' "${users[@]}"
expect 'nimbrel-top --for-reseller r' "${users[@]}"
expect 'nimbrel-top --username=r' "${users[@]}"
expect 'nimbrel-top -d '
expect 'nimbrel-top --domain=ex'
expect 'nimbrel-top -m '
expect 'nimbrel-top --max 1'

((failures == 0)) && echo "bash completion: all cases pass"
exit $((failures > 0))
