# Debian packages each command needs, installed only when missing.
# Sourced by the run and test scripts; run them as root on Debian 12.

BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev"
TEST_PACKAGES=""

install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        apt-get update -qq
        # Packages with services of their own must not start them here.
        DEBIAN_FRONTEND=noninteractive RUNLEVEL=1 \
            apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build_project() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j"$(nproc)"
}
