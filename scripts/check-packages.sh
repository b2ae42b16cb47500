#!/usr/bin/env bash
# Checks what scripts/package.sh made in dist/: the .deb's files and lintian's verdict (no error),
# the program, its manual page and its completion installed from it into a scratch root and used
# there, the .zip's files, and the checksums.
set -u
cd "$(dirname "$0")/.."
source tests/support/checks.sh
dist=$PWD/dist
version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$dist/orvane_${version}_amd64.deb
zip=$dist/orvane-$version-windows.zip
enter_scratch_folder

dpkg-deb -c "$deb" | awk '{ print $6 }' >deb.txt
for file in ./usr/bin/orvane ./usr/share/man/man1/orvane.1.gz ./usr/share/doc/orvane/copyright \
  ./usr/share/doc/orvane/changelog.gz ./usr/share/bash-completion/completions/orvane; do
  check ".deb holds $file" grep -qx "$file" deb.txt
done
lintian "$deb" >lintian.txt 2>&1
cat lintian.txt
check "lintian: no error" test -z "$(grep '^E:' lintian.txt)"

# Installed through dpkg into an empty root of its own (the host's libraries serve the program).
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
: >"$root/var/lib/dpkg/status"
check "dpkg installs it" dpkg --root="$root" --force-depends --force-script-chrootless \
  --force-not-root -i "$deb" >dpkg.txt 2>&1
check "installed: orvane --version" test "$("$root/usr/bin/orvane" --version)" = "orvane $version"
check "installed: man orvane" test -n "$(MANPATH=$root/usr/share/man man -w orvane 2>/dev/null)"
# bash-completion finds it where it looks for a command's completion, as it would under /usr.
check "installed: bash completes orvane" env XDG_DATA_DIRS="$root/usr/share" bash -c \
  'source /usr/share/bash-completion/bash_completion && __load_completion orvane &&
    complete -p orvane >/dev/null'

unzip -Z1 "$zip" >zip.txt
for file in Orvane.exe Orvane64.exe README.md LICENSE; do
  check ".zip holds $file" grep -qx "orvane-$version-windows/$file" zip.txt
done
check "checksums" bash -c "cd '$dist' && sha256sum --quiet -c SHA256SUMS"

report
