#!/bin/sh
# check-kit.sh <objdump> <kit folder>
# Checks the kit folder that a person copies to a Windows PC, as Windows' setup would read it:
#  - both installers, the INFs and the DLLs of each architecture are there, each binary of its format;
#  - no SourceDisksNames path of an INF leaves the INF's folder ('..' or a rooted path): Windows Vista and later
#    stage a driver package from the INF's own folder;
#  - every file an INF's SourceDisksFiles names (undecorated, and .x86 and .amd64) lies where that INF says.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: check-kit.sh <objdump> <kit folder>" >&2
    exit 2
fi
objdump=$1
kit=$2
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# <path below the kit> <format>
binary() {
    if [ ! -f "$kit/$1" ]; then
        fail "$1 is missing"
        return
    fi
    format=$("$objdump" -p "$kit/$1" | sed -n 's/.*file format \([^ ]*\).*/\1/p' | head -n 1)
    [ "$format" = "$2" ] || fail "$1 is '$format', expected '$2'"
}
binary KqtSetup.exe pei-i386
binary KqtSetup64.exe pei-x86-64
for dll in KQPRINT.DLL KQMON.DLL; do
    binary "NT/i386/$dll" pei-i386
    binary "NT/amd64/$dll" pei-x86-64
    binary "Chicago/$dll" pei-i386
done

# One line per entry of the source sections: "<section> <key> <field>..." with blanks, quotes and comments gone.
entries() {
    tr -d '\r' <"$1" | awk '
        { sub(/;.*/, ""); gsub(/"/, ""); gsub(/^[ \t]+|[ \t]+$/, "") }
        /^\[/ { section = tolower(substr($0, 2, index($0, "]") - 2)); next }
        section ~ /^sourcedisks(names|files)(\.(x86|amd64))?$/ && index($0, "=") {
            key = substr($0, 1, index($0, "=") - 1); value = substr($0, index($0, "=") + 1)
            gsub(/[ \t]+$/, "", key); n = split(value, f, ",")
            printf "%s|%s", section, key
            for (i = 1; i <= n; i++) { gsub(/^[ \t]+|[ \t]+$/, "", f[i]); printf "|%s", f[i] }
            printf "\n"
        }'
}

# The path of a disk (the fourth field of its SourceDisksNames line) for a platform ("" or ".x86"/".amd64").
disk_path() { # <entries> <platform> <disk>
    line=$(printf '%s\n' "$1" | grep "^sourcedisksnames$2|$3|" || printf '%s\n' "$1" | grep "^sourcedisksnames|$3|" || true)
    [ -n "$line" ] || return 1
    printf '%s\n' "$line" | head -n 1 | awk -F'|' '{ print $6 }'
}

for inf in NT/KQT50.INF Chicago/KQT50.INF; do
    if [ ! -f "$kit/$inf" ]; then
        fail "$inf is missing"
        continue
    fi
    folder=$kit/$(dirname "$inf")
    list=$(entries "$kit/$inf")
    for path in $(printf '%s\n' "$list" | awk -F'|' '$1 ~ /^sourcedisksnames/ { print $6 }'); do
        case "$path" in
        *..* | \\* | /* | ?:*) fail "$inf: SourceDisksNames path '$path' leaves the INF's folder" ;;
        esac
    done
    for platform in "" .x86 .amd64; do
        for entry in $(printf '%s\n' "$list" | grep "^sourcedisksfiles$platform|" | tr ' ' '?'); do
            file=$(printf '%s' "$entry" | awk -F'|' '{ print $2 }')
            disk=$(printf '%s' "$entry" | awk -F'|' '{ print $3 }')
            sub=$(printf '%s' "$entry" | awk -F'|' '{ print $4 }')
            if ! path=$(disk_path "$list" "$platform" "$disk"); then
                fail "$inf: $file is on disk $disk, which SourceDisksNames does not name"
                continue
            fi
            where=$folder
            for part in $path $sub; do
                where=$where/$(printf '%s' "$part" | tr '\\' '/')
            done
            [ -f "$where/$file" ] || fail "$inf: $file (SourceDisksFiles$platform) is not at ${where#"$kit"/}/$file"
        done
    done
done

if [ "$failed" -ne 0 ]; then
    exit 1
fi
echo "ok: the kit in $kit: both installers, the INFs' files of each architecture below their INF"
