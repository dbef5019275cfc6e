#!/usr/bin/env bash
# Builds the libraries the Windows programs link, static, for x86_64-w64-mingw32, from
# Debian's own source packages, into PREFIX (default build-windows/deps): libjpeg-turbo
# (without SIMD), libpng, giflib, cgif, libwebp, libmicrohttpd and GoogleTest. zlib is Debian's
# libz-mingw-w64-dev. The sources come through a private apt configuration whose deb-src
# lines are the machine's configured deb lines, read now; a package the configured suites
# lack is taken from the next suite that has it. Does nothing for a library already built.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(realpath -m "${1:-build-windows/deps}")
work=$(realpath -m build-windows/deps-src)
mkdir -p "$prefix" "$work"
toolchain=$PWD/tools/mingw-toolchain.cmake

# The private apt configuration: the machine's sources as deb-src.
apt_dir=$work/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
: >"$apt_dir/sources.list"
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >>"$apt_dir/sources.list"
done
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/sources.list.d/$(basename "$file")"
done
# The next suites of the main archive, for a source the configured suites lack.
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] && sed -n -E 's#^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]*/debian/?)[[:space:]]+[a-z]+[[:space:]]+(.*)#deb-src \2 trixie \3\ndeb-src \2 sid \3#p' "$file" >>"$apt_dir/sources.list"
done
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && awk 'BEGIN { RS = ""; ORS = "\n\n" } /URIs:[^\n]*\/debian\/?(\n|$)/' "$file" |
    sed -E 's/^Types:.*/Types: deb-src/; s/^Suites:.*/Suites: trixie sid/' >"$apt_dir/sources.list.d/next-$(basename "$file")"
done
apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
  -o "Dir::Cache::pkgcache=" -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
fetched_index=false
fetch() {  # fetch SOURCE_PACKAGE: unpacks it into $work/SOURCE_PACKAGE
  local package=$1
  [ -d "$work/$package" ] && return
  if ! $fetched_index; then
    apt-get "${apt_options[@]}" -qq update
    fetched_index=true
  fi
  local unpack=$work/unpack-$package
  rm -rf "$unpack" && mkdir -p "$unpack"
  # The newest of the configured suites first; a mirror may lack it (a security update's
  # source), so then each suite in turn, the next suites last.
  local suites
  suites=$(grep -h -o -E '^(Suites:.*|deb-src +[^ ]+ +[^ ]+)' "$apt_dir/sources.list" \
    "$apt_dir"/sources.list.d/* 2>/dev/null | sed -E 's/^Suites://; s/^deb-src +[^ ]+ +//' | tr ' ' '\n' | grep . || true)
  local found=false
  for target in "$package" $(printf "$package/%s " $suites); do
    if (cd "$unpack" && apt-get "${apt_options[@]}" -qq source "$target" >/dev/null 2>&1); then
      found=true
      break
    fi
    rm -rf "${unpack:?}"/*
  done
  if ! $found; then
    echo "no source package $package in the configured suites" >&2
    exit 1
  fi
  mv "$(find "$unpack" -mindepth 1 -maxdepth 1 -type d | head -1)" "$work/$package"
  rm -rf "$unpack"
}
cmake_build() {  # cmake_build SOURCE_FOLDER CMAKE_ARGUMENTS...
  local source=$1
  shift
  cmake -S "$source" -B "$source/build-mingw" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
  cmake --build "$source/build-mingw" -j"$(nproc)" >/dev/null
  cmake --install "$source/build-mingw" >/dev/null
}
archive() {  # archive LIBRARY HEADERS SOURCES...: compiles C sources into lib/libLIBRARY.a
  local library=$1 headers=$2 objects=()
  shift 2
  local build=$work/objects-$library
  mkdir -p "$build" "$prefix/lib" "$prefix/include"
  for source in "$@"; do
    x86_64-w64-mingw32-gcc-posix -O2 -I"$prefix/include" $(for h in $headers; do printf -- '-I%s ' "$(dirname "$h")"; done) \
      -c "$source" -o "$build/$(basename "$source").o"
    objects+=("$build/$(basename "$source").o")
  done
  x86_64-w64-mingw32-ar rcs "$prefix/lib/lib$library.a" "${objects[@]}"
  cp $headers "$prefix/include/"
}

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  fetch libjpeg-turbo
  cmake_build "$work/libjpeg-turbo" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
fi
if [ ! -f "$prefix/lib/libpng.a" ]; then
  fetch libpng1.6
  cmake_build "$work/libpng1.6" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include
  [ -f "$prefix/lib/libpng.a" ] || cp "$prefix"/lib/libpng16*.a "$prefix/lib/libpng.a"
fi
if [ ! -f "$prefix/lib/libgif.a" ]; then
  fetch giflib
  g=$work/giflib
  archive gif "$g/gif_lib.h" "$g"/dgif_lib.c "$g"/egif_lib.c "$g"/gifalloc.c "$g"/gif_err.c \
    "$g"/gif_font.c "$g"/gif_hash.c "$g"/openbsd-reallocarray.c "$g"/quantize.c
fi
if [ ! -f "$prefix/lib/libcgif.a" ]; then
  fetch cgif
  c=$work/cgif
  archive cgif "$c/inc/cgif.h $c/inc/cgif_raw.h" "$c"/src/cgif.c "$c"/src/cgif_raw.c
fi
if [ ! -f "$prefix/lib/libwebp.a" ]; then
  fetch libwebp
  cmake_build "$work/libwebp" -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF \
    -DWEBP_BUILD_DWEBP=OFF -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF \
    -DWEBP_BUILD_VWEBP=OFF -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF \
    -DWEBP_BUILD_EXTRAS=OFF -DWEBP_USE_THREAD=OFF
fi
if [ ! -f "$prefix/lib/libmicrohttpd.a" ]; then
  fetch libmicrohttpd
  # Debian's patches touch its autotools files, so they are made again first.
  (cd "$work/libmicrohttpd" && autoreconf -fi >/dev/null 2>&1 &&
    ./configure -q --host=x86_64-w64-mingw32 --prefix="$prefix" --enable-static --disable-shared \
      --disable-https --disable-curl --disable-doc --disable-examples --disable-tools \
      --without-gnutls --disable-dauth --disable-cookie --disable-postprocessor >/dev/null &&
    make -j"$(nproc)" -C src/microhttpd >/dev/null && make -C src/microhttpd install >/dev/null &&
    make install-data -C src/include >/dev/null)
fi
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  fetch googletest
  cmake_build "$work/googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
fi
echo "libraries for Windows in $prefix"
