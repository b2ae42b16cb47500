#!/usr/bin/env bash
# Checks what scripts/package.sh made in dist/: the .deb's files and lintian's verdict (nothing to
# report, pedantic tags included), the program, its manual page and its completion installed from it
# into a scratch root and used there, the .zip's files and their line ends, the source release's
# files and times, and that it builds and installs the program with the tests off; then that anyone
# can make them again bit for bit: the same sources, copied into another folder, packaged there
# later into other build folders, give the same bytes in every file of dist/.
set -u
cd "$(dirname "$0")/.."
source tests/support/checks.sh
# shellcheck source=scripts/variants.sh
source scripts/variants.sh
sources=$PWD
dist=$PWD/dist
version=$(cat build/deb/version.txt)
deb=$dist/orvane_${version}_$(dpkg --print-architecture).deb
zip=$dist/orvane-$version-windows.zip
release=$dist/orvane-$version.tar.gz
enter_scratch_folder

dpkg-deb -c "$deb" | awk '{ print $6 }' >deb.txt
for file in ./usr/bin/orvane ./usr/share/man/man1/orvane.1.gz ./usr/share/doc/orvane/copyright \
  ./usr/share/doc/orvane/changelog.gz ./usr/share/bash-completion/completions/orvane; do
  check ".deb holds $file" grep -qx "$file" deb.txt
done
# Every tag lintian knows, down to its pedantic ones and its notes, as Debian's own uploads are read.
# A lintian that cannot run at all says so on standard error only, and with its exit status.
lintian -I --pedantic "$deb" >lintian.txt
lintian_status=$?
cat lintian.txt
check "lintian -I --pedantic: nothing to report" test $lintian_status -eq 0 -a ! -s lintian.txt

# Installed through dpkg into an empty root of its own (the host's libraries serve the program).
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
: >"$root/var/lib/dpkg/status"
check "dpkg installs it" dpkg --root="$root" --force-depends --force-script-chrootless \
  --force-not-root -i "$deb" >dpkg.txt 2>&1
check "installed: orvane --version" test "$("$root/usr/bin/orvane" --version | head -n 1)" = "orvane $version"
# The C library alone, and the loader it names in turn: nothing of the C++ runtime is looked for
# and loaded at each start.
libc_alone() {  # libc_alone PROGRAM
  local library libc=no
  for library in $(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
    case $library in
      libc.so.6) libc=yes ;;
      ld-linux*.so.*) ;;
      *) echo "it needs $library" && return 1 ;;
    esac
  done
  test $libc = yes
}
check "installed: the program needs the C library alone" libc_alone "$root/usr/bin/orvane"
check "installed: man orvane" test -n "$(MANPATH=$root/usr/share/man man -w orvane 2>/dev/null)"
# bash-completion finds it where it looks for a command's completion, as it would under /usr.
check "installed: bash completes orvane" env XDG_DATA_DIRS="$root/usr/share" bash -c \
  'source /usr/share/bash-completion/bash_completion && __load_completion orvane &&
    complete -p orvane >/dev/null'

# The .zip: its folder and these files in it, nothing else; its texts with Windows' line ends.
unzip -Z1 "$zip" | LC_ALL=C sort >zip.txt
printf "orvane-$version-windows/%s\n" "" LICENSE.txt "${windows_exes[@]}" README.txt |
  LC_ALL=C sort >expected.txt
check ".zip holds ${windows_exes[*]}, README.txt and LICENSE.txt" diff expected.txt zip.txt
crlf_only() {  # crlf_only FILE: FILE in the .zip has text, every line ended by CR LF
  unzip -p "$zip" "orvane-$version-windows/$1" >text.txt &&
    test -s text.txt && test -z "$(tail -c 2 text.txt | tr -d '\r')" && ! grep -qv $'\r$' text.txt
}
for file in README.txt LICENSE.txt; do
  check ".zip: $file ends its lines with CR LF" crlf_only "$file"
done

# The source release: the last commit's files in one folder, every one with the packages' time.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$sources" log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
tar -tzf "$release" | grep -v '/$' | LC_ALL=C sort >release.txt
git -C "$sources" ls-tree -r --name-only HEAD | sed "s|^|orvane-$version/|" | LC_ALL=C sort >expected.txt
check ".tar.gz holds the last commit's files, in orvane-$version/" diff expected.txt release.txt
check ".tar.gz: every time the packages' time" test \
  "$(tar -tvzf "$release" --full-time --utc | awk '{ print $4 " " $5 }' | sort -u)" = \
  "$(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T')"
# Built from it as a packager would, with CMake and a compiler and the tests off: what it installs,
# and nothing of the tests looked for.
tar -xzf "$release"
cmake -S "orvane-$version" -B release-build -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release \
  >release-build.txt 2>&1 &&
  cmake --build release-build -j "$(nproc)" >>release-build.txt 2>&1 &&
  cmake --install release-build --prefix "$work/release-root" >>release-build.txt 2>&1
built=$?
check ".tar.gz builds and installs with the tests off" test $built -eq 0
[ $built -eq 0 ] || tail -n 20 release-build.txt
(cd release-root && find . -type f | LC_ALL=C sort) >installed.txt
sed -n 's|^\./usr/|./|p' deb.txt | grep -v '/$' | LC_ALL=C sort >expected.txt
check ".tar.gz installs what the .deb holds" diff expected.txt installed.txt
check ".tar.gz: nothing the tests use looked for" test -z \
  "$(grep -i -E '^[^/#]*(doctest|benchmark|python|fuse)[^:]*:' release-build/CMakeCache.txt)"
check ".tar.gz: its orvane runs" test \
  "$(release-root/bin/orvane --version | head -n 1)" = "orvane $version"

# Made again from a clone of the last commit (for the source release) and the sources as they are
# over it (changes not yet committed included, as in dist/), with the time that dist/ took from the
# last commit: nothing of the first build's folders or clock may show.
copy=$work/orvane
git clone -q --no-checkout "$sources" "$copy"
git -C "$copy" checkout -q --detach "$(git -C "$sources" rev-parse HEAD)"
(cd "$sources" && git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read -cf -) | tar -xf - -C "$copy"
if ! bash "$copy/scripts/package.sh" >package.txt 2>&1; then
  cat package.txt
fi
check "made again: the same files" test "$(ls "$dist")" = "$(ls "$copy/dist")"
same_bytes() {  # same_bytes FILE AGAIN: the same, or what differs (diffoscope, the first lines)
  cmp -s "$1" "$2" && return
  diffoscope --text - "$1" "$2" | head -n 100
  return 1
}
for file in "$dist"/*; do
  check "made again bit for bit: ${file##*/}" same_bytes "$file" "$copy/dist/${file##*/}"
done

report
