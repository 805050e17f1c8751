#!/bin/sh
# Installs the Debian packages the build, the tests and the GUI need, when any is missing.
set -e
PKGS="cmake ninja-build g++ clang libclang-rt-14-dev make python3 libgtest-dev libgmock-dev libbenchmark-dev
zlib1g-dev libboost-dev libboost-regex-dev qt6-base-dev fonts-dejavu-core locales libisal-dev"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
