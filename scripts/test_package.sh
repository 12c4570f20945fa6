#!/usr/bin/env bash
# Installs the Debian package on a clean Debian 12 system that has never seen
# the project, and runs the installed programs there.
#
#   scripts/test_package.sh [amd64|arm64]
#
# The package is the one scripts/package.sh makes (made first when missing;
# arm64 is cross-built). A minimal Debian 12 of that architecture
# (debootstrap --variant=minbase bookworm: no compiler, no build tree) is made
# once in build-pkg/debian12-<arch>.pristine; every run works in a fresh copy
# of it, where it
#  1. installs the package with apt-get install ./brindle_*.deb, so that the
#     declared dependencies are all it gets;
#  2. checks brindle --version, the manual pages and vexgen --version;
#  3. runs the demo range: vexgen's default candidate file, then
#     brindle -f 1000000000 1150000000, which must end with status 0 and
#     file the same fact.txt and factexcl.txt as the x86-64 build tree's
#     brindle;
#  4. runs brindle --self-test.
# Needs root, debootstrap and a Debian mirror (http://deb.debian.org/debian
# unless BRINDLE_MIRROR says otherwise). An arm64 system runs under
# qemu-user-static, which the kernel must know as the interpreter of arm64
# programs (binfmt_misc: cat /usr/lib/binfmt.d/qemu-aarch64.conf >
# /proc/sys/fs/binfmt_misc/register); the demo range then takes some minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-amd64}
case $arch in
  amd64) pkgdir=build-pkg; pkgarg= ;;
  arm64) pkgdir=build-pkg-arm64; pkgarg=arm64 ;;
  *) echo "test_package.sh: unknown architecture '$arch' (amd64 or arm64)" >&2; exit 1 ;;
esac
ls "$pkgdir"/brindle_*_"$arch".deb >/dev/null 2>&1 || ./scripts/package.sh $pkgarg
deb=$(ls "$pkgdir"/brindle_*_"$arch".deb | tail -1)
command -v debootstrap >/dev/null || { echo "test_package.sh: debootstrap not found (apt-get install debootstrap)" >&2; exit 1; }

mirror=${BRINDLE_MIRROR:-http://deb.debian.org/debian}
mkdir -p build-pkg
pristine=build-pkg/debian12-$arch.pristine
if [ ! -e "$pristine/etc/debian_version" ] || [ ! -e "$pristine/usr/bin/apt-get" ]; then
  rm -rf "$pristine"
  debootstrap --arch="$arch" --variant=minbase bookworm "$pristine" "$mirror"
fi

root=$(realpath -m "build-pkg/debian12-$arch.test")
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

echo "== test_package.sh: apt-get install ./$(basename "$deb") on a clean Debian 12 ($arch)"
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
# The same range with an x86-64 build tree's programs (scripts/test.sh's
# build/, or scripts/package.sh's build-pkg/), when there are any: the files
# are the same on every architecture.
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
echo "test_package.sh: the $arch package installs and runs on a clean Debian 12"
