#!/usr/bin/env bash
# The Debian package, checked the way a lab administrator meets it: built with CPack, installed
# into a fresh root with dpkg --root, then its file list, its dependencies, the installed
# terminal front end on the installed catalog (and a whole update from the installed firmware
# against a simulated device), the manual pages and each program's --help against its page,
# the installed wizard opening the installed catalog, the desktop entry and icons, the bash
# completion, the maintainer scripts without udev, and an uninstall that leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build build

rm -rf build/package
(cd build && cpack -G DEB -B "$source_dir/build/package" >/dev/null)
debs=(build/package/tavrix-update_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "package-test: expected one package, found ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}

work=$(mktemp -d)
devsim_pid=""
cleanup() {
  if [ -n "$devsim_pid" ]; then kill "$devsim_pid" 2>/dev/null || true; wait "$devsim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# --- the package's control data -----------------------------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libusb-1.0-0 libpugixml1v5; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library (shared-library dependencies): $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "no executable $script in the package"
done
pass "control: $depends"

# --- install into a fresh root ------------------------------------------------------------
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The fresh root holds none of the libraries; the programs run on this machine's. The
# maintainer scripts run outside the root, with DPKG_ROOT telling them so.
dpkg_root=(dpkg --root="$root" --force-script-chrootless --force-not-root --log=/dev/null)
"${dpkg_root[@]}" --force-depends -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }
pass "installed into $root"

# --- the file list ------------------------------------------------------------------------
# Every firmware file the catalog names is in the package, whatever families it lists, and
# every demo project.
catalog=resources/demo/tavrix-update.config
{
  printf '%s\n' \
    /usr/bin/tavrix-update /usr/bin/tavrix-update-cli /usr/bin/tavrix-devsim \
    /usr/share/tavrix-update/tavrix-update.config \
    /usr/lib/udev/rules.d/70-tavrix-update.rules \
    /usr/share/applications/tavrix-update.desktop \
    /usr/share/icons/hicolor/scalable/apps/tavrix-update.svg \
    /usr/share/icons/hicolor/48x48/apps/tavrix-update.png \
    /usr/share/icons/hicolor/256x256/apps/tavrix-update.png \
    /usr/share/man/man1/tavrix-update.1.gz /usr/share/man/man1/tavrix-update-cli.1.gz \
    /usr/share/man/man1/tavrix-devsim.1.gz \
    /usr/share/bash-completion/completions/tavrix-update-cli
  sed -n 's|.*<File>\(.*\)</File>.*|\1|p' "$catalog" | tr '\\' / | sed 's|^|/usr/share/tavrix-update/|'
  # The servo trainer's demo projects lie beside the catalog too.
  (cd resources/demo && find Drive* -type f 2>/dev/null || true) | sed 's|^|/usr/share/tavrix-update/|'
} | sort >"$work/expected-files"
"${dpkg_root[@]}" -L tavrix-update | while IFS= read -r path; do
  [ -d "$root$path" ] || printf '%s\n' "$path"
done | sort >"$work/packaged-files"
if diff -u "$work/expected-files" "$work/packaged-files" >"$work/files.diff"; then
  pass "file list ($(wc -l <"$work/packaged-files") files)"
else
  fail "file list differs (- expected, + packaged):"; cat "$work/files.diff" >&2
fi

# --- the installed terminal front end reads the installed catalog -------------------------
bin=$root/usr/bin
export XDG_CONFIG_HOME=$work/config  # no stored language of the person running this
export XDG_STATE_HOME=$work/state    # nor an update in the person's own history
"$bin/tavrix-update-cli" list >"$work/installed-list"
build/bin/tavrix-update-cli list >"$work/build-list"
if [ -s "$work/installed-list" ] && cmp -s "$work/installed-list" "$work/build-list"; then
  pass "installed tavrix-update-cli lists the installed catalog ($(wc -l <"$work/installed-list") entries)"
else
  fail "installed tavrix-update-cli list:"; cat "$work/installed-list" >&2
fi
if [ "$("$bin/tavrix-update-cli" --version)" = "tavrix-update-cli 3.36" ]; then
  pass "installed tavrix-update-cli --version says 3.36"
else
  fail "installed tavrix-update-cli --version: $("$bin/tavrix-update-cli" --version 2>&1)"
fi

# A whole update from the installed data: the installed simulator serves a 2A interface at
# 3.07, the installed front end programs it from the installed firmware folder.
export TAVRIX_USB_BUS=$work/bus TAVRIX_WAIT_SCALE=0
"$bin/tavrix-devsim" --device 2a:variant=1,firmware=307 >"$work/devsim.out" 2>&1 &
devsim_pid=$!
for _ in $(seq 100); do grep -q '^serving' "$work/devsim.out" && break; sleep 0.1; done
if "$bin/tavrix-update-cli" --yes update QI-2A1 >"$work/update.out" 2>"$work/update.err" &&
   grep -qx "tavrix-update-cli: QI-2A1: firmware 3.07 on the device, 3.12 in the catalog" "$work/update.err" &&
   grep -qx "Re-programming of the device succeeded." "$work/update.out"; then
  pass "installed programs update a simulated QI-2A1 from the installed firmware"
else
  fail "update from the installed data:"; cat "$work/devsim.out" "$work/update.out" "$work/update.err" >&2
fi
kill "$devsim_pid"; wait "$devsim_pid" 2>/dev/null || true; devsim_pid=""
unset TAVRIX_USB_BUS TAVRIX_WAIT_SCALE
if "$bin/tavrix-update-cli" history --json | grep -q '"result":"programmed"' &&
   [ -f "$work/state/tavrix-update/history.db" ]; then
  pass "installed tavrix-update-cli recorded the update in its history"
else
  fail "installed history:"; "$bin/tavrix-update-cli" history >&2
fi

# The installed wizard opens the installed catalog: its start page reads it as it comes up
# (offscreen, no display needed); the system calls show which file it opened.
QT_QPA_PLATFORM=offscreen strace -f -qq -e trace=openat -o "$work/wizard.trace" \
  "$bin/tavrix-update" /lang 1033 >"$work/wizard.out" 2>&1 &
wizard_pid=$!
# The open of the installed catalog has returned a descriptor. strace splits a call that
# another thread interrupts into "<unfinished ...>" and, later, "<... openat resumed> ... = N".
catalog_opened() {
  local call='"[^"]*/usr/bin/\.\./share/tavrix-update/tavrix-update\.config", O_RDONLY'
  grep -qE "$call[^)]*\) = [0-9]" "$work/wizard.trace" 2>/dev/null && return 0
  awk -v call="$call" 'split_pid != "" && $1 == split_pid && /<\.\.\. openat resumed>/ { print; exit }
                       split_pid == "" && $0 ~ call && /<unfinished/ { split_pid = $1 }' \
    "$work/wizard.trace" 2>/dev/null | grep -qE '\) = [0-9]'
}
for _ in $(seq 300); do catalog_opened && break; sleep 0.1; done
kill "$(head -n 1 "$work/wizard.trace" | cut -d' ' -f1)" 2>/dev/null || true
wait "$wizard_pid" 2>/dev/null || true
if catalog_opened; then
  pass "installed tavrix-update opens the installed catalog"
else
  fail "installed tavrix-update did not open $root/usr/share/tavrix-update/tavrix-update.config:"
  grep 'tavrix-update\.config' "$work/wizard.trace" >&2 || true
fi

# --- manual pages, and each program's --help against its page -----------------------------
for program in tavrix-update tavrix-update-cli tavrix-devsim; do
  page=$root/usr/share/man/man1/$program.1.gz
  if MANWIDTH=80 man --warnings -l "$page" >"$work/$program.man" 2>"$work/$program.man-err" &&
     [ ! -s "$work/$program.man-err" ] && grep -q "^NAME" "$work/$program.man" && grep -q "$program" "$work/$program.man"; then
    pass "man -l renders $program(1)"
  else
    fail "man -l $program(1):"; cat "$work/$program.man-err" >&2
  fi
  # Every option --help lists (and the commands, and the simulator's device options) is on
  # the page; a page that falls behind its program fails here.
  "$bin/$program" --help >"$work/$program.help"
  {
    grep -oE '^ +(-{1,2}[A-Za-z][A-Za-z-]*|/[A-Za-z]+|@[A-Z]+)' "$work/$program.help" | tr -d ' ' || true
    grep -oE '^ +-h, (--[a-z-]+)' "$work/$program.help" | sed 's/.*, //' || true
    sed -n '/^commands:/,/^[^ ]/ s/^  \([a-z][a-z]*\) .*/\1/p' "$work/$program.help"
    grep -oE '^  ([a-z_]+=)' "$work/$program.help" | tr -d ' ' || true
  } | sort -u >"$work/$program.words"
  zcat "$page" | sed 's/\\-/-/g; s/\\&//g' >"$work/$program.source"
  missing=$(while IFS= read -r word; do grep -qF -- "$word" "$work/$program.source" || printf '%s ' "$word"; done <"$work/$program.words")
  if [ -z "$missing" ] && [ -s "$work/$program.words" ]; then
    pass "$program --help: $(tr '\n' ' ' <"$work/$program.words")all on the page"
  else
    fail "$program(1) does not name what --help lists: $missing"
  fi
done

# --- desktop entry and icons --------------------------------------------------------------
desktop=$root/usr/share/applications/tavrix-update.desktop
desktop-file-validate "$desktop" && pass "desktop entry valid" || fail "desktop-file-validate"
exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_line=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "$bin/$exec_line" ] || fail "Exec=$exec_line is not an installed program"
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'; }
for size in 48 256; do
  icon=$root/usr/share/icons/hicolor/${size}x$size/apps/$icon_line.png
  [ "$(png_size "$icon")" = "${size}x$size" ] && pass "icon $size px" || fail "icon $icon is $(png_size "$icon")"
done
svg=$root/usr/share/icons/hicolor/scalable/apps/$icon_line.svg
grep -q '<svg' "$svg" && grep -q 'viewBox="0 0 256 256"' "$svg" && pass "scalable icon" || fail "scalable icon $svg"

# --- bash completion ----------------------------------------------------------------------
cat >"$work/other.config" <<'EOF'
<Config><Devices>
  <Device Id="LAB-1"><Name>One</Name></Device>
  <Device Id="O'Neil 2"><Name>Two</Name></Device>
</Devices></Config>
EOF
complete_line() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tavrix_update_cli; [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}"' \
    complete "$root/usr/share/bash-completion/completions/tavrix-update-cli" "$bin/tavrix-update-cli" "$@"
}
expect_completion() {
  local expected=$1; shift
  local got
  got=$(complete_line "$@" | tr '\n' ' ')
  [ "$got" = "$expected" ] && pass "completion of '$*': $got" || fail "completion of '$*': '$got', expected '$expected'"
}
expect_completion "list update inspect devices discover udev-rule history " ""
expect_completion "$(cut -f1 "$work/installed-list" | tr '\n' ' ')" update ""
expect_completion "QI-2A3 " --yes update QI-2A3
expect_completion "LAB-1 O\\'Neil\\ 2 " --catalog "$work/other.config" update ""
expect_completion "" update QI-2A1 ""
expect_completion "--lang " --la
expect_completion "1031 1033 1036 1043 1049 3082 " --lang ""
expect_completion "retry simulate exit " update --on-failure ""
# The kinds the installed program names in its usage: every family's, with no list kept here.
kinds=$({ "$bin/tavrix-update-cli" inspect 2>&1 || true; } | sed -n 's/.* --as \([^ ]*\).*/\1/p' | tr '|' ' ')
[[ " $kinds " == *" segments "* ]] || fail "tavrix-update-cli inspect names no kinds: '$kinds'"
expect_completion "$kinds " inspect image.seg --as ""
expect_completion "A B servo " inspect image.seg --as segments --regions ""

# --- maintainer scripts where udev is absent, fails, or is not the root's ----------------
mkdir -p "$work/fakebin"
printf '#!/bin/sh\necho "$*" >>"%s/udevadm.log"\nexit 1\n' "$work" >"$work/fakebin/udevadm"
chmod +x "$work/fakebin/udevadm"
for script in postinst postrm; do
  argument=configure; [ $script = postrm ] && argument=remove
  env -i PATH=/nonexistent /bin/sh "$work/control/$script" $argument || fail "$script without udev"
  rm -f "$work/udevadm.log"
  env -i PATH="$work/fakebin:/usr/bin:/bin" /bin/sh "$work/control/$script" $argument || fail "$script with a failing udevadm"
  grep -q -- "control --reload-rules" "$work/udevadm.log" || fail "$script did not reload the udev rules"
  rm -f "$work/udevadm.log"
  env -i PATH="$work/fakebin:/usr/bin:/bin" DPKG_ROOT=/elsewhere /bin/sh "$work/control/$script" $argument ||
    fail "$script into another root"
  [ ! -e "$work/udevadm.log" ] || fail "$script touched the running udev for another root"
done
pass "maintainer scripts without udev, with a failing udevadm, and for another root"

# --- uninstall ----------------------------------------------------------------------------
"${dpkg_root[@]}" -P tavrix-update >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -P"; }
left=$(cd "$root" && find . -mindepth 1 -not -path ./var -not -path ./var/lib -not -path './var/lib/dpkg*' | head)
[ -z "$left" ] && pass "purged: nothing left in the root" || fail "left behind after purge: $left"

if [ "$failures" -ne 0 ]; then
  echo "package-test: $failures check(s) failed" >&2
  exit 1
fi
echo "package-test: $deb is good"
