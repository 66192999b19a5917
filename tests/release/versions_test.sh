#!/bin/sh
# The version is set once, in project() of CMakeLists.txt; the files that must
# carry it themselves are checked against it here.
#   versions_test.sh SOURCE_DIR VERSION
set -u
source_dir=$1
version=$2
failed=0
check() {
  if [ "$2" = "$3" ]; then echo "ok   $1: $2"; else echo "FAIL $1: '$2', want '$3'"; failed=1; fi
}

# LuaRocks finds the package file at the top by its name, so there is exactly one.
rockspecs=$(cd "$source_dir" && ls ./*.rockspec 2>/dev/null | sed 's|^\./||' | tr '\n' ' ')
check "rockspec file" "$rockspecs" "pelx04-$version-1.rockspec "
check "rockspec version" "$(sed -n 's/^version = "\(.*\)"$/\1/p' "$source_dir/pelx04-$version-1.rockspec" 2>/dev/null)" "$version-1"
check "debian/changelog" "$(sed -n '1s/^lua-pelx04 (\([^)-]*\)-[^)]*).*/\1/p' "$source_dir/debian/changelog")" "$version"
check "CHANGELOG.md" "$(sed -n 's/^## \([^ ]*\).*/\1/p' "$source_dir/CHANGELOG.md" | head -n 1)" "$version"
exit $failed
