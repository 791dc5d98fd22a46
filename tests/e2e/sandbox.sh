#!/bin/sh
# Runs a program in a private mount namespace where a fixture tree appears at
# the real system paths, so the program under test reads its fixed files
# without anything on the host being touched.
#
#   sandbox.sh [--as UID] [--userns] [--proc real|tmpfs|dir|foreign]
#              [--ro-kro] [--umask MASK] [--stack KIB] [--address-space KIB]
#              TREE -- PROGRAM [ARG...]
#
# TREE/fs/{etc,var,run,usr/sbin,usr/share} are overlaid (as upper layers) on
# the host's directories; TREE/work holds the overlay work directories and the
# scratch space for a fake /proc. Files the program creates (the warden
# timestamp, the stand-ins' call log) land in TREE/fs, where callers inspect
# them after the run. The program's exit status is passed through: every step
# after the mounts is an exec, so signals show as themselves.
set -eu

as= userns= proc=real ro_kro= mask= stack= space=
while [ $# -gt 0 ]; do
  case $1 in
    --as) as=$2; shift 2 ;;
    --userns) userns=1; shift ;;
    --proc) proc=$2; shift 2 ;;
    --ro-kro) ro_kro=1; shift ;;
    --umask) mask=$2; shift 2 ;;
    --stack) stack=$2; shift 2 ;;
    --address-space) space=$2; shift 2 ;;
    --inner) inner=1; shift ;;
    --) shift; break ;;
    -*) echo "sandbox: unknown option $1" >&2; exit 125 ;;
    *) tree=$1; shift ;;
  esac
done
[ -n "${tree:-}" ] && [ $# -gt 0 ] || { echo "sandbox: usage: sandbox.sh [options] TREE -- PROGRAM [ARG...]" >&2; exit 125; }

if [ -z "${inner:-}" ]; then
  [ "$(id -u)" = 0 ] || { echo "sandbox: must run as root" >&2; exit 125; }
  self=$(readlink -f "$0")
  set -- ${as:+--as "$as"} ${userns:+--userns} --proc "$proc" ${ro_kro:+--ro-kro} \
    ${mask:+--umask "$mask"} ${stack:+--stack "$stack"} ${space:+--address-space "$space"} \
    --inner "$tree" -- "$@"
  exec unshare --mount --propagation private /bin/sh "$self" "$@"
fi

# From here on we are inside the new mount namespace; nothing below is seen
# by the host.
for d in etc var run usr/sbin usr/share; do
  up=$tree/fs/$d
  wk=$tree/work/$(echo "$d" | tr / _)
  mkdir -p "$up" "$wk"
  mount -t overlay overlay -o "lowerdir=/$d,upperdir=$up,workdir=$wk" "/$d"
done

if [ -n "$ro_kro" ]; then
  mount --bind /var/kro /var/kro
  mount -o remount,bind,ro /var/kro
fi

case $proc in
  real) ;;
  tmpfs|dir)
    # A /proc that is not procfs but holds a perfect-looking uid_map.
    fake=$tree/work/fakeproc
    mkdir -p "$fake"
    [ "$proc" = tmpfs ] && mount -t tmpfs -o mode=0755 tmpfs "$fake"
    mkdir -p "$fake/self"
    printf '         0          0 4294967295\n' >"$fake/self/uid_map"
    chmod -R a+rX "$fake"
    mount --bind "$fake" /proc
    ;;
  foreign)
    # Our pid survives the execs below, so the program's /proc/<pid> is this
    # directory: make it show another process's entry instead.
    mount --bind /proc/1 "/proc/$$"
    ;;
  *) echo "sandbox: unknown --proc $proc" >&2; exit 125 ;;
esac

[ -n "$mask" ] && umask "$mask"
# A smaller stack limit shrinks the room for argument vectors (ARG_MAX).
[ -n "$stack" ] && ulimit -s "$stack"
[ -n "$space" ] && ulimit -v "$space"

if [ -n "$as" ]; then
  if [ -n "$userns" ]; then
    exec setpriv --reuid="$as" --regid="$as" --clear-groups unshare -U --map-root-user "$@"
  fi
  exec setpriv --reuid="$as" --regid="$as" --clear-groups "$@"
fi
if [ -n "$userns" ]; then
  exec unshare -U --map-root-user "$@"
fi
exec "$@"
