#!/usr/bin/env bash
# Can this machine run 32-bit x86 code? The 32-bit updater runs under Wine's
# WoW64 mode only where the kernel has its 32-bit user code segment, and
# whether a machine's kernel has it changes from machine to machine. Prints
# one line saying which, and exits 0 when 32-bit code runs, 1 when not.
#
#   FA2_NO_32BIT=1        answer no on any machine (to try the x86_64 path)
#   FA2_RUNS_32BIT=yes|no the answer a calling script found earlier in the
#                         same run (with its line in FA2_RUNS_32BIT_WHY):
#                         given back without probing again
#
# The probe (probe-32bit.c beside this script) is built once with the
# system's cc into ~/.cache/fa2updater (XDG_CACHE_HOME), or taken prebuilt
# from beside this script (the release package). Without either, or on a
# machine that is not x86_64, the answer is no: the x86_64 build runs on
# every machine, so assuming no never claims a 32-bit run that did not happen.
#
# Usage: runs-32bit.sh [--quiet]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
quiet=0
[[ ${1:-} == --quiet ]] && quiet=1

answer() {
  ((quiet)) || echo "$2"
  return "$1"
}

yes_line="32-bit code: runs on this machine (its kernel has the 32-bit user code segment)"
if [[ -n ${FA2_NO_32BIT:-} && ${FA2_NO_32BIT} != 0 ]]; then
  answer 1 "32-bit code: treated as not running on this machine (FA2_NO_32BIT=$FA2_NO_32BIT)"
  exit
fi
case ${FA2_RUNS_32BIT:-} in
  yes) answer 0 "${FA2_RUNS_32BIT_WHY:-$yes_line}"; exit ;;
  no) answer 1 "${FA2_RUNS_32BIT_WHY:-32-bit code: does not run on this machine}"; exit ;;
esac
if [[ $(uname -m) != x86_64 ]]; then
  answer 1 "32-bit code: not tried on this $(uname -m) machine (the probe is for x86_64)"
  exit
fi

probe=$here/probe-32bit
if [[ ! -x $probe ]]; then
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/fa2updater
  probe=$cache/probe-32bit-$(cksum <"$here/probe-32bit.c" | cut -d' ' -f1)
  if [[ ! -x $probe ]]; then
    if ! command -v cc >/dev/null; then
      answer 1 "32-bit code: cannot tell (no C compiler to build the probe): taken as not running"
      exit
    fi
    mkdir -p "$cache" && cc -O2 -o "$probe.$$" "$here/probe-32bit.c" 2>/dev/null && mv "$probe.$$" "$probe" ||
      { rm -f "$probe.$$"; answer 1 "32-bit code: cannot tell (the probe did not build): taken as not running"; exit; }
  fi
fi
if "$probe"; then
  answer 0 "$yes_line"
else
  answer 1 "32-bit code: does not run on this machine (its kernel has no 32-bit user code segment: IA32 emulation is off)"
fi
