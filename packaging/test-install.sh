#!/bin/sh
# Installs Kaleocore and kaleocmd into a temporary root and uses them from
# there as an outside program would: the example built with pkg-config and
# with CMake, kaleocmd -l and conversions, the manual page and completion;
# then builds the Debian packages, unpacks them into another root and runs
# them from it.
#   sh packaging/test-install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/kaleo-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() { echo "== $*"; }

# A 3 x 2 picture written by hand: red, green, blue over black, grey, white.
printf 'P3\n3 2\n255\n255 0 0  0 255 0  0 0 255\n0 0 0  128 128 128  255 255 255\n' > "$tmp/in.ppm"
# The same picture mirrored, as an independent decoder prints it.
mirrored="0 0 255 0 255 0 255 0 0 255 255 255 128 128 128 0 0 0"
# The pixels of a picture file as netpbm reads them, numbers on one line.
pixels() {
    case "$1" in
        *.png) pngtopnm "$1" ;;
        *.gif) giftopnm "$1" ;;
        *) cat "$1" ;;
    esac | pnmtoplainpnm | tail -n +4 | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'
}

step "installing the core component into a temporary root"
root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr --component core > "$tmp/install.log"
prefix=$root/usr
lib=$(dirname "$(find "$prefix" -name libkaleocore.a | head -n 1)")
[ -n "$lib" ] && [ -f "$lib/libkaleocore.a" ] || fail "no static library installed"
for f in "$lib/libkaleocore.so" "$prefix/include/kaleocore/kaleocore.h" "$lib/pkgconfig/kaleocore.pc" \
         "$lib/cmake/Kaleocore/KaleocoreConfig.cmake" "$prefix/bin/kaleocmd" \
         "$prefix/share/man/man1/kaleocmd.1.gz" "$prefix/share/bash-completion/completions/kaleocmd"; do
    [ -e "$f" ] || fail "$f is not installed"
done
soname=$(objdump -p "$lib/libkaleocore.so" | awk '$1 == "SONAME" { print $2 }')
[ -n "$soname" ] && [ -f "$lib/$soname" ] || fail "the shared library has no SONAME of an installed file"
case "$soname" in libkaleocore.so.[0-9]*) ;; *) fail "unexpected SONAME $soname" ;; esac
[ "$(cd "$prefix/include/kaleocore" && ls)" = "$(cd "$src/include/kaleocore" && ls)" ] ||
    fail "installed headers: $(ls "$prefix/include/kaleocore" | tr '\n' ' ')"

step "exported symbols: exactly the functions the public headers mark"
grep -ho 'KALEOCORE_API [^(]*(' "$prefix"/include/kaleocore/*.h | sed 's/($//; s/.*[ *&]//' | grep -v '^__attribute__' |
    sort -u > "$tmp/declared"
nm -D --defined-only "$lib/$soname" | awk '$2 ~ /^[TWDBR]$/ { print $3 }' | c++filt | sed 's/(.*//' | sort -u > "$tmp/exported"
diff "$tmp/declared" "$tmp/exported" > "$tmp/symbols.diff" || {
    cat "$tmp/symbols.diff" >&2
    fail "exports differ from the public headers (< declared only, > exported only)"
}

step "each public header compiles alone against the installed include folder"
for h in "$prefix"/include/kaleocore/*.h; do
    printf '#include <kaleocore/%s>\nint main() { return 0; }\n' "$(basename "$h")" > "$tmp/header.cpp"
    c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
        -I"$prefix/include" "$tmp/header.cpp" 2> "$tmp/header.log" || {
        cat "$tmp/header.log" >&2
        fail "$(basename "$h") does not compile on its own"
    }
done

step "the example built with pkg-config"
cp -r "$src/examples" "$tmp/ex-pc"
grep -qx 'prefix=/usr' "$lib/pkgconfig/kaleocore.pc" || fail "kaleocore.pc does not name the prefix /usr"
PKG_CONFIG_PATH=$lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root make -s -C "$tmp/ex-pc" > "$tmp/make.log" 2>&1 || { cat "$tmp/make.log" >&2; fail "make"; }
LD_LIBRARY_PATH=$lib ldd "$tmp/ex-pc/kaleoconvert" | grep -q "libkaleocore.so.* => $lib/" ||
    fail "the pkg-config build does not take the installed library"
LD_LIBRARY_PATH=$lib "$tmp/ex-pc/kaleoconvert" "$tmp/in.ppm" "$tmp/pc.png" png -xflip > "$tmp/run.log" ||
    fail "kaleoconvert (pkg-config) failed: $(cat "$tmp/run.log")"
[ "$(pixels "$tmp/pc.png")" = "$mirrored" ] || fail "kaleoconvert (pkg-config) wrote $(pixels "$tmp/pc.png")"

step "the example built with CMake (find_package)"
cmake -S "$src/examples" -B "$tmp/ex-cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$tmp/cmake.log" 2>&1 &&
    cmake --build "$tmp/ex-cmake" >> "$tmp/cmake.log" 2>&1 || { cat "$tmp/cmake.log" >&2; fail "cmake example"; }
ldd "$tmp/ex-cmake/kaleoconvert" | grep -q "libkaleocore.so.* => $lib/" ||
    fail "the CMake build does not take the installed library"
"$tmp/ex-cmake/kaleoconvert" "$tmp/in.ppm" "$tmp/cm.gif" gif > "$tmp/run.log" ||
    fail "kaleoconvert (CMake) failed: $(cat "$tmp/run.log")"
[ "$(pixels "$tmp/cm.gif")" = "$(pixels "$tmp/in.ppm")" ] || fail "kaleoconvert (CMake) wrote $(pixels "$tmp/cm.gif")"

step "the example linked with the static library (CMake)"
cmake -S "$src/examples" -B "$tmp/ex-static" -DCMAKE_PREFIX_PATH="$prefix" -DKALEOCONVERT_STATIC=ON > "$tmp/cmake.log" 2>&1 &&
    cmake --build "$tmp/ex-static" >> "$tmp/cmake.log" 2>&1 || { cat "$tmp/cmake.log" >&2; fail "static example"; }
! ldd "$tmp/ex-static/kaleoconvert" | grep -q libkaleocore || fail "the static build needs the shared library"
"$tmp/ex-static/kaleoconvert" "$tmp/in.ppm" "$tmp/st.png" png -xflip > "$tmp/run.log" ||
    fail "kaleoconvert (static) failed: $(cat "$tmp/run.log")"
[ "$(pixels "$tmp/st.png")" = "$mirrored" ] || fail "kaleoconvert (static) wrote $(pixels "$tmp/st.png")"

step "kaleocmd from the installed root"
kaleocmd=$prefix/bin/kaleocmd
"$kaleocmd" -l > "$tmp/list" || fail "kaleocmd -l"
grep -q '^ *[0-9]* png  *r w' "$tmp/list" || fail "kaleocmd -l does not list png"
"$kaleocmd" -quiet -xflip "$tmp/in.ppm" -o "$tmp/cmd.png" || fail "kaleocmd conversion"
[ "$(pixels "$tmp/cmd.png")" = "$mirrored" ] || fail "kaleocmd wrote $(pixels "$tmp/cmd.png")"

step "the manual page shows every option of kaleocmd -help"
"$kaleocmd" -help > "$tmp/help"
MANPATH=$prefix/share/man MANWIDTH=250 MANPAGER=cat man kaleocmd 2> "$tmp/man.err" > "$tmp/man.txt" ||
    fail "man kaleocmd: $(cat "$tmp/man.err")"
[ ! -s "$tmp/man.err" ] || fail "man kaleocmd warns: $(cat "$tmp/man.err")"
# Options are the words of the help that start with a dash and a letter (or @, 0).
tr -s ' [](),;' '\n' < "$tmp/help" | grep -E '^-[A-Za-z@0][A-Za-z0-9]*$' | sort -u > "$tmp/options"
[ "$(wc -l < "$tmp/options")" -gt 40 ] || fail "too few options in kaleocmd -help"
tr -s ' [](),;' '\n' < "$tmp/man.txt" | sed 's/\xe2\x80\x90/-/g; s/\xe2\x88\x92/-/g' | sort -u > "$tmp/manwords"
missing=$(comm -23 "$tmp/options" "$tmp/manwords" | tr '\n' ' ')
[ -z "$missing" ] || fail "options missing from the manual page: $missing"
version=$(sed -n '1s/.*, with //p' "$tmp/help")
[ -n "$version" ] && grep -qF "$version" "$tmp/man.txt" || fail "the manual page does not show the version ($version)"

step "bash completion"
completion=$prefix/share/bash-completion/completions/kaleocmd
complete_words() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kaleocmd; printf "%s\n" "${COMPREPLY[@]}"' \
        sh "$completion" "$@"
}
[ "$(complete_words kaleocmd -overw | tr '\n' ' ')" = "-overwrite " ] || fail "-overw does not complete"
complete_words kaleocmd -out "" > "$tmp/out-formats"
awk '$3 ~ /w$/ || $4 == "w" { print $2 }' "$tmp/list" | sort > "$tmp/writable"
[ -s "$tmp/writable" ] && [ "$(sort "$tmp/out-formats")" = "$(cat "$tmp/writable")" ] ||
    fail "-out completes $(tr '\n' ' ' < "$tmp/out-formats"), not the writable formats"
[ "$(complete_words kaleocmd -ctype cm | tr '\n' ' ')" = "cmy cmyk " ] || fail "-ctype values do not complete"
# Every option the completion offers is one kaleocmd knows, with the first
# word it completes after it (-edgedetect light); in an empty folder, so that
# no file is completed.
mkdir "$tmp/empty"
cd "$tmp/empty"
for o in $(complete_words kaleocmd -); do
    arg=$(complete_words kaleocmd "$o" "" | head -n 1)
    if "$kaleocmd" "$o" $arg 2>&1 < /dev/null | grep -q "unknown option"; then
        fail "completion offers $o $arg, which kaleocmd refuses"
    fi
done
cd "$tmp"

# Whether this machine, where the packages were built, has what a package
# depends on, in versions that satisfy it ("a (>= 1.0~)"; alternatives "a | b").
check_depends() {
    dpkg-deb -f "$1" Depends | tr ',' '\n' | while read -r alternatives; do
        [ -n "$alternatives" ] || continue
        ok=0
        for dep in $(echo "$alternatives" | tr -d ' ' | tr '|' ' '); do
            name=${dep%%(*}
            have=$(dpkg-query -W -f='${Version}' "$name" 2> /dev/null || dpkg-query -W -f='${Version}' "$name:amd64" 2> /dev/null) || continue
            case "$dep" in
                *\(*) relation=$(echo "$dep" | sed 's/.*(\([<>=]*\).*/\1/'); version=$(echo "$dep" | sed 's/.*([<>=]*\(.*\))/\1/')
                    case "$relation" in ">=") op=ge ;; "<=") op=le ;; ">>") op=gt ;; "<<") op=lt ;; *) op=eq ;; esac
                    dpkg --compare-versions "$have" "$op" "$version" && ok=1 ;;
                *) ok=1 ;;
            esac
        done
        [ $ok = 1 ] || { echo "FAIL: $(basename "$1"): $alternatives is not satisfied here" >&2; exit 1; }
    done
}

step "Debian packages"
cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" > "$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log" >&2; fail "cpack"; }
core_deb=$(ls "$tmp"/pkg/kaleocore_*.deb 2> /dev/null | head -n 1)
[ -n "$core_deb" ] || fail "no kaleocore package"
dpkg-deb -c "$core_deb" > "$tmp/core.contents"
for f in ./usr/bin/kaleocmd ./usr/include/kaleocore/kaleocore.h ./usr/share/man/man1/kaleocmd.1.gz \
         "/$soname" libkaleocore.a kaleocore.pc KaleocoreConfig.cmake completions/kaleocmd; do
    grep -q -- "$f" "$tmp/core.contents" || fail "kaleocore package lacks $f"
done
depends=$(dpkg-deb -f "$core_deb" Depends)
for d in libc6 libjpeg62-turbo libpng16-16; do
    echo "$depends" | grep -q "$d" || fail "kaleocore package does not depend on $d: $depends"
done
check_depends "$core_deb" || exit 1
debroot=$tmp/debroot
dpkg -x "$core_deb" "$debroot"
deblib=$(dirname "$(find "$debroot" -name "$soname" | head -n 1)")
LD_LIBRARY_PATH=$deblib ldd "$deblib/$soname" | grep -q "not found" && fail "the packaged library misses a dependency"
"$debroot/usr/bin/kaleocmd" -l | grep -q '^ *[0-9]* gif  *r w' || fail "packaged kaleocmd -l"
"$debroot/usr/bin/kaleocmd" -quiet "$tmp/in.ppm" -o "$tmp/deb.gif" || fail "packaged kaleocmd conversion"
[ "$(pixels "$tmp/deb.gif")" = "$(pixels "$tmp/in.ppm")" ] || fail "packaged kaleocmd wrote $(pixels "$tmp/deb.gif")"
c++ -std=c++17 -o "$tmp/deb-example" "$src/examples/convert.cpp" \
    $(PKG_CONFIG_PATH=$deblib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$debroot pkg-config --cflags --libs kaleocore)
LD_LIBRARY_PATH=$deblib "$tmp/deb-example" "$tmp/in.ppm" "$tmp/deb.png" png -xflip > /dev/null || fail "example on the package"
[ "$(pixels "$tmp/deb.png")" = "$mirrored" ] || fail "example on the package wrote $(pixels "$tmp/deb.png")"

viewer_deb=$(ls "$tmp"/pkg/kaleos_*.deb 2> /dev/null | head -n 1)
if [ -f "$build/kaleos.exe.so" ]; then
    [ -n "$viewer_deb" ] || fail "no kaleos package though the viewer is built"
    dpkg-deb -f "$viewer_deb" Depends | grep -q 'wine' || fail "kaleos package does not depend on Wine"
    check_depends "$viewer_deb" || exit 1
    dpkg -x "$viewer_deb" "$tmp/viewroot"
    icon=usr/share/icons/hicolor/48x48/apps/kaleos.png
    for f in usr/lib/kaleos/kaleos.exe.so usr/bin/kaleos usr/share/applications/kaleos.desktop $icon; do
        [ -e "$tmp/viewroot/$f" ] || fail "kaleos package lacks $f"
    done
    # The package holds the program the GUI test runs.
    cmp -s "$build/kaleos.exe.so" "$tmp/viewroot/usr/lib/kaleos/kaleos.exe.so" || fail "packaged kaleos.exe.so differs"
    grep -q '^Exec=kaleos ' "$tmp/viewroot/usr/share/applications/kaleos.desktop" || fail "desktop entry"
    if command -v desktop-file-validate > /dev/null; then
        desktop-file-validate "$tmp/viewroot/usr/share/applications/kaleos.desktop" | grep -v ': hint: ' | grep . &&
            fail "desktop-file-validate complains"
    fi
    # A round icon of 48 x 48 pixels: its corners are transparent, its centre opaque.
    pngtopnm -alpha "$tmp/viewroot/$icon" | pnmtoplainpnm > "$tmp/icon-alpha"
    [ "$(sed -n 2p "$tmp/icon-alpha")" = "48 48" ] || fail "the icon is $(sed -n 2p "$tmp/icon-alpha")"
    [ "$(tail -n +4 "$tmp/icon-alpha" | tr -s ' \n' '\n\n' | grep -v '^$' | sed -n '1p;1177p' | tr '\n' ' ')" = "0 255 " ] ||
        fail "the icon's corner should be transparent and its centre opaque"
    # The launcher hands Wine the packaged program and Windows paths of the files.
    printf '#!/bin/sh\nprintf "%%s\\n" "$@"\n' > "$tmp/fakewine"
    chmod +x "$tmp/fakewine"
    mkdir -p "$tmp/prefix" "$tmp/my pictures"
    cp "$tmp/in.ppm" "$tmp/my pictures/a b.ppm"
    (cd "$tmp" && KALEOS_WINE=$tmp/fakewine WINEPREFIX=$tmp/prefix "$tmp/viewroot/usr/bin/kaleos" -view "my pictures/a b.ppm") \
        > "$tmp/launch.txt" || fail "the launcher failed"
    expected_file=$(printf 'Z:%s' "$tmp/my pictures/a b.ppm" | tr '/' '\\')
    [ "$(sed -n 1p "$tmp/launch.txt")" = "$(readlink -f "$tmp/viewroot/usr/bin")/../lib/kaleos/kaleos.exe.so" ] ||
        fail "the launcher runs $(sed -n 1p "$tmp/launch.txt")"
    [ "$(sed -n 2p "$tmp/launch.txt")" = "-view" ] && [ "$(sed -n 3p "$tmp/launch.txt")" = "$expected_file" ] ||
        fail "the launcher passes $(tr '\n' ' ' < "$tmp/launch.txt")"
fi
echo "install and packages: all checks passed"
