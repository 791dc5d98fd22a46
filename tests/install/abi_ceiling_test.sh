#!/usr/bin/env bash
# Feeds scripts/abi-ceiling the listings readelf and rpm print for programs
# at, above and beside the ceiling (through stand-ins for the two commands),
# and checks that it passes exactly the first and names every fault.
# Usage: abi_ceiling_test.sh SCRIPT
set -uo pipefail
script=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The stand-in prints the listing named after the file it is asked about.
cat >"$dir/print-listing" <<'STANDIN'
#!/bin/sh
for last; do :; done
[ -f "$last.listing" ] || exit 1
cat "$last.listing"
STANDIN
chmod +x "$dir/print-listing"
export READELF=$dir/print-listing RPM=$dir/print-listing

# expect NAME STATUS [TEXT...]: the script's status on file NAME, and what its
# output must contain.
expect() {
  local name=$1 status=$2 output got=0
  shift 2
  output=$("$script" "$dir/$name" 2>&1) || got=$?
  [ "$got" = "$status" ] || fail "$name: status $got, not $status: $output"
  local text
  for text; do
    [[ $output == *"$text"* ]] || fail "$name: no \"$text\" in: $output"
  done
}

# readelf's layout, cut down from the program built on Debian 12.
elf() {  # NEEDED-LIBRARY... -- FILE:VERSION...
  while [ "$1" != -- ]; do
    printf ' 0x0000000000000001 (NEEDED)             Shared library: [%s]\n' "$1"
    shift
  done
  shift
  printf ' 0x000000000000001e (FLAGS)              BIND_NOW\n\n'
  printf "Version symbols section '.gnu.version' contains 245 entries:\n"
  printf '  000:   0 (*local*)       2 (GLIBCXX_3.4)   3 (GLIBC_2.99)\n\n'
  printf "Version definition section '.gnu.version_d' contains 2 entries:\n"
  printf '  000000: Rev: 1  Flags: BASE  Index: 1  Cnt: 1  Name: nimbrel-top\n'
  printf '  0x001c: Rev: 1  Flags: none  Index: 2  Cnt: 1  Name: GLIBC_2.99\n\n'
  printf "Version needs section '.gnu.version_r' contains 4 entries:\n"
  printf ' Addr: 0x0000000000003c70  Offset: 0x00003c70  Link: 7 (.dynstr)\n'
  local file='' need
  for need; do
    if [ "${need%%:*}" != "$file" ]; then
      file=${need%%:*}
      printf '  0x0000: Version: 1  File: %s  Cnt: 1\n' "$file"
    fi
    printf '  0x0010:   Name: %s  Flags: none  Version: 3\n' "${need#*:}"
  done
}
libs=(libstdc++.so.6 libm.so.6 libgcc_s.so.1 libc.so.6)
within=(libgcc_s.so.1:GCC_3.0 libm.so.6:GLIBC_2.29 libc.so.6:GLIBC_2.4 libc.so.6:GLIBC_2.34
        libstdc++.so.6:GLIBCXX_3.4.29 libstdc++.so.6:GLIBCXX_3.4.9 libstdc++.so.6:CXXABI_1.3.13)

# At the ceiling: 2.4 is older than 2.34, 3.4.9 than 3.4.29. The symbol
# table's version column and a section of version definitions are not needs.
elf "${libs[@]}" -- "${within[@]}" >"$dir/ok.listing"
expect ok 0 "newest versions it needs: GLIBC_2.34 GLIBCXX_3.4.29 CXXABI_1.3.13 GCC_3.0"

# One step over in every kind, and versions of no known kind.
elf "${libs[@]}" -- "${within[@]}" libc.so.6:GLIBC_2.35 libstdc++.so.6:GLIBCXX_3.4.30 \
  libstdc++.so.6:CXXABI_1.3.14 libgcc_s.so.1:GCC_12.0.0 libc.so.6:GLIBC_PRIVATE \
  libstdc++.so.6:CXXABI_TM_1 >"$dir/newer.listing"
expect newer 1 "needs GLIBC_2.35 from libc.so.6" "needs GLIBCXX_3.4.30" "needs CXXABI_1.3.14" \
  "needs GCC_12.0.0" "GLIBC_PRIVATE from libc.so.6, a version EL9 is not known" "CXXABI_TM_1"

# Another library, named once however many versions it brings.
elf "${libs[@]}" libssl.so.3 -- "${within[@]}" libssl.so.3:OPENSSL_3.0.0 libssl.so.3:OPENSSL_3.0.1 \
  >"$dir/library.listing"
expect library 1 "links libssl.so.3, which is beyond"
[ "$("$script" "$dir/library" 2>&1 | grep -c libssl)" = 1 ] || fail "libssl.so.3 reported more than once"

# No dynamic section at all, and a file the tool cannot read.
echo "There is no dynamic section in this file." >"$dir/static.listing"
expect static 1 "not a dynamically linked program"
expect unreadable 1 "cannot be read"

# An .rpm's Requires, as rpm's dependency generator writes them.
{
  printf '%s\n' 'libc.so.6()(64bit)' 'libc.so.6(GLIBC_2.34)(64bit)' 'libgcc_s.so.1()(64bit)' \
    'libgcc_s.so.1(GCC_3.0)(64bit)' 'libm.so.6()(64bit)' 'libstdc++.so.6()(64bit)' \
    'libstdc++.so.6(CXXABI_1.3.13)(64bit)' 'libstdc++.so.6(GLIBCXX_3.4.29)(64bit)' 'rtld(GNU_HASH)' \
    'rpmlib(CompressedFileNames) <= 3.0.4-1' 'rpmlib(PayloadFilesHavePrefix) <= 4.0-1'
} >"$dir/ok.rpm.listing"
expect ok.rpm 0 "GLIBC_2.34 GLIBCXX_3.4.29 CXXABI_1.3.13 GCC_3.0"
{
  cat "$dir/ok.rpm.listing"
  printf '%s\n' 'libc.so.6(GLIBC_2.36)(64bit)' 'libz.so.1()(64bit)' 'bash'
} >"$dir/beyond.rpm.listing"
expect beyond.rpm 1 "needs GLIBC_2.36 from libc.so.6" "links libz.so.1" "requires bash, which is not a library"

# Several files: one fault fails the run, and every file is still checked.
output=$("$script" "$dir/newer" "$dir/ok" 2>&1) && fail "a faulty file among good ones passed"
[[ $output == *"$dir/ok: within"* ]] || fail "the second file was not checked: $output"

((failures == 0)) && echo "abi ceiling: every fault named, the ceiling itself passes"
exit $((failures > 0))
