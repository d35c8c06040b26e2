#!/usr/bin/env bash
# Installs the Debian packages of the lists of scripts/packages.txt that the
# command at hand needs, when they are missing, and says which ones before it
# installs anything: setup.sh [LIST]... (build, test, audio, vm, fuzz; every
# list when none is named). A user who is not root installs them through
# sudo. Safe to run again: it installs nothing that is present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
wanted=" $* "
list=""
missing=()
while read -r package; do
  package=${package%%#*}; package=${package// /}
  [ -n "$package" ] || continue
  if [[ $package =~ ^\[(.*)\]$ ]]; then list=${BASH_REMATCH[1]}; continue; fi
  [ $# -eq 0 ] || [[ $wanted == *" $list "* ]] || continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done < "$here/packages.txt"
for name in "$@"; do
  grep -qx "\[$name\]" "$here/packages.txt" || { echo "setup: no package list [$name]" >&2; exit 1; }
done
[ ${#missing[@]} -gt 0 ] || exit 0

echo "setup: these Debian packages are missing and will be installed with apt-get:"
echo "  ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: you are not root and sudo is not installed; as root, run:" >&2
    echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: through sudo, which may ask for your password"
  as_root=(sudo)
fi
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: installed ${missing[*]}"
