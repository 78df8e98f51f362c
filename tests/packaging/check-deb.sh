#!/usr/bin/env bash
# Builds the Debian package in a configured build folder and inspects it without installing it:
# its files, its dependencies, its post-install step and its desktop integration files.
# Usage: tests/packaging/check-deb.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
id=org.quellpost.Quellpost
program=/usr/bin/quellpost

checks=0
fail() {
  echo "check-deb: FAILED: $*" >&2
  exit 1
}
pass() { checks=$((checks + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- Build -------------------------------------------------------------------------------------
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[[ -n $version ]] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
deb=$build/quellpost_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log" >&2; fail "cpack -G DEB"; }
[[ -f $deb ]] || fail "cpack made no $(basename "$deb")"
echo "check-deb: built $(basename "$deb")"
pass

# --- Files: exactly the program and its desktop integration, under /usr ------------------------
expected=(
  "$program"
  /usr/share/applications/"$id".desktop
  /usr/share/metainfo/"$id".metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/"$id".svg
  /usr/share/icons/hicolor/16x16/apps/"$id".png
  /usr/share/icons/hicolor/32x32/apps/"$id".png
  /usr/share/icons/hicolor/48x48/apps/"$id".png
  /usr/share/icons/hicolor/256x256/apps/"$id".png
)
dpkg-deb -c "$deb" >"$work/contents"
# Everything but folders, as absolute paths.
actual=$(awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' "$work/contents" | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
[[ $actual == "$want" ]] || fail "package files differ from the expected list:
$(diff <(echo "$want") <(echo "$actual") || true)"
grep -Eq "^-rwxr-xr-x root/root .* \.$program\$" "$work/contents" || fail "$program is not root-owned mode 0755"
pass

# --- Control fields ----------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == quellpost ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
for f in Maintainer Section Homepage Description; do
  [[ -n $(field "$f") ]] || fail "control field $f is empty"
done
pass

# Computed from the linked libraries, so each Qt and C/C++ runtime entry carries a version.
depends=$(field Depends)
for lib in libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libc6 libstdc++6; do
  grep -Eq "(^|, )${lib//+/\\+} \(>= [0-9][^)]*\)" <<<"$depends" || fail "Depends lacks a versioned $lib: $depends"
done
for pkg in libcap2-bin fonts-liberation; do
  grep -Eq "(^|, )$pkg(,|$| )" <<<"$depends" || fail "Depends lacks $pkg: $depends"
done
pass

# --- Post-install step: grants the bind right on configure, survives a refusing file system ----
dpkg-deb -e "$deb" "$work/control"
postinst=$work/control/postinst
[[ -x $postinst ]] || fail "no executable postinst"
sh -n "$postinst" || fail "postinst is not valid sh"
grep -Fq 'setcap cap_net_bind_service=+ep' "$postinst" || fail "postinst does not run setcap"
for f in prerm postrm preinst; do
  [[ ! -e $work/control/$f ]] || fail "unexpected maintainer script $f"
done

# A stand-in setcap records its arguments and exits as told, so the script runs for real.
mkdir "$work/bin"
cat >"$work/bin/setcap" <<'EOF'
#!/bin/sh
echo "$*" >>"$SETCAP_LOG"
exit "$SETCAP_EXIT"
EOF
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
pass

# --- Desktop entry, metainfo and icons, as packaged ----------------------------------------------
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/$id.desktop
metainfo=$root/usr/share/metainfo/$id.metainfo.xml

# Hints count too: a clean entry says nothing.
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[[ $(entry Icon) == "$id" ]] || fail "desktop entry Icon is '$(entry Icon)', not $id"
[[ -x $root/usr/bin/$(entry Exec | cut -d' ' -f1) ]] || fail "desktop entry Exec '$(entry Exec)' is not the packaged program"
pass

appstreamcli validate --no-net "$metainfo" >"$work/as.log" 2>&1 || { cat "$work/as.log" >&2; fail "appstreamcli validate"; }
# The tree check also finds the desktop entry the metainfo launches.
appstreamcli validate-tree --no-net "$root" >"$work/as.log" 2>&1 || { cat "$work/as.log" >&2; fail "appstreamcli validate-tree"; }
grep -Fq "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
grep -Fq "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable is not $id.desktop"
grep -Fq "<release version=\"$version\"" "$metainfo" || fail "metainfo lists no release $version"
grep -Fq "<url type=\"homepage\">$(field Homepage)</url>" "$metainfo" || fail "metainfo homepage differs from the package's"
grep -Eq '<image>https?://[^<]+\.png</image>' "$metainfo" || fail "metainfo has no screenshot image"
pass

# Each PNG is as large as the folder it sits in says (width and height from the IHDR chunk).
for size in 16 32 48 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4, $7 * 256 + $8 }')
  [[ "$w $h" == "$size $size" ]] || fail "$(basename "$(dirname "$(dirname "$png")")") icon is ${w}x$h"
done
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/$id.svg" || fail "scalable icon is no SVG"
pass

echo "check-deb: $checks passed, 0 failed"
