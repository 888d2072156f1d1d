#!/usr/bin/env bash
# Makes the Debian package from a release build with Debian's own compiler
# and hardening flags, and checks it with lintian:
#   scripts/package.sh [build-dir]      (default build-package)
# The package lands in <build-dir>/korvelle_<version>_<arch>.deb.
# Install it with `apt install ./<file>.deb`, which pulls in its libraries.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
dir="${1:-build-package}"
"$root/scripts/deps.sh" package

# Full hardening, as Debian's own packages are built (bindnow, PIE, fortify).
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags="$(dpkg-buildflags --get CPPFLAGS) -DNDEBUG"
if [ ! -f "$dir/build.ninja" ]; then
  # Build type None: the flags are exactly dpkg-buildflags' (optimisation included).
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DKORVELLE_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DKORVELLE_SYSTEM_DEJAVU=ON \
    -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
fi
# Only what is installed (cpack itself builds nothing with Ninja).
cmake --build "$dir" --target korvelle korvelle_assets korvelle_dist_files -- -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack --config CPackConfig.cmake)
deb="$(ls "$dir"/*.deb)"
echo "package: $deb"
dpkg-deb --field "$deb"

# Tags accepted on purpose are listed, with the reason, in dist/lintian-overrides.
suppress="$(awk '!/^#/ && NF { print $1 }' "$root/dist/lintian-overrides" | paste -sd, -)"
lintian --info --display-info --fail-on error,warning ${suppress:+--suppress-tags "$suppress"} "$deb"
echo "lintian: clean apart from dist/lintian-overrides"
