#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and checks that every file lands
# where its loader looks for it by name: man -w finds the page, bash-completion
# lazy-loads the bash completion, fish autoloads its completion, zsh's compinit
# binds the command. A /usr/local prefix keeps everything under /usr/local.
# The completion directories are the build's, relative to the prefix (a
# package for EL puts zsh's in share/zsh/site-functions).
# Usage: install_layout_test.sh BUILD_DIR BASH_DIR ZSH_DIR FISH_DIR
set -uo pipefail
. "$(dirname "$0")/needs.sh"
needs man fish zsh /usr/share/bash-completion/bash_completion

build=$1 bash_dir=$2 zsh_dir=$3 fish_dir=$4
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

for prefix in /usr /usr/local; do
  if ! DESTDIR=$dest/root$prefix cmake --install "$build" --prefix "$prefix" >/dev/null; then
    fail "cmake --install --prefix $prefix"
    continue
  fi
  root=$dest/root$prefix$prefix
  [ -x "$root/bin/nimbrel-top" ] || fail "$prefix: no executable bin/nimbrel-top"
  for f in share/man/man1/nimbrel-top.1 "$bash_dir/nimbrel-top" "$zsh_dir/_nimbrel-top" "$fish_dir/nimbrel-top.fish"; do
    [ -f "$root/$f" ] || fail "$prefix: no $f"
  done
  outside=$(cd "$dest/root$prefix" && find . -type f -not -path ".$prefix/*")
  [ -z "$outside" ] || fail "$prefix: installed outside the prefix: $outside"
done

share=$dest/root/usr/usr/share
found=$(MANPATH=$share/man man -w nimbrel-top 2>&1)
[ "$found" = "$share/man/man1/nimbrel-top.1" ] || fail "man -w nimbrel-top: $found"

loaded=$(XDG_DATA_DIRS=$share bash -c '. /usr/share/bash-completion/bash_completion
  __load_completion nimbrel-top && complete -p nimbrel-top' 2>&1)
[[ $loaded == *"-F _nimbrel_top nimbrel-top"* ]] || fail "bash-completion does not lazy-load it: $loaded"

# fish autoloads a completion only for a command on PATH, and takes its vendor
# directories from XDG_DATA_DIRS in its own start-up file (so no --no-config);
# the empty config and data homes keep any user's set-up out.
keys=$(PATH=$dest/root/usr/usr/bin:$PATH XDG_CONFIG_HOME=$dest/none XDG_DATA_HOME=$dest/none XDG_DATA_DIRS=$share \
  fish -c 'complete -C "nimbrel-top --order-by "' 2>&1 | cut -f1 | sort | xargs)
[ "$keys" = "cpu ep io iops mysql_cpu mysql_io nproc pmem" ] || fail "fish does not autoload it: $keys"

bound=$(zsh -f -c 'fpath=($1 $fpath); autoload -Uz compinit; compinit -u -D; print -r -- $_comps[nimbrel-top]' \
  zsh "$dest/root/usr/usr/$zsh_dir" 2>&1)
[ "$bound" = _nimbrel-top ] || fail "zsh compinit does not bind it: $bound"

((failures == 0)) && echo "install layout: every file where its loader finds it"
exit $((failures > 0))
