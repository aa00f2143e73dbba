#!/bin/sh
# Installs the Debian packages of tools/packages.txt that are missing, and the
# system users and groups the daemons expect. Run as root; a second run only
# checks and returns quickly.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
pkgs=$(grep -v -e '^#' -e '^$' "$here/packages.txt")
missing=""
for p in $pkgs; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  # Multiarch packages (name:arch) need their architecture known to dpkg.
  for arch in $(printf '%s\n' $missing | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    if [ "$arch" != "$(dpkg --print-architecture)" ] &&
      ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      dpkg --add-architecture "$arch"
    fi
  done
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi

# Accounts the daemons run as or hand sockets to.
for g in www pavanectl ptzadm; do
  getent group "$g" >/dev/null || groupadd --system "$g"
done
for u in www ptzadm pavanectl; do
  getent passwd "$u" >/dev/null || useradd --system --no-create-home --shell /usr/sbin/nologin -g "$u" "$u"
done
