#!/bin/sh
# Stand-in for the panel API helper, the warden helper, dbadm and dbpeek that
# takes a set time before it answers, as a loaded server's helpers do: it
# waits the seconds written in the data directory's "delay" file (none or 0:
# no wait), then answers as the end-to-end tests' stand-in does, whose script
# lies beside it as "answer.sh" (it also appends the call to /run/standin.log).
# Each call's start and end, in seconds since boot, go to /run/standin.times
# as "tool request start end", for telling which calls ran one after another.
# The clock is read from /proc/uptime, without a process: to the hundredth,
# which is enough beside delays of tens of milliseconds and more, and a
# date(1) at either end would add as much to every call as the rest of the
# stand-in costs.
bench_data=/usr/share/kestrix3/standin
read -r bench_start _ </proc/uptime
bench_req=${1-}
trap 'read -r bench_end _ </proc/uptime
      printf "%s %s %s %s\n" "${0##*/}" "$bench_req" "$bench_start" "$bench_end" >>/run/standin.times 2>/dev/null' EXIT
bench_delay=0
[ -f "$bench_data/delay" ] && read -r bench_delay <"$bench_data/delay"
[ "$bench_delay" = 0 ] || sleep "$bench_delay"
. "$bench_data/answer.sh"
