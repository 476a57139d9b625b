#!/bin/sh
# Installs the build into a scratch prefix with `cmake --install` and runs the
# installed program on the sample image, next to the program in the build
# tree.
#
#   check_install.sh CMAKE BUILD_DIR SCRATCH D88SAMPLE BUILT_D88UNPACK VERSION
set -eu
cmake=$1 build=$2 scratch=$3 sample=$4 built=$5 version=$6

rm -rf "$scratch"
mkdir -p "$scratch"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# Exactly the program and its manual page.
installed=$(cd "$prefix" && find . -type f | sort)
expected='./bin/d88unpack
./share/man/man1/d88unpack.1'
if [ "$installed" != "$expected" ]; then
  printf 'installed files:\n%s\nexpected:\n%s\n' "$installed" "$expected"
  exit 1
fi
test -x "$prefix/bin/d88unpack"
grep -q "d88unpack $version" "$prefix/share/man/man1/d88unpack.1"
test "$("$prefix/bin/d88unpack" --version)" = "d88unpack $version"

"$sample" "$scratch/sample.d88"
mkdir "$scratch/installed" "$scratch/built"
(cd "$scratch/installed" && "$prefix/bin/d88unpack" ../sample.d88 >../installed.out 2>../installed.err)
(cd "$scratch/built" && "$built" ../sample.d88 >../built.out 2>../built.err)
cd "$scratch"
test ! -s installed.err || { cat installed.err; exit 1; }
cmp installed.out built.out
diff -r installed built
grep -q '^README     START:02 01    END:02 01   SIZE:0400$' installed.out
test -s installed/000/README
test -s installed/001/PROGRAM
rm -rf "$scratch"
echo "installed program works"
