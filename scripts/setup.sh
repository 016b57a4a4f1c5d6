#!/usr/bin/env bash
# One entry point for setting up, building, testing and starting Kelvanor on Debian 12.
#
#   scripts/setup.sh run    install what is missing, build, start the application
#   scripts/setup.sh test   install what is missing, build, run every test
#   scripts/setup.sh deps   only install what is missing
#   scripts/setup.sh build  install what is missing and build
#
# Every step is idempotent: packages already present are not installed again, the TDLib
# library is fetched only when the pinned version is missing, and the build is incremental
# (Ninja + ccache).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
mode="${1:-build}"
build_dir="${TW_BUILD_DIR:-$here/build}"
tdlib_version="0.1008067.0" # TDLib 1.8.67, @prebuilt-tdlib/linux-x64-glibc
tdlib_dir="$here/.deps/tdlib"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

apt_packages=(
    build-essential cmake ninja-build ccache pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-pdf-dev qt6-multimedia-dev qt6-svg-dev libgl-dev
    qt6-qpa-plugins
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav gstreamer1.0-tools
    libcurl4-openssl-dev libsecret-1-dev zlib1g-dev libcpp-httplib-dev
    adwaita-icon-theme shared-mime-info
    libgtest-dev libgmock-dev libbenchmark-dev
    gnome-keyring dbus dbus-x11 libsecret-tools desktop-file-utils
    zip unzip python3 curl ca-certificates iproute2 util-linux xvfb xauth
    clang-16 libclang-rt-16-dev llvm-16 # the fuzz targets only (fuzz/run.sh); the product: g++
)

install_packages() {
    local missing=()
    for pkg in "${apt_packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if ! command -v npm >/dev/null 2>&1; then
        missing+=(npm)
    fi
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "setup: installing ${missing[*]}"
        "${sudo_cmd[@]}" apt-get update -qq
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"
    fi
}

install_tdlib() {
    if [ -f "$tdlib_dir/libtdjson.so" ] && [ "$(cat "$tdlib_dir/VERSION" 2>/dev/null)" = "$tdlib_version" ]; then
        return
    fi
    echo "setup: installing TDLib ($tdlib_version) into .deps/tdlib"
    local npm_dir="$here/.deps/npm"
    mkdir -p "$npm_dir" "$tdlib_dir"
    npm install --no-audit --no-fund --no-save --prefix "$npm_dir" \
        "@prebuilt-tdlib/linux-x64-glibc@$tdlib_version" >/dev/null
    cp "$npm_dir/node_modules/@prebuilt-tdlib/linux-x64-glibc/libtdjson.so" "$tdlib_dir/libtdjson.so"
    echo "$tdlib_version" > "$tdlib_dir/VERSION"
}

build() {
    # Cache hits across checkouts in other folders (CI clones afresh).
    export CCACHE_BASEDIR="$here"
    export CCACHE_NOHASHDIR=1 # debug info would otherwise tie every entry to one folder
    if [ ! -f "$build_dir/build.ninja" ]; then
        cmake -S "$here" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${TW_CMAKE_ARGS:-}
    fi
    cmake --build "$build_dir" -- -j"$(nproc)"
}

run_tests() {
    # Widgets run on the offscreen platform; the keyring test starts its own Secret Service.
    (cd "$build_dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" \
        --timeout 300)
}

case "$mode" in
deps)
    install_packages
    install_tdlib
    ;;
build)
    install_packages
    install_tdlib
    build
    ;;
test)
    install_packages
    install_tdlib
    build
    run_tests
    ;;
run)
    install_packages
    install_tdlib
    build
    exec "$build_dir/App/kelvanor" "${@:2}"
    ;;
*)
    echo "usage: $0 {run|test|deps|build}" >&2
    exit 2
    ;;
esac
