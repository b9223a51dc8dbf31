#!/usr/bin/env bash
# The package test: builds the Debian package, installs it with dpkg into a scratch
# root (its maintainer scripts run with DPKG_ROOT pointing there), then, as a user
# without a registry of their own, runs the installed vellum-script on the installed
# examples and the installed host on the installed example site; finally removes and
# purges the package and checks that the modules were unregistered.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=$(bash scripts/package.sh)
work=$(mktemp -d)
host_pid=
cleanup() {
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$work/home" "$work/out"
touch "$root/var/lib/dpkg/status"
as_root=()
[ "$(id -u)" = 0 ] || as_root=(--force-not-root)
# The scratch root has none of the package's dependencies; dpkg's complaints about them
# go to a log shown only when something fails.
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-depends "${as_root[@]}" \
    --log=/dev/null "$@" >>"$work/dpkg.log" 2>&1 || fail "dpkg $*: $(cat "$work/dpkg.log")"
}

echo "package test: installing $deb into $root"
dpkg_root -i "$deb"
registry=$root/var/lib/vellum/registry
for progid in Quillmark.Easel Vellum.EZFont Quillmark.Images VellumSet.Dictionary Vellum.Database; do
  grep -q "\"$progid\"" "$registry" || fail "$progid is not in the system registry"
done
unit=$(find "$root" -name vellum-host.service -path '*systemd/system/*' | head -n 1)
[ -n "$unit" ] || fail "the host's unit is not installed"
! find "$root" -path '*.wants/vellum-host.service' | grep -q . || fail "the unit is enabled"

# A user with no registry of their own reads the system registry.
export HOME=$work/home VELLUM_SYSTEM_REGISTRY=$registry
unset VELLUM_REGISTRY XDG_DATA_HOME
bin=$root/usr/bin
examples=$root/usr/share/doc/vellum/examples
"$bin/vellum-script" --version
out=$("$bin/vellum-script" "$examples/easel_properties.js")
grep -q "ImageQuality = 101 refused" <<<"$out" || fail "easel_properties.js: $out"
cat >"$work/picture.js" <<'JS'
var easel = CreateObject("Quillmark.Easel");
easel.CreateGradientImage(320, 200, 0x2040C0, 0xF0D080, eziVertical);
easel.SaveImage(eziFile, eziJPG, args[0]);
JS
"$bin/vellum-script" "$work/picture.js" "$work/harbour.jpg"
"$bin/vellum-script" "$examples/edit_images.js" "$work/out" "$work/harbour.jpg" >/dev/null
for made in banner.png harbour-thumb.jpg harbour-turned.jpg; do
  [ -s "$work/out/$made" ] || fail "edit_images.js made no $made"
done

# The installed host on the installed example site.
coproc HOST { exec "$bin/vellum-host" --port 0 "$root/usr/share/vellum/site" 2>"$work/host.log"; }
host_pid=$HOST_PID
read -r -t 20 listening <&"${HOST[0]}" || fail "the host did not start: $(cat "$work/host.log")"
base=${listening#listening on }
reply=$(curl -sS -o "$work/banner.png" -w '%{http_code} %{content_type}' \
  "${base}banner.asp?text=Installed")
[ "$reply" = "200 image/png" ] || fail "banner.asp answered $reply: $(cat "$work/host.log")"
[ "$(head -c 4 "$work/banner.png" | od -An -tx1 | tr -d ' ')" = 89504e47 ] ||
  fail "banner.asp sent no PNG"
kill -TERM "$host_pid"
wait "$host_pid" || true
host_pid=

dpkg_root -r vellum
[ ! -e "$bin/vellum-script" ] || fail "removing left the programs"
! grep -q "Quillmark.Easel" "$registry" || fail "removing left the modules registered"
dpkg_root -P vellum
[ ! -e "$registry" ] || fail "purging left the system registry"
echo "package test: $(basename "$deb") installs, runs and goes"
