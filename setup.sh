#!/bin/sh
# Installs with apt-get whatever the build and the tests need and this machine lacks.
# "sh setup.sh bench" adds what the benchmarks need, "sh setup.sh valgrind" valgrind,
# "sh setup.sh package" what "make package" needs: dpkg-shlibdeps (dpkg-dev) and
# file for the package's dependencies, lintian to check it. "sh setup.sh test" adds what
# "make test" needs beyond the build: the web page's build (emscripten, Node, Chart.js,
# fast_float and Dragonbox for libc++'s missing floating-point charconv) and its test in
# headless Chromium (chromium, chromium-driver, python3-selenium), matplotlib for the
# test of a pattern result's plot and scipy for the check of the equation-of-state fit.
set -e
# appstream and man-db: the tests validate the AppStream metadata and the manual page.
PKGS="make cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev qt6-base-dev fonts-liberation appstream man-db"
# Eigen: the pattern library's least-squares fits (header-only).
PKGS="$PKGS libeigen3-dev"
# cairo and DejaVu Sans: the pattern command's pictures.
PKGS="$PKGS libcairo2-dev fonts-dejavu-core"
PKGS="$PKGS libcli11-dev help2man"
PKGS="$PKGS python3-dev pybind11-dev python3-numpy python3-pytest"
[ "${1:-}" = bench ] && PKGS="$PKGS libbenchmark-dev time"
[ "${1:-}" = valgrind ] && PKGS="$PKGS valgrind"
[ "${1:-}" = package ] && PKGS="$PKGS dpkg-dev file lintian"
[ "${1:-}" = test ] && PKGS="$PKGS emscripten nodejs libjs-chart.js libfast-float-dev libdragonbox-dev"
[ "${1:-}" = test ] && PKGS="$PKGS chromium chromium-driver python3-selenium"
# matplotlib: the test of a pattern result's plot; scipy: the independent check of the
# equation-of-state fit by orthogonal distance regression.
[ "${1:-}" = test ] && PKGS="$PKGS python3-matplotlib python3-scipy"

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "Installing:$missing"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
