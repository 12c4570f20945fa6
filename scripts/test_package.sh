#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 system that has never seen
# the project, and runs the installed programs there.
#
#   scripts/test_package.sh [deb]
#
# deb defaults to the package scripts/package.sh makes (it is made first when
# missing). A minimal Debian 12 (debootstrap --variant=minbase bookworm: no
# compiler, no build tree) is made once in build-pkg/debian12.pristine; every
# run works in a fresh copy of it, where it
#  1. installs the package with apt-get install ./brindle_*.deb, so that the
#     declared dependencies are all it gets;
#  2. checks brindle --version, the manual pages and vexgen --version;
#  3. runs the demo range: vexgen's default candidate file, then
#     brindle -f 1000000000 1150000000, which must end with status 0 and
#     file the same fact.txt and factexcl.txt as the build tree's brindle;
#  4. runs brindle --self-test.
# Needs root, debootstrap and a Debian mirror (http://deb.debian.org/debian
# unless BRINDLE_MIRROR says otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-}
if [ -z "$deb" ]; then
  ls build-pkg/brindle_*_amd64.deb >/dev/null 2>&1 || ./scripts/package.sh
  deb=$(ls build-pkg/brindle_*_amd64.deb | tail -1)
fi
[ -f "$deb" ] || { echo "test_package.sh: no package $deb" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "test_package.sh: debootstrap not found (apt-get install debootstrap)" >&2; exit 1; }

mirror=${BRINDLE_MIRROR:-http://deb.debian.org/debian}
pristine=build-pkg/debian12.pristine
if [ ! -e "$pristine/etc/debian_version" ]; then
  rm -rf "$pristine"
  debootstrap --variant=minbase bookworm "$pristine" "$mirror"
fi

root=$(realpath -m build-pkg/debian12.test)
rm -rf "$root"
cp -a "$pristine" "$root"
cleanup() {
  umount "$root/proc" 2>/dev/null || true
  umount "$root/dev" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "== test_package.sh: apt-get install ./$(basename "$deb") on a clean Debian 12"
in_root sh -c 'command -v c++ cc cmake brindle' && { echo "test_package.sh: the clean system is not clean" >&2; exit 1; }
in_root apt-get update -q
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "/tmp/$(basename "$deb")" </dev/null

echo "== test_package.sh: installed programs"
in_root brindle --version
in_root vexgen --version
for page in brindle vexgen; do
  [ -s "$root/usr/share/man/man1/$page.1.gz" ] || [ -s "$root/usr/share/man/man1/$page.1" ] ||
    { echo "test_package.sh: no manual page for $page" >&2; exit 1; }
done

echo "== test_package.sh: demo range in the clean system"
in_root sh -c 'mkdir /tmp/demo && cd /tmp/demo && vexgen -o Vex.dat >/dev/null && brindle -f 1000000000 1150000000 >run.log && tail -3 run.log'
# The same range with a build tree's programs (scripts/test.sh's build/, or
# scripts/package.sh's build-pkg/), when there are any.
tree=
for d in build build-pkg; do
  if [ -x "$d/brindle" ] && [ -x "$d/vexgen" ]; then tree=$d; break; fi
done
if [ -n "$tree" ]; then
  ref=$(mktemp -d)
  (cd "$ref" && "$OLDPWD/$tree/vexgen" -o Vex.dat >/dev/null && "$OLDPWD/$tree/brindle" -f 1000000000 1150000000 >/dev/null)
  for f in fact.txt factexcl.txt; do
    cmp "$ref/$f" "$root/tmp/demo/$f" || { echo "test_package.sh: the installed brindle's $f differs" >&2; exit 1; }
  done
  rm -rf "$ref"
  echo "fact.txt and factexcl.txt are the same as $tree/brindle's"
fi

echo "== test_package.sh: self-test in the clean system"
in_root brindle --self-test
echo "test_package.sh: the package installs and runs on a clean Debian 12"
