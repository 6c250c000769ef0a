#!/usr/bin/env bash
# Checks what users install: the staged install passes the desktop-entry, AppStream and man-page
# validators; then the Debian package installs with apt into a clean Debian 12 root, where both
# programs render from their installed paths.
# Usage: check-package.sh BUILD_DIR [CLEAN_ROOT]
#   CLEAN_ROOT: a Debian 12 root made by `check-package.sh --make-root DIR` (test.sh starts that early,
#   in the background, because it mostly waits on the network); without it one is made here.
# The clean-root part needs root (chroot); elsewhere it is skipped with a note.
set -euo pipefail

if [ "${1:-}" = "--make-root" ]; then
  root=$2
  rm -rf "$root" "$root.partial"
  debootstrap --variant=minbase bookworm "$root.partial" http://deb.debian.org/debian >"$root.log" 2>&1
  mv "$root.partial" "$root"
  exit 0
fi

build=${1:?usage: check-package.sh BUILD_DIR [CLEAN_ROOT]}
root=${2:-}
stage=$(mktemp -d)
made_root=
cleanup() {
  rm -rf "$stage"
  if [ -n "$made_root" ]; then rm -rf "$made_root"; fi
}
trap cleanup EXIT

DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
desktop-file-validate "$stage"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.xml
for page in "$stage"/usr/share/man/man1/*.1; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings"
    exit 1
  fi
done
for size in 48x48 256x256; do
  for program in vexla zintor; do
    test -s "$stage/usr/share/icons/hicolor/$size/apps/$program.png"
  done
done
echo "validators: desktop entries, AppStream metainfo and man pages pass"

rm -f "$build"/vexla-zintor_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vexla-zintor_*.deb)
echo "package: $deb"

if [ "$(id -u)" -ne 0 ]; then
  echo "clean-root install skipped: it needs root for chroot"
  exit 0
fi
if [ -z "$root" ]; then
  made_root=$(mktemp -d)/debian12
  "$0" --make-root "$made_root"
  root=$made_root
fi
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
chroot "$root" /bin/sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends /tmp/$(basename "$deb")" >"$root.install.log" 2>&1 ||
  { tail -n 20 "$root.install.log"; exit 1; }
chroot "$root" /bin/sh -c '
  set -e
  test "$(command -v vexla)" = /usr/bin/vexla && test "$(command -v zintor)" = /usr/bin/zintor
  vexla --render /tmp/v.wav --seconds 2 --seed 3 && zintor --render /tmp/z.wav --seconds 2 --seed 3
  # 44-byte header and two seconds of 16-bit stereo each.
  test "$(wc -c < /tmp/v.wav)" -eq 352844 && test "$(wc -c < /tmp/z.wav)" -eq 352844'
echo "clean Debian 12 root: the package installs with apt and both programs render from /usr/bin"
