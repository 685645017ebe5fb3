#!/bin/sh
# make install and make package, tried out without touching the system.
#   install_test.sh destdir <build dir> <source dir> <version>
#       the install rules into a scratch DESTDIR (prefix /opt/teilimp)
#   install_test.sh deb <build dir> <source dir> <version>
#       the Debian package made by CPack, unpacked with dpkg-deb -x
# Either way: exactly the files expected are there, and the installed
# programs clear a fresh area, import the installed examples into it and
# find it in order.
set -u
mode=$1 build=$2 source=$3 version=$4
tmp=$(mktemp -d "${TMPDIR:-/tmp}/teilimp-install.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

# The files below <root><prefix>, against the list the install rules promise.
check_files() {
    root=$1 prefix=$2
    (cd "$root" && find . ! -type d | sed 's,^\.,,' | sort) >"$tmp/got"
    {
        for f in bin/teilarea bin/teilimp share/doc/teilimp/README.md \
            share/man/man1/teilarea.1 share/man/man1/teilimp.1; do
            echo "$prefix/$f"
        done
        for f in "$source"/examples/*.epn; do
            echo "$prefix/share/doc/teilimp/examples/$(basename "$f")"
        done
    } | sort >"$tmp/want"
    diff "$tmp/want" "$tmp/got" || fail "$mode: installed files differ from the list (< wanted, > installed)"
}

# The installed programs on a fresh area of drive T:.
try_programs() {
    bin=$1/bin examples=$1/share/doc/teilimp/examples
    # Where the programs know --version, it gives the package's version.
    for p in teilimp teilarea; do
        if out=$("$bin/$p" --version 2>&1); then
            [ "$out" = "$p $version" ] || fail "$mode: $p --version: $out"
        fi
    done
    drive="$tmp/drive"
    mkdir -p "$drive/userroot/storage/TEST/data"
    TEILIMP_DRIVE_T=$drive
    export TEILIMP_DRIVE_T
    out=$(echo j | "$bin/teilimp" T:TEST /d 2>&1) || fail "$mode: clear: $out"
    out=$("$bin/teilimp" T:TEST "$examples/*.epn" 2>&1) || fail "$mode: import: $out"
    n=$(ls "$examples"/*.epn | wc -l)
    printf '%s\n' "$out" | grep -q "^Ergebnis: $n importiert" || fail "$mode: import: $out"
    out=$("$bin/teilarea" check T:TEST 2>&1) || fail "$mode: teilarea check: $out"
    out=$("$bin/teilarea" list T:TEST 2>&1) || fail "$mode: teilarea list: $out"
    printf '%s\n' "$out" | grep -q "^$n Teile" || fail "$mode: teilarea list: $out"
    echo "$mode: installed programs imported $n examples into a fresh area; teilarea check: in order"
}

case $mode in
destdir)
    DESTDIR="$tmp/root" cmake --install "$build" --prefix /opt/teilimp >"$tmp/log" 2>&1 ||
        { cat "$tmp/log"; fail "cmake --install"; }
    check_files "$tmp/root" /opt/teilimp
    try_programs "$tmp/root/opt/teilimp"
    ;;
deb)
    for tool in dpkg-deb dpkg-shlibdeps; do
        if ! command -v $tool >/dev/null 2>&1; then
            echo "$tool not installed (Debian package dpkg-dev): Debian package not tested"
            exit 77
        fi
    done
    cpack --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/log" 2>&1 ||
        { cat "$tmp/log"; fail "cpack"; }
    deb="$tmp/package/teilimp_${version}_$(dpkg --print-architecture).deb"
    [ -f "$deb" ] || { ls "$tmp/package"; fail "no $(basename "$deb")"; }
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
    # Dependencies computed from the programs' libraries.
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libstdc++6; do
        case ", $depends" in *", $lib "*) ;; *) fail "Depends: $depends (no $lib)" ;; esac
    done
    dpkg-deb -x "$deb" "$tmp/root" || fail "dpkg-deb -x"
    check_files "$tmp/root" /usr
    try_programs "$tmp/root/usr"
    echo "$(basename "$deb"): Depends: $depends"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
