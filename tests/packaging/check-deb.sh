#!/usr/bin/env bash
# Builds the Debian package in a configured build folder and inspects it without installing it:
# its files, its dependencies, its post-install step and its desktop integration files.
# Usage: tests/packaging/check-deb.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
id=org.quellpost.Quellpost
program=/usr/bin/quellpost
fail() {
  echo "check-deb: FAILED: $*" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[[ -n $version ]] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
deb=$build/quellpost_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
[[ -f $deb ]] || fail "cpack made no $(basename "$deb")"

# Files: exactly the program and its desktop integration, under /usr.
icons=/usr/share/icons/hicolor
want=$(printf '%s\n' "$program" /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
  $icons/scalable/apps/$id.svg $icons/{16x16,32x32,48x48,256x256}/apps/$id.png | sort)
dpkg-deb -c "$deb" >"$work/contents"
actual=$(awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' "$work/contents" | sort)
[[ $actual == "$want" ]] || fail "package files differ from the expected list:
$(diff <(echo "$want") <(echo "$actual") || true)"
grep -Eq "^-rwxr-xr-x root/root .* \.$program\$" "$work/contents" || fail "$program is not root-owned mode 0755"

# Control fields; Depends is computed from the linked libraries, so each entry carries a version.
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quellpost && $(field Version) == "$version" ]] || fail "package is $(field Package) $(field Version)"
depends=$(field Depends)
for lib in libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libc6 libstdc++6 libcurl4; do
  grep -Eq "(^|, )${lib//+/\\+} \(>= [0-9][^)]*\)" <<<"$depends" || fail "Depends lacks a versioned $lib: $depends"
done
for pkg in libcap2-bin fonts-liberation libssl3; do
  grep -Eq "(^|, )$pkg(,|$| )" <<<"$depends" || fail "Depends lacks $pkg: $depends"
done

# Post-install step: grants the bind right on configure only, and survives a refusing file system.
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
[[ -x $postinst ]] && sh -n "$postinst" || fail "no executable, valid postinst"
# A stand-in setcap records its arguments and exits as told, so the script runs for real.
mkdir "$work/bin"
printf '#!/bin/sh\necho "$*" >>"$SETCAP_LOG"\nexit "$SETCAP_EXIT"\n' >"$work/bin/setcap"
chmod +x "$work/bin/setcap"
run_postinst() { # exit code of setcap, postinst arguments...
  local code=$1; shift
  : >"$work/setcap.log"
  PATH=$work/bin:$PATH SETCAP_LOG=$work/setcap.log SETCAP_EXIT=$code sh "$postinst" "$@" 2>"$work/postinst.err"
}
run_postinst 0 configure || fail "postinst configure failed"
[[ $(cat "$work/setcap.log") == "cap_net_bind_service=+ep $program" ]] ||
  fail "postinst ran setcap with '$(cat "$work/setcap.log")'"
run_postinst 1 configure || fail "postinst fails when setcap fails"
grep -q 'port 25' "$work/postinst.err" || fail "postinst does not explain a failed setcap"
run_postinst 0 abort-upgrade || fail "postinst abort-upgrade failed"
[[ ! -s $work/setcap.log ]] || fail "postinst ran setcap outside configure"

# Desktop entry and metainfo, as packaged.
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/$id.desktop
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
# Hints count too: a clean entry says nothing.
out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]] || fail "desktop-file-validate: $out"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[[ $(entry Icon) == "$id" ]] || fail "desktop entry Icon is '$(entry Icon)', not $id"
[[ -x $root/usr/bin/$(entry Exec | cut -d' ' -f1) ]] || fail "desktop entry Exec '$(entry Exec)' is not the packaged program"
# The tree check also finds the desktop entry the metainfo launches.
for check in "validate --no-net $metainfo" "validate-tree --no-net $root"; do
  appstreamcli $check >"$work/as.log" 2>&1 || { cat "$work/as.log" >&2; fail "appstreamcli $check"; }
done
grep -Fq "<id>$id</id>" "$metainfo" || fail "metainfo lacks <id>$id</id>"

echo "check-deb: $(basename "$deb") passed"
