#!/usr/bin/env bash
# Makes a fresh Debian 12 machine (as root) ready to build and test the plugin.
# Idempotent: when everything is already installed it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 xvfb xauth x11-apps x11-utils imagemagick
  libgtest-dev googletest clang clang-format libclang-rt-14-dev libjpeg-dev libtag1-dev
  python3 curl tinyproxy locales dpkg-dev nsis
  openssl libgnutls30:i386
)

# A mirror in the middle of a sync serves an index of the wrong size for a few minutes
# ("Mirror sync in progress?"): try the update again with a pause, and if an index
# still fails, say which and what to do before the install is tried on what there is.
update_indexes() {
  local log tries=0
  log=$(mktemp)
  until apt-get update -q >"$log" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$log"; do
    tries=$((tries + 1))
    if [ "$tries" -ge "${NIMBO_APT_TRIES:-4}" ]; then
      cat "$log"
      echo "bootstrap: these package indexes could not be downloaded after $tries tries:" >&2
      grep -o 'Failed to fetch [^ ]*' "$log" | sed 's/^Failed to fetch /  /' >&2 || true
      echo "bootstrap: the mirror may be syncing; run this script again in a few minutes." \
           "Installing from the indexes there are now." >&2
      rm -f "$log"
      return 0
    fi
    echo "bootstrap: apt-get update failed (try $tries), again in ${NIMBO_APT_PAUSE:-20} s" >&2
    sleep "${NIMBO_APT_PAUSE:-20}"
  done
  cat "$log"
  rm -f "$log"
}

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/nimbo-src.sources
need_src=0
[ -f "$src_list" ] || need_src=1

if [ "$need_i386" = 1 ] || [ "$need_src" = 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  [ "$need_i386" = 1 ] && dpkg --add-architecture i386
  if [ "$need_src" = 1 ]; then
    # Source packages from the same archive as the binaries (libjpeg-turbo is built from source).
    cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  update_indexes
  apt-get install -y -q --no-install-recommends "${packages[@]}"
fi

# Locales that select the ANSI code pages the tests need under Wine (1251, 1252, and
# the double-byte 932).
want_locales=(ru_RU.UTF-8 en_US.UTF-8 ja_JP.UTF-8)
have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')
regen=0
for l in "${want_locales[@]}"; do
  norm=$(echo "$l" | tr 'A-Z' 'a-z' | sed 's/utf-8/utf8/')
  echo "$have" | grep -qx "$norm" && continue
  sed -i "s/^# *\($l UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$l UTF-8" /etc/locale.gen || echo "$l UTF-8" >> /etc/locale.gen
  regen=1
done
[ "$regen" = 1 ] && locale-gen >/dev/null

echo "bootstrap: ready"
