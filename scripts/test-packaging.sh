#!/usr/bin/env bash
# Proves that the system is usable once installed, by a project that has never seen this tree:
#   1. `cmake --install` into a staging prefix; a consumer project outside the tree finds the
#      CMake package there (and only there), builds and runs a patch/unpatch round trip; the
#      same program also builds from the pkg-config file alone; a C99 program builds against
#      the installed shared library and runs its round trip.
#   2. The Debian packages from debian/ (the tool, the shared library, the development files,
#      the debug symbols), built twice to the same bytes: lintian finds nothing to say, even
#      pedantically; installed with dpkg, programs, manual pages, completion and both
#      libraries used from /usr, removed again.
#   3. The Windows zip from the cross build holds the programs, the DLL with its import
#      library and header, and the license texts; the programs run under wine, and so does the
#      C program built against the zip's DLL.
# Needs root (dpkg -i) and the packages of scripts/setup.sh. Builds in build-pkg/ and
# build-pkg-win/; everything else happens in a temporary directory that is removed at the end,
# and the packages are removed even when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
linux_build=$root/build-pkg
windows_build=$root/build-pkg-win
consumer_source=$root/tests/consumer
cxx=${CXX:-c++}

stage() { printf '\n---- packaging: %s ----\n' "$*"; }
fail() {
    echo "test-packaging: FAIL: $*" >&2
    exit 1
}

work=$(mktemp -d)
installed_packages=()
cleanup() {
    local status=$?
    if [ ${#installed_packages[@]} -gt 0 ]; then
        if ! dpkg -r "${installed_packages[@]}" >/dev/null; then
            echo "test-packaging: FAIL: could not remove ${installed_packages[*]}" >&2
            status=1
        fi
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" -eq 0 ] || fail "must run as root: the .deb is installed with dpkg -i"

# Runs a command with its output kept aside, and shows that output only when the command fails.
quietly() {
    if ! "$@" >"$work/last-output" 2>&1; then
        cat "$work/last-output" >&2
        return 1
    fi
}

# An installed file must work wherever it lands, so it may name neither this source tree nor
# its build trees; and the in-tree helper targets must stay out of the package.
check_installed_tree() {
    local tree=$1 what=$2 hits source
    for source in "$root" "$work/debian-a"; do
        hits=$(grep -rlF -- "$source" "$tree" || true)
        [ -z "$hits" ] || fail "$what: files name the build machine's path $source: $hits"
    done
    hits=$(grep -rlE -- 'vexlor_bindings_internal|vexlor_build_options' "$tree" || true)
    [ -z "$hits" ] || fail "$what: files refer to in-tree targets: $hits"
    hits=$(cd "$tree" && find . -path '*/include/*' -type f | sed 's|.*/include/||' | sort)
    [ "$hits" = "$(printf 'vexlor/bindings.h\nvexlor/bindings_c.h')" ] ||
        fail "$what: headers installed are not just vexlor/bindings.h and vexlor/bindings_c.h: $hits"
}

# Writes a small bindings document, patches and unpatches it with the given vexlor-bindings,
# and checks the marker, the backup and the restored bytes.
cli_round_trip() {
    local tool=$1 dir=$2
    local file=$dir/vrcompositor_bindings_generic_hmd.json
    mkdir -p "$dir"
    printf '{\n    "bindings": {},\n    "controller_type": "generic_hmd"\n}' >"$file"
    cp "$file" "$work/original.json"
    quietly "$tool" patch "$dir" || fail "$tool patch $dir failed"
    grep -q '"vexlor_patched_v2": true' "$file" || fail "$tool patch: no marker in $file"
    cmp -s "$work/original.json" "$file.vexlor_backup" || fail "$tool patch: backup differs from the original"
    quietly "$tool" unpatch "$dir" || fail "$tool unpatch $dir failed"
    cmp -s "$work/original.json" "$file" || fail "$tool unpatch: original bytes not restored"
}

# Builds the C99 program of the C interface's tests as $work/NAME with the C compiler and the
# flags given (the last ones link the shared library), with an empty directory for its round
# trip in $work/scratch-NAME.
build_c_program() {
    local name=$1 compiler=$2
    shift 2
    mkdir -p "$work/scratch-$name"
    "$compiler" -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/$name" \
        "$root/tests/c_api/c_api_test.c" "$@"
}
c_api_round_trip() {
    build_c_program "$@"
    quietly "$work/$1" "$work/scratch-$1" || fail "C interface round trip ($1)"
}

# Configures and builds the consumer project in $1 with the extra arguments given, checks that
# it found the package in the directory $2, and runs its round trip.
build_and_run_consumer() {
    local build=$1 expected_dir=$2 found
    shift 2
    cmake -S "$consumer_source" -B "$build" -G Ninja "$@" >/dev/null
    found=$(sed -n 's/^vexlor_bindings_DIR:PATH=//p' "$build/CMakeCache.txt")
    [ "$found" = "$expected_dir" ] || fail "consumer found the package in '$found', expected '$expected_dir'"
    cmake --build "$build" >/dev/null
    quietly "$build/vexlor_consumer" "$build/scratch" || fail "consumer round trip against $expected_dir"
}

stage "Linux build"
# The packaged programs take the C++ runtime from Debian, which keeps it up to date.
cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVEXLOR_BUILD_TESTS=OFF -DVEXLOR_STATIC_RUNTIME=OFF >/dev/null
cmake --build "$linux_build" -j2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux_build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $linux_build/CMakeCache.txt"
multiarch_libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$linux_build/CMakeCache.txt")

stage "install into a staging prefix, use it from a project outside the tree"
prefix=$work/stage
cmake --install "$linux_build" --prefix "$prefix" >/dev/null
check_installed_tree "$prefix" "staged install"
for f in bin/vexlor-bindings bin/vexlor-verify "$multiarch_libdir/libvexlor_bindings.a" \
    "$multiarch_libdir/libvexlor-bindings.so.1" "$multiarch_libdir/libvexlor-bindings.so" \
    "$multiarch_libdir/cmake/vexlor_bindings/vexlor_bindingsConfig.cmake" \
    "$multiarch_libdir/cmake/vexlor_bindings/vexlor_bindingsConfigVersion.cmake" \
    "$multiarch_libdir/pkgconfig/vexlor_bindings.pc"; do
    [ -f "$prefix/$f" ] || fail "staged install lacks $f"
done
build_and_run_consumer "$work/consumer-staged" "$prefix/$multiarch_libdir/cmake/vexlor_bindings" \
    -DCMAKE_PREFIX_PATH="$prefix"
# The version file refuses what this version cannot give: a later minor, another major.
IFS=. read -r major minor _ <<<"$version"
for wanted in "$major.$((minor + 1))" "$((major + 1)).0"; do
    mkdir -p "$work/wants-$wanted"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(wants LANGUAGES CXX)\n%s\n' \
        "find_package(vexlor_bindings $wanted REQUIRED)" >"$work/wants-$wanted/CMakeLists.txt"
    if cmake -S "$work/wants-$wanted" -B "$work/wants-$wanted/build" -DCMAKE_PREFIX_PATH="$prefix" \
        >"$work/wants.log" 2>&1; then
        fail "find_package(vexlor_bindings $wanted) accepted version $version"
    fi
    grep -q 'compatible with requested version' "$work/wants.log" ||
        fail "find_package(vexlor_bindings $wanted) failed for another reason: $(cat "$work/wants.log")"
done

pc_dir=$prefix/$multiarch_libdir/pkgconfig
pc_version=$(PKG_CONFIG_PATH=$pc_dir pkg-config --modversion vexlor_bindings)
[ "$pc_version" = "$version" ] || fail "pkg-config says version '$pc_version', expected '$version'"
# shellcheck disable=SC2046  # the flags are meant to split into words
"$cxx" -std=c++17 -Wall -Wextra -Werror -o "$work/pc-consumer" "$consumer_source/main.cpp" \
    $(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs vexlor_bindings)
quietly "$work/pc-consumer" "$work/scratch-pc" || fail "pkg-config consumer round trip"
cli_round_trip "$prefix/bin/vexlor-bindings" "$work/scratch-staged-cli"
c_api_round_trip c-consumer-staged "${CC:-cc}" -I"$prefix/include" -L"$prefix/$multiarch_libdir" \
    -Wl,-rpath,"$prefix/$multiarch_libdir" -lvexlor-bindings
# The README's uninstall line removes every installed file.
xargs -rd '\n' rm -f -- <"$linux_build/install_manifest.txt"
left=$(find "$prefix" -type f)
[ -z "$left" ] || fail "uninstalling by install_manifest.txt left: $left"
echo "staged install: CMake package, pkg-config file and programs OK, uninstalled"

stage "Debian packages: dpkg-buildpackage twice, in two directories"
# dpkg-buildpackage writes its packages beside the source tree, so it builds a copy of this
# one (without build trees or .git) in the scratch directory. Two builds must give the same
# bytes: the packages carry the changelog's date (SOURCE_DATE_EPOCH) and no build path.
build_debs() {
    local dir=$1
    mkdir -p "$dir/vexlor-bindings"
    tar -C "$root" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$dir/vexlor-bindings" -xf -
    if ! (cd "$dir/vexlor-bindings" && dpkg-buildpackage -us -uc -b) >"$dir/build.log" 2>&1; then
        tail -n 40 "$dir/build.log" >&2
        fail "dpkg-buildpackage failed in $dir"
    fi
}
build_debs "$work/debian-a"
build_debs "$work/debian-b"
deb_version=$(dpkg-parsechangelog -l debian/changelog -S Version)
arch=$(dpkg --print-architecture)
debs=()
for package in vexlor-bindings vexlor-bindings-dev libvexlor-bindings1 vexlor-bindings-dbgsym \
    libvexlor-bindings1-dbgsym; do
    deb=$work/debian-a/${package}_${deb_version}_$arch.deb
    [ -f "$deb" ] || fail "dpkg-buildpackage made no $(basename "$deb")"
    cmp -s "$deb" "$work/debian-b/$(basename "$deb")" || fail "$(basename "$deb") differs between two builds"
    debs+=("$deb")
done
tool_deb=${debs[0]} dev_deb=${debs[1]} lib_deb=${debs[2]} dbgsym_deb=${debs[3]}
echo "reproducible: the same bytes twice for ${debs[*]##*/}"
for deb in "$tool_deb" "$dev_deb" "$lib_deb"; do
    dpkg-deb -x "$deb" "$work/deb-contents"
done
# The runtime package holds the library alone and says which version brought each symbol.
[ "$(dpkg-deb -c "$lib_deb" | grep -c '\.so')" -eq 2 ] || fail "$lib_deb: not just the library and its soname link"
dpkg-deb -I "$lib_deb" symbols | grep -q '^ vexlor_bindings_patch@VEXLOR_BINDINGS_1 ' ||
    fail "$lib_deb has no symbols file"
dpkg-deb -f "$dev_deb" Depends | grep -q "libvexlor-bindings1 (= $deb_version)" ||
    fail "$dev_deb does not depend on the same version of libvexlor-bindings1"
dpkg-deb -c "$dbgsym_deb" >"$work/dbgsym-listing"
grep -q '/usr/lib/debug/.build-id/.*\.debug$' "$work/dbgsym-listing" || fail "$dbgsym_deb holds no debug symbols"
if [ ! -x "$work/deb-contents/usr/libexec/vexlor-bindings/vexlor-verify" ] ||
    [ -e "$work/deb-contents/usr/bin/vexlor-verify" ]; then
    fail "vexlor-verify is not in /usr/libexec/vexlor-bindings alone"
fi
check_installed_tree "$work/deb-contents" "the .debs"
dpkg-deb -f "$dev_deb" Depends | grep -q 'nlohmann-json3-dev (>= 3.11.2)' ||
    fail "$dev_deb does not depend on nlohmann-json3-dev"
! dpkg-deb -f "$tool_deb" Depends | grep -q 'dev' ||
    fail "$tool_deb depends on development packages: $(dpkg-deb -f "$tool_deb" Depends)"
dpkg-deb -f "$tool_deb" Depends | grep -q 'libstdc++6' ||
    fail "$tool_deb does not take the C++ runtime from Debian: $(dpkg-deb -f "$tool_deb" Depends)"
# Every tag counts, pedantic ones included; a tag lintian gets wrong is overridden in
# debian/<package>.lintian-overrides, with the reason.
lintian_status=0
lintian --pedantic --fail-on error,warning,pedantic "${debs[@]}" >"$work/lintian" 2>&1 ||
    lintian_status=$?
grep -v '^running with root privileges' "$work/lintian" || true
if [ "$lintian_status" -ne 0 ] || grep -q '^[EWP]:' "$work/lintian"; then
    fail "lintian has complaints (exit status $lintian_status)"
fi
echo "lintian --pedantic: nothing to report on ${debs[*]##*/}"

for package in vexlor-bindings vexlor-bindings-dev libvexlor-bindings1; do
    if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        fail "package $package is already installed on this machine; remove it (dpkg -r $package) first"
    fi
done
installed_packages=(vexlor-bindings-dev libvexlor-bindings1 vexlor-bindings) # from here on, removed at exit whatever happens
dpkg -i "$tool_deb" "$dev_deb" "$lib_deb" >/dev/null
out=$(/usr/bin/vexlor-bindings --version)
[ "$out" = "vexlor-bindings $version" ] || fail "/usr/bin/vexlor-bindings --version printed '$out'"
cli_round_trip /usr/bin/vexlor-bindings "$work/scratch-deb-cli"
/usr/libexec/vexlor-bindings/vexlor-verify | grep -qx 'ALL PASS' || fail "vexlor-verify did not pass"
for program in vexlor-bindings vexlor-verify; do
    page=$(man -w "$program") || fail "man finds no page for $program"
    [ "$page" = "/usr/share/man/man1/$program.1.gz" ] || fail "man found $page for $program"
    man -l "$page" 2>&1 >/dev/null | grep . && fail "man -l $page complains"
done
complete_line=$(bash -c 'source /usr/share/bash-completion/completions/vexlor-bindings && complete -p vexlor-bindings') ||
    fail "the installed bash completion does not load"
echo "bash completion: $complete_line"
quietly tests/completion_test.sh /usr/share/bash-completion/completions/vexlor-bindings ||
    fail "the installed bash completion does not complete names with blanks"
[ -f /usr/share/zsh/vendor-completions/_vexlor-bindings ] || fail "no zsh completion installed"
build_and_run_consumer "$work/consumer-system" "/usr/$multiarch_libdir/cmake/vexlor_bindings"
cflags=$(pkg-config --cflags vexlor_bindings)
case "$cflags" in
*..* | *"-I/usr/include"*) fail "pkg-config --cflags is not normalized: $cflags" ;;
*-std=c++17*) ;;
*) fail "pkg-config --cflags leaves out -std=c++17: $cflags" ;;
esac
# shellcheck disable=SC2046  # no -std= of its own: the pkg-config flags bring it
"$cxx" -Wall -Wextra -Werror -o "$work/pc-consumer-system" "$consumer_source/main.cpp" \
    $(pkg-config --cflags --libs vexlor_bindings)
quietly "$work/pc-consumer-system" "$work/scratch-pc-system" || fail "pkg-config consumer against /usr"
c_api_round_trip c-consumer-system "${CC:-cc}" -lvexlor-bindings
dpkg -r "${installed_packages[@]}" >/dev/null
installed_packages=()
[ ! -e /usr/bin/vexlor-bindings ] || fail "dpkg -r left /usr/bin/vexlor-bindings behind"
[ ! -e /usr/include/vexlor ] || fail "dpkg -r left /usr/include/vexlor behind"
echo "Debian packages ${debs[*]:0:3}: installed, used and removed OK" | sed "s|$work/debian-a/||g"

stage "Windows cross build and zip"
cmake -S . -B "$windows_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DVEXLOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$windows_build" -j2
(cd "$windows_build" && cpack -G ZIP >/dev/null)
zip=$windows_build/vexlor-bindings-$version-win64.zip
[ -f "$zip" ] || fail "cpack made no $zip"
unzip -Z1 "$zip" >"$work/zip-listing"
top=vexlor-bindings-$version-win64
for f in bin/vexlor-bindings.exe bin/vexlor-verify.exe include/vexlor/bindings.h \
    bin/vexlor_bindings.dll include/vexlor/bindings_c.h lib/vexlor_bindings.lib lib/vexlor_bindings.def \
    lib/libvexlor_bindings.a lib/cmake/vexlor_bindings/vexlor_bindingsConfig.cmake \
    lib/pkgconfig/vexlor_bindings.pc LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    grep -qx "$top/$f" "$work/zip-listing" || fail "$zip lacks $top/$f"
done
unzip -q "$zip" -d "$work/win"
cmp -s LICENSE "$work/win/$top/LICENSE.txt" || fail "$zip: LICENSE.txt is not this project's LICENSE"
for line in '^Copyright (c) .*Niels Lohmann' \
    '^The above copyright notice and this permission notice shall be included'; do
    grep -q "$line" "$work/win/$top/THIRD-PARTY-NOTICES.txt" || fail "$zip: no MIT notice of the JSON library"
done
for line in '^Copyright (c) .*Yann Collet' '^\* Redistributions in binary form must reproduce'; do
    grep -q "$line" "$work/win/$top/THIRD-PARTY-NOTICES.txt" || fail "$zip: no BSD notice of xxHash"
done
check_installed_tree "$work/win/$top" "$zip"
wine_run() {
    env WINEDEBUG=-all WINEPREFIX="$windows_build/wineprefix" WINEDLLOVERRIDES=mscoree,mshtml= \
        wine "$@"
}
wine_run "$work/win/$top/bin/vexlor-bindings.exe" --version >"$work/wine-version" ||
    fail "vexlor-bindings.exe --version failed under wine"
out=$(tr -d '\r' <"$work/wine-version")
[ "$out" = "vexlor-bindings $version" ] || fail "vexlor-bindings.exe --version printed '$out'"
wine_run "$work/win/$top/bin/vexlor-verify.exe" >"$work/wine-verify" ||
    fail "vexlor-verify.exe failed under wine: $(cat "$work/wine-verify")"
tr -d '\r' <"$work/wine-verify" | grep -qx 'ALL PASS' || fail "vexlor-verify.exe did not print ALL PASS"
# A C program built against the zip alone, run beside the DLL, as an installer would ship it.
build_c_program c-consumer.exe x86_64-w64-mingw32-gcc-posix -I"$work/win/$top/include" \
    "$work/win/$top/lib/vexlor_bindings.lib"
cp "$work/win/$top/bin/vexlor_bindings.dll" "$work/"
wine_run "$work/c-consumer.exe" "$work/scratch-c-consumer.exe" >"$work/wine-c" 2>&1 ||
    fail "the C program against vexlor_bindings.dll failed under wine: $(cat "$work/wine-c")"
echo "Windows zip $(basename "$zip"): programs and DLL present and running under wine OK"

stage "all packaging checks passed"
