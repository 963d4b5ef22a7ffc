#!/usr/bin/env bash
# Installs the Debian packages the program needs (those missing only), then builds it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(
    # build
    cmake g++ ninja-build pkg-config qt6-base-dev firebird-dev libxlsxwriter-dev libminizip-dev qtkeychain-qt6-dev
    libcsv-dev libicu-dev libarchive-dev
    # scanners (SANE; its library libsane1 comes with it, and with that the test backend the scanner
    # tests scan from); SANE's own scanimage, whose pages the scanner tests compare with
    libsane-dev sane-utils
    # the JPEG library's own scaled decode, the picture benchmark's floor
    libjpeg62-turbo-dev
    # run: database client with its embedded engine, fonts, Qt's Japanese texts, image formats
    libfbclient2 firebird3.0-server-core libxlsxwriter4 fonts-noto-cjk fonts-dejavu-core
    qt6-translations-l10n qt6-image-formats-plugins xdg-utils
    # reading card pictures: the recognition engine with its Japanese (horizontal and vertical)
    # and Latin models
    libtesseract-dev tesseract-ocr-jpn tesseract-ocr-jpn-vert tesseract-ocr-eng
    # tools and tests; the Debian package and the checks of its desktop entry and metadata; the
    # card pictures' drawing and the recognition command (the reading benchmark's baseline)
    firebird3.0-utils util-linux zip python3-vobject
    # programs nobody here wrote that read the exports back: the spreadsheet (headless), an
    # address book's contact parser and a command-line address book
    libreoffice-calc-nogui gir1.2-ebookcontacts-1.2 python3-gi khard
    # team use tests: a real Firebird server, and a keyring in a D-Bus session of the test's own
    firebird3.0-server gnome-keyring dbus
    dpkg-dev file desktop-file-utils appstream lintian
    # the second test run, built with clang's address and undefined-behaviour checks
    clang libclang-rt-14-dev
    # the style checks of the test run
    clang-tidy clang-format
    imagemagick tesseract-ocr
    # the wider drawn card set's gothic and mincho typefaces beside Noto's
    fonts-ipafont-gothic fonts-ipafont-mincho
    ${TAVRONA_EXTRA_PACKAGES:-}
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# TAVRONA_WERROR=ON (tools/test.sh) makes every compiler warning an error.
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVRONA_WERROR="${TAVRONA_WERROR:-OFF}" >/dev/null
cmake --build "$root/build"
