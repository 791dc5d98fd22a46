#!/usr/bin/env zsh
# Drives the zsh completion without a terminal: an interactive zsh runs in a
# pseudo-terminal (zpty) with the completion on its fpath; a completion widget
# bound to ^T records every match the completion adds (through a wrapper
# around compadd) into a file, which is compared with what is expected.
# Usage: zsh_completion_test.zsh COMPLETION_DIR
emulate -L zsh
setopt err_return no_unset
dir=${1:a}
zmodload zsh/zpty

out=$(mktemp -d)
trap 'zpty -d shell 2>/dev/null; rm -rf $out' EXIT
zpty -b shell zsh -f -i
zpty -w shell "PS1='' PS2='' RPS1=''; fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -D"
# compadd -O collects the words that would be added and match the current
# prefix. Calls that collect or filter for themselves (-O, -A, -D) are
# internal steps of the completion system and are left alone.
zpty -w shell 'compadd() { local -a m; if (( ${@[(I)-[OAD]*]} == 0 )); then builtin compadd -O m "$@"; all+=("${m[@]}"); fi; builtin compadd "$@"; }'
zpty -w shell "record() { all=(); _main_complete; print -rl -- \${(ou)all} >| $out/m.tmp; mv $out/m.tmp $out/m; }"
zpty -w shell 'zle -C record complete-word record; bindkey "^T" record'

failures=0

# expect LINE WORD...: the completion at the end of LINE is exactly the WORDs.
expect() {
  local line=$1 i
  shift
  rm -f $out/m
  zpty -w -n shell "$line"$'\x14'
  for i in {1..200}; do
    [[ -e $out/m ]] && break
    sleep 0.05
  done
  # ^U clears the line whatever the completion inserted.
  zpty -w -n shell $'\x15'
  local -a got want
  got=(${(f)"$(<$out/m)"})
  want=(${(ou)@})
  if [[ ${(j: :)got} != ${(j: :)want} ]]; then
    print -r -- "FAIL: \"$line\""
    print -r -- "  want: $want"
    print -r -- "  got:  $got"
    (( failures += 1 ))
  fi
  return 0
}

all=(-j --json --hide-mysql -u --username -r --for-reseller -d --domain -m --max
     -o --order-by -h --help -V --version)
without() { print -l -- ${all:|argv} }

# Options in both forms, none that is on the line already.
expect 'nimbrel-top -' $all
expect 'nimbrel-top -j --hide-mysql -' $(without -j --json --hide-mysql)
expect 'nimbrel-top --json -o cpu -' $(without -j --json -o --order-by)
expect 'nimbrel-top --max=5 --order-by=io -' $(without -m --max -o --order-by)
expect 'nimbrel-top -udora -' $(without -u --username)
expect 'nimbrel-top -r dora -u dm -' $(without -r --for-reseller -u --username)

# Sort keys after either form, also after "=".
keys=(cpu mysql_cpu io mysql_io iops ep nproc pmem)
expect 'nimbrel-top -o ' $keys
expect 'nimbrel-top -j --order-by ' $keys
expect 'nimbrel-top --order-by=' $keys
expect 'nimbrel-top --order-by mysql' mysql_cpu mysql_io

# Login names after -u and -r; nothing after -d and -m.
users=(${(M)${(f)"$(getent passwd | cut -d: -f1)"}:#r*})
(( $#users )) || { print "FAIL: no login name starts with r"; (( failures += 1 )); }
expect 'nimbrel-top -u r' $users
expect 'nimbrel-top --for-reseller r' $users
expect 'nimbrel-top -d '
expect 'nimbrel-top --domain ex'
expect 'nimbrel-top -m '

(( failures == 0 )) && print "zsh completion: all cases pass"
exit $(( failures > 0 ))
