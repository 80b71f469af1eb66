#!/usr/bin/env bash
# Installs a built tree into a staging folder and checks that exactly the expected files arrive:
# the three programs with their manual pages, the desktop entry and the icon, the copyright file
# and the changelog, and nothing from the tests or benchmarks.
# Usage: scripts/check-install.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-${BUILD_DIR:-build}}
if [ ! -f "$BUILD_DIR/cmake_install.cmake" ]; then
    echo "check-install: $BUILD_DIR is not a configured build tree; build it first" >&2
    exit 2
fi
BUILD_DIR=$(cd "$BUILD_DIR" && pwd)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
prefix=$stage/usr
cmake --install "$BUILD_DIR" --prefix "$prefix" >"$stage/install.log" || {
    cat "$stage/install.log" >&2
    exit 1
}

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

programs=(velqa-config velqa-sim velqa-cli)
doc=share/doc/velqa-module-config
expected=(
    bin/velqa-config
    bin/velqa-sim
    bin/velqa-cli
    share/man/man1/velqa-config.1.gz
    share/man/man1/velqa-sim.1.gz
    share/man/man1/velqa-cli.1.gz
    share/applications/velqa-config.desktop
    share/icons/hicolor/scalable/apps/velqa-config.svg
    $doc/copyright
    $doc/changelog.Debian.gz
)
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
while read -r f; do
    [ -n "$f" ] && fail "missing: $f"
done < <(comm -23 <(echo "$wanted") <(echo "$actual"))
while read -r f; do
    [ -n "$f" ] && fail "not expected in the installation: $f"
done < <(comm -13 <(echo "$wanted") <(echo "$actual"))

for program in "${programs[@]}"; do
    file=$prefix/bin/$program
    [ -f "$file" ] || continue
    [ -x "$file" ] || fail "$program is not executable"
    # An installed program must not look into the build tree for anything.
    if readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH' | grep -qF "$BUILD_DIR"; then
        fail "$program keeps a run path into $BUILD_DIR"
    fi
    # Pictures are compiled in, so beyond its debug information a program names no file in the
    # source or build tree.
    objcopy --strip-debug "$file" "$stage/$program.stripped"
    for tree in "$BUILD_DIR" "$PWD"; do
        if grep -qaF "$tree/" "$stage/$program.stripped"; then
            fail "$program names a file under $tree: $(strings "$stage/$program.stripped" |
                grep -F "$tree/" | head -1)"
        fi
    done
done
# --help and --version need no display, whichever program answers them.
for program in "${programs[@]}"; do
    file=$prefix/bin/$program
    [ -x "$file" ] || continue
    for option in --help --version; do
        env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY= "$file" "$option" \
            >"$stage/$program.out" 2>&1 ||
            fail "the installed $program $option failed: $(head -3 "$stage/$program.out")"
    done
    grep -qx "$program [0-9][0-9.]*" "$stage/$program.out" ||
        fail "$program --version printed: $(head -1 "$stage/$program.out")"

    page=$prefix/share/man/man1/$program.1.gz
    [ -f "$page" ] || continue
    # Debian wants the pages compressed at the highest level, with no file name or time inside.
    gzip -t "$page" 2>/dev/null || fail "$page is not a gzip file"
    [ "$(od -An -tu1 -j4 -N4 "$page" | tr -d ' ')" = "0000" ] ||
        fail "$page keeps a time stamp (gzip -n)"
    zcat "$page" | head -1 | grep -q "^\.TH ${program^^} 1 " || fail "$page is not a section 1 page"
done

# The journal's stores are loaded at run time: without the SQLite driver (libqt6sql6-sqlite) or
# libpq nothing would be recorded, so the installed velqa-cli must make and read a journal.
cli=$prefix/bin/velqa-cli
if [ -x "$cli" ]; then
    journal="sqlite:$stage/journal/j.sqlite"
    if ! "$cli" journal migrate --journal "$journal" >"$stage/journal.out" 2>&1 ||
        ! "$cli" history --journal "$journal" >>"$stage/journal.out" 2>&1 ||
        ! grep -qx 'No records.' "$stage/journal.out"; then
        fail "the installed velqa-cli cannot keep a journal: $(head -3 "$stage/journal.out")"
    fi
    ldd "$cli" | grep -q 'libpq\.so' || fail "velqa-cli is not linked with libpq"
fi

copyright=$prefix/$doc/copyright
if [ -f "$copyright" ]; then
    head -1 "$copyright" |
        grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "the copyright file is not in the machine-readable format"
    grep -q '^Files: \*$' "$copyright" || fail "the copyright file covers no files"
fi
changelog=$prefix/$doc/changelog.Debian.gz
if [ -f "$changelog" ]; then
    zcat "$changelog" | head -1 | grep -q '^velqa-module-config ([0-9.]*-[0-9]*) ' ||
        fail "the changelog does not start with the package's own entry"
fi

desktop=$prefix/share/applications/velqa-config.desktop
if [ -f "$desktop" ]; then
    for line in '[Desktop Entry]' 'Type=Application' 'Name=VELQA Module Config' \
        'Exec=velqa-config' 'Icon=velqa-config' 'Terminal=false' 'Categories=Utility;' \
        'Name[zh_CN]=VELQA 设定程式' 'Name[zh_TW]=VELQA 設定程式'; do
        grep -qxF "$line" "$desktop" || fail "the desktop entry lacks the line $line"
    done
    for key in 'Comment' 'Comment\[zh_CN\]' 'Comment\[zh_TW\]'; do
        grep -q "^$key=." "$desktop" || fail "the desktop entry has no $key"
    done
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "desktop-file-validate is not installed (desktop-file-utils): entry checked by its lines only"
    fi
fi

icon=$prefix/share/icons/hicolor/scalable/apps/velqa-config.svg
if [ -f "$icon" ]; then
    grep -q '<svg' "$icon" || fail "the icon is not an SVG picture"
    cmp -s "$icon" app/icons/plate.svg || fail "the icon differs from the module-plate picture"
fi

if [ "$failures" -gt 0 ]; then
    echo "check-install: $failures problem(s) in the installation from $BUILD_DIR" >&2
    exit 1
fi
echo "check-install: ${#expected[@]} files installed as expected from $BUILD_DIR"
