#!/usr/bin/env bash
# Installs the library twice, static and shared, into prefixes under a temporary directory, then
# builds and runs this example against each prefix through find_package, compiles a small program
# through pkg-config against each, and decodes a package with the installed schemas.
# Usage: check.sh [BUILD_ROOT]   (library build trees, reused between runs; default build/package-check)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build_root=${1:-$root/build/package-check}
jobs=${JOBS:-2}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

step() { echo "package-check: $*"; }

install_library() {  # variant shared(ON|OFF) -> installs into $work/$variant
  local variant=$1 shared=$2 build="$build_root/$1"
  step "building and installing the $variant library"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS="$shared" -DDOVA_PACKAGE_BUILD_TESTS=OFF -DDOVA_PACKAGE_BUILD_BENCH=OFF \
    -DDOVA_PACKAGE_BUILD_FUZZ=OFF -DDOVA_PACKAGE_BUILD_TOOLS=ON >/dev/null
  cmake --build "$build" -j "$jobs" >/dev/null
  cmake --install "$build" --prefix "$work/$variant" >/dev/null
}

check_layout() {  # prefix library-file
  local prefix=$1 lib
  lib=$(find "$prefix" -name "$2" -print -quit)
  [[ -n $lib ]] || { echo "package-check: $2 not installed" >&2; return 1; }
  local expected=(
    include/dova/package.hpp include/dova/package/version.hpp include/dova/package/records.hpp
    share/dova_package/schema/application.capnp share/dova_package/schema/profile_common.capnp
    share/dova_package/schema/profile.capnp
  )
  for f in "${expected[@]}"; do
    [[ -f $prefix/$f ]] || { echo "package-check: $f not installed" >&2; return 1; }
  done
  [[ -n $(find "$prefix" -name dova_packageConfig.cmake) ]] || { echo "package-check: no CMake package" >&2; return 1; }
  [[ -n $(find "$prefix" -name dova_package.pc) ]] || { echo "package-check: no dova_package.pc" >&2; return 1; }
  if grep -rqE '#[[:space:]]*include[[:space:]]*[<"](capnp|kj)/' "$prefix/include"; then
    echo "package-check: an installed header includes Cap'n Proto" >&2
    return 1
  fi
}

check_tool() {  # variant build-dir
  local prefix=$work/$1
  if [[ ! -e $2/tools/dovapkg/dovapkg ]]; then
    step "no dovapkg target in this tree, tool install not checked"
    return 0
  fi
  [[ -x $prefix/bin/dovapkg ]] || { echo "package-check: dovapkg not installed" >&2; return 1; }
  "$prefix/bin/dovapkg" --help >/dev/null
}

run_consumer() {  # variant
  local variant=$1 build=$work/consumer-$1
  step "building the consumer against the $variant install"
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$work/$variant" >/dev/null
  cmake --build "$build" -j "$jobs" >/dev/null
  "$build/consumer" "$work/$variant.package"
  step "decoding the package with the installed schemas"
  capnp decode --short "$work/$variant/share/dova_package/schema/application.capnp" Application \
    <"$work/$variant.package" >/dev/null
}

run_pkg_config() {  # variant [--static]
  local variant=$1 prefix=$work/$1 flags
  shift
  step "building a program through pkg-config${*:+ $*} against the $variant install"
  cat >"$work/pc_probe.cpp" <<'CPP'
#include <dova/package.hpp>
#include <iostream>
int main() {
  const auto error = dova::package::PackageError::invalid("probe");
  if (error.to_string() != "Invalid(\"probe\")" || dova::package::VERSION.empty()) return 1;
  std::cout << "pkg-config probe: dova_package " << dova::package::VERSION << '\n';
}
CPP
  flags=$(PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name dova_package.pc -print -quit)")" \
    pkg-config "$@" --cflags --libs dova_package)
  # shellcheck disable=SC2086  # the flags are a word list
  c++ -std=c++20 -Wall -Wextra -Werror "$work/pc_probe.cpp" $flags -o "$work/pc_probe-$variant"
  LD_LIBRARY_PATH="$(dirname "$(find "$prefix" -name 'libdova_package.*' -print -quit)")" \
    "$work/pc_probe-$variant"
}

install_library static OFF
check_layout "$work/static" libdova_package.a
check_tool static "$build_root/static"
install_library shared ON
check_layout "$work/shared" libdova_package.so
check_tool shared "$build_root/shared"

run_consumer static
run_consumer shared
run_pkg_config shared
run_pkg_config static --static
step "all checks passed"
