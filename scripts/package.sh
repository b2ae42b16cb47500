#!/usr/bin/env bash
# Makes the packages into dist/ from what the builds install: the .deb of the native command line
# (program, manual page, copyright and changelog), the .zip of the two Windows executables (32-bit
# Orvane.exe and 64-bit Orvane64.exe) with a README for Windows users and the license; the source
# release of the last commit, orvane-VERSION.tar.gz; and SHA256SUMS of the three.
#   scripts/package.sh            (scripts/check-packages.sh then checks what they hold)
# The same sources give the same bytes wherever and whenever they are packaged: every time inside
# is the last commit's (or SOURCE_DATE_EPOCH's, when set), every file owned by root, every list in
# a fixed order.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
# shellcheck source=scripts/variants.sh
source scripts/variants.sh
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
# The modes of every folder and control file made below, whatever the caller's umask.
umask 022

# The .deb's program is built as Debian builds the programs it packages: with the flags of
# dpkg-buildflags, every hardening feature on (stack protector, fortified functions, relocations
# read-only and bound at start). The project's own options come after them and win.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
debian_flags=(
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
)

# Each build makes only what it installs, without its tests (which need more than the packages do),
# and installs it into the one staging folder, laid out as Debian's tools expect: debian/orvane/ is
# the .deb's root, beside the package's control fields and changelog in debian/;
# orvane-VERSION-windows/ is the .zip's folder, where both Windows builds go. Each is built in a
# folder of its own, so that the presets' own builds keep their flags and their tests.
cmake --preset linux -B build/deb -DBUILD_TESTING=OFF "${debian_flags[@]}" >/dev/null
for preset in "${windows_builds[@]}"; do
  cmake --preset "$preset" -B "build/package-$preset" -DBUILD_TESTING=OFF >/dev/null
done
cmake --build build/deb -j "$(nproc)" --target orvane_packaged >/dev/null
for preset in "${windows_builds[@]}"; do
  cmake --build "build/package-$preset" -j "$(nproc)" --target orvane_packaged >/dev/null
done
version=$(cat build/deb/version.txt)
dist=$PWD/dist
stage=$PWD/build/stage
deb_root=$stage/debian/orvane
zip_folder=orvane-$version-windows
rm -rf "$stage" "$dist"
cmake --install build/deb --prefix "$deb_root/usr" >/dev/null
# Stripped as Debian strips: the symbols, and the compilers' notes, which the program does not use.
strip --remove-section=.comment --remove-section=.note "$deb_root/usr/bin/orvane"
for preset in "${windows_builds[@]}"; do
  cmake --install "build/package-$preset" --prefix "$stage/$zip_folder" >/dev/null
done

# The .deb's control file from Debian's tools: the dependencies from the libraries the program
# links, the version from the changelog, the architecture from the system, the installed size from
# the staged files.
cp build/deb/debian/control build/deb/debian/changelog "$stage/debian/"
mkdir "$deb_root/DEBIAN"
(cd "$stage" && dpkg-shlibdeps -e"$deb_root/usr/bin/orvane" && dpkg-gencontrol -P"$deb_root")
(cd "$deb_root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)

find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
mkdir "$dist"
# dpkg-deb sorts the files and clamps their times to SOURCE_DATE_EPOCH. One compression thread: xz
# lays out its output differently with several, so the builder's processor count would show.
dpkg-deb --root-owner-group --threads-max=1 --build "$deb_root" "$dist" >/dev/null
# Python's zip (Debian's) writes a folder's entries in sorted order, each time as local time: UTC.
(cd "$stage" && TZ=UTC0 /usr/bin/python3 -m zipfile -c "$dist/$zip_folder.zip" "$zip_folder")
# The source release: the files of the last commit (never changes not yet committed, nor anything
# built), in one folder orvane-VERSION/, with the packages' time, owners and order, and modes that
# do not depend on who unpacks git's archive here.
source_folder=orvane-$version
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "package.sh: $source_folder.tar.gz holds the last commit, without the changes not committed"
fi
git archive --format=tar --prefix="$source_folder/" HEAD | tar -xf - -C "$stage"
tar --format=gnu --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
  --mode=a+rX,u+w,go-w -cf - -C "$stage" "$source_folder" | gzip -9n >"$dist/$source_folder.tar.gz"
(cd "$dist" && sha256sum -- *.deb *.zip *.tar.gz >SHA256SUMS)
ls -l "$dist"
