#!/bin/sh
# Builds the release packages into dist/, all from the source tarball of the
# committed tree (HEAD), so nothing outside it can slip into a package:
#   pelx04-VERSION.tar.gz              the source (git archive)
#   pelx04-VERSION-windows-x64.zip     pelx04.dll for 64-bit hosts, LICENSE,
#   pelx04-VERSION-windows-x86.zip     README-windows.txt, examples/ for a host
#   lua-pelx04_VERSION-1_amd64.deb     dpkg-buildpackage -b from debian/, with
#                                      the Release suite; lintian must report no error
#   SHA256SUMS
# Work files go to build-package/. Prints how long each part took.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
dist="$root/dist"
work="$root/build-package"

scripts/deps.sh build test windows package
version=$(sed -n 's/^project(pelx04 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in project() of CMakeLists.txt" >&2; exit 1; }
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "note: the packages are made from HEAD; uncommitted changes are left out" >&2
fi
rm -rf "$dist" "$work"
mkdir -p "$dist" "$work"
started=$(date +%s)
lap=$started
timed() {
  now=$(date +%s)
  echo "-- $1: $((now - lap)) s"
  lap=$now
}
fail() {
  echo "package.sh: $*" >&2
  exit 1
}

# --- The source.
tarball="$dist/pelx04-$version.tar.gz"
git archive --format=tar.gz --prefix="pelx04-$version/" -o "$tarball" HEAD
timed "source tarball"

# --- The Windows zips: a folder named like the zip, with notes in Windows
# line endings.
mkdir -p "$work/windows"
tar -xzf "$tarball" -C "$work/windows"
src="$work/windows/pelx04-$version"
for arch in x64 x86; do
  case $arch in x64) triplet=x86_64-w64-mingw32 ;; x86) triplet=i686-w64-mingw32 ;; esac
  log="$work/build-mingw-$arch.log"
  (cd "$src" && cmake --preset "mingw-$arch" && cmake --build --preset "mingw-$arch" --target pelx04) >"$log" 2>&1 ||
    { tail -n 30 "$log"; fail "the $arch DLL did not build"; }
  name="pelx04-$version-windows-$arch"
  stage="$work/zip-$arch/$name"
  mkdir -p "$stage/examples"
  "$triplet-strip" --strip-unneeded -o "$stage/pelx04.dll" "$src/build-mingw-$arch/lua/pelx04.dll"
  sed 's/$/\r/' "$src/LICENSE" >"$stage/LICENSE"
  sed 's/$/\r/' "$src/build-mingw-$arch/README-windows.txt" >"$stage/README-windows.txt"
  for example in "$src"/examples/host/*.lua; do
    sed 's/$/\r/' "$example" >"$stage/examples/$(basename "$example")"
  done
  (cd "$work/zip-$arch" && zip -qrX "$dist/$name.zip" "$name")
  timed "windows-$arch zip"
done

# --- The Debian package, built the Debian way in a tree of its own.
mkdir -p "$work/debian"
tar -xzf "$tarball" -C "$work/debian"
debsrc="$work/debian/pelx04-$version"
debversion=$(cd "$debsrc" && dpkg-parsechangelog -S Version)
deb="lua-pelx04_${debversion}_$(dpkg --print-architecture).deb"
(cd "$debsrc" && DEB_BUILD_OPTIONS="noautodbgsym parallel=$(nproc 2>/dev/null || echo 2)" \
  dpkg-buildpackage -b -us -uc) >"$work/dpkg-buildpackage.log" 2>&1 ||
  { tail -n 40 "$work/dpkg-buildpackage.log"; fail "dpkg-buildpackage failed (log: $work/dpkg-buildpackage.log)"; }
grep -E '^[0-9]+% tests passed' "$work/dpkg-buildpackage.log" || true
cp "$work/debian/$deb" "$dist/"
timed "Debian package (with its test suite)"
lintian --fail-on error --tag-display-limit 0 "$dist/$deb" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian reports errors"; }
sed 's/^/lintian: /' "$work/lintian.log"
timed "lintian"

(cd "$dist" && sha256sum -- *.tar.gz *.zip *.deb >SHA256SUMS)
ls -l "$dist"
echo "-- packages: $(($(date +%s) - started)) s"
