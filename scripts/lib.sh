# Shared by scripts/run and scripts/test: Debian packages and the CMake builds.

# What the window program needs to be built (scripts/run).
ORVANE_RUN_PACKAGES=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev libgl-dev libtiff-dev libpng-dev
                     libzip-dev libpugixml-dev nettle-dev)
# The batch tool and the Python package besides (scripts/install-python, and
# pip install . with Debian's pip).
ORVANE_BATCH_PACKAGES=("${ORVANE_RUN_PACKAGES[@]}" libcli11-dev nlohmann-json3-dev
                       pybind11-dev python3-dev python3-numpy python3-pandas python3-dask python3-distributed
                       python3-pip python3-setuptools python3-wheel)
# Everything else the tests, benchmarks, fuzzers and the ARM build need
# (scripts/test).
ORVANE_PACKAGES=("${ORVANE_BATCH_PACKAGES[@]}" libgtest-dev libgmock-dev locales
                 libbenchmark-dev libfftw3-dev clang libclang-rt-14-dev
                 python3-pytest g++-aarch64-linux-gnu qemu-user-static xvfb xauth xdotool)

# Installs whatever of the given Debian packages is missing (as root), or
# says what to install and stops.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Run this command as root (it installs them itself), or have them installed:" >&2
        echo "    apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]: configures with the options given (quick when
# nothing changed), then builds what changed.
build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" > /dev/null
    cmake --build "$dir" -j "$(nproc)"
}
