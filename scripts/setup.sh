# Shared by ./run and ./test: install what is missing, then build.
# Sourced, not run; expects to be in the project's top folder.

ORVENNA_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
                  libqt6printsupport6 libsqlite3-dev fonts-dejavu-core libgl-dev libical-dev
                  poppler-utils)

orvenna_install_missing() {
    local missing=() pkg
    for pkg in "${ORVENNA_PACKAGES[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# orvenna_build DIR [cmake options...]
orvenna_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)"
}

# Puts a demo database beside the program when it has none.
orvenna_place_database() {
    local bin=$1
    if [ ! -e "$bin/eventDB.mdb" ]; then
        "$bin/orvenna-newdb" "$bin/eventDB.mdb" --demo
        echo "Created a demo database: $bin/eventDB.mdb"
    fi
}
