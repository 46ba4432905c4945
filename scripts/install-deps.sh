#!/usr/bin/env bash
# Installs what the build, the demo and the tests need on Debian 12. Idempotent: a package
# that is already there is not fetched again, and apt-get runs only when something is missing.
set -euo pipefail

# help2man and dpkg-dev (dpkg-shlibdeps): the Debian package's man pages and dependencies;
# lintian: the package test holds the package to Debian's policy. libpq-dev, libsqlite3-dev:
# the records' databases; postgresql: the server their tests start; python3-jsonschema: the
# log line's schema in the tests.
native=(cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev python3
        help2man dpkg-dev lintian systemd libpq-dev libsqlite3-dev postgresql python3-jsonschema)
windows=(g++-mingw-w64-i686 gcc-mingw-w64-i686 xvfb imagemagick fonts-wqy-microhei fonts-wine locales-all
         wine wine32:i386 wine64)
fuzz=(clang-14 libclang-rt-14-dev)

want=("${native[@]}")
case "${1:-all}" in
  native) ;;
  all) want+=("${windows[@]}" "${fuzz[@]}") ;;
  *) echo "usage: $0 [native|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
