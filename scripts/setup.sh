# Shared by ./run, ./test, ./install and ./package: install what is missing,
# then build. Sourced, not run; expects to be in the project's top folder.

ORVENNA_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite
                  libqt6printsupport6 libsqlite3-dev fonts-dejavu-core libgl-dev
                  postgresql-15 libqt6sql6-psql libical-dev poppler-utils libsecret-1-dev)
# The CalDAV servers the sync tests start, the independent client that
# plays the phone, the test servers' certificates, the German locale
# source a test server speaks, a secret service of the tests' own, and the
# sqlite3 tool, which writes a calendar file as other programs do.
ORVENNA_TEST_SERVERS=(radicale xandikos python3-caldav openssl curl locales gnome-keyring dbus-daemon sqlite3)
# What making and checking the Debian package needs beyond the build.
ORVENNA_PACKAGE_TOOLS=(dpkg-dev file desktop-file-utils appstream libglib2.0-bin)

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

# The user's data folder as the XDG rules have it (a relative XDG_DATA_HOME
# counts as unset); the calendar computes the same.
orvenna_data_home() {
    case ${XDG_DATA_HOME:-} in
        /*) printf '%s\n' "$XDG_DATA_HOME" ;;
        *) printf '%s\n' "$HOME/.local/share" ;;
    esac
}

# The user's settings folder, by the same rule.
orvenna_config_home() {
    case ${XDG_CONFIG_HOME:-} in
        /*) printf '%s\n' "$XDG_CONFIG_HOME" ;;
        *) printf '%s\n' "$HOME/.config" ;;
    esac
}

# orvenna_install_program_folder BUILD FOLDER: the program files of BUILD into
# FOLDER, replaced rather than overwritten so a running calendar is no
# obstacle. Staged first because CMake reads a backslash in a path as a
# folder separator.
orvenna_install_program_folder() {
    local stage
    stage=$(mktemp -d)
    cmake --install "$1" --prefix "$stage" >/dev/null
    mkdir -p "$2"
    cp -R --remove-destination "$stage/." "$2/"
    rm -rf "$stage"
}
