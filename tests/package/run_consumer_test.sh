#!/usr/bin/env bash
# Installs the build this test runs from into a scratch prefix and checks the
# result the way an application meets it: the installed files and SONAMEs,
# the effects library's dependencies and exported symbols, and a small
# consumer built once with find_package(QuorvelAudioEffects) and once with
# pkg-config, each run against the installed libraries; when the build made
# the jar, a Java program on the installed jar loading the installed library.
#
#   run_consumer_test.sh <build dir> <work dir> <cmake> <c++ compiler>
#                        <cmake generator> <libdir> <includedir>
#                        [<java> <javac> <installed jar> <version>]
set -euo pipefail

if [ $# -ne 7 ] && [ $# -ne 11 ]; then
  echo "usage: $0 <build dir> <work dir> <cmake> <c++ compiler> <generator> <libdir> <includedir>" \
    "[<java> <javac> <installed jar> <version>]" >&2
  exit 2
fi
build=$1 work=$2 cmake=$3 cxx=$4 generator=$5 libdir=$6 includedir=$7
java=${8:-} javac=${9:-} installed_jar=${10:-} version=${11:-}
consumer_source=$(cd "$(dirname "$0")/consumer" && pwd)
jvm_source=$(cd "$(dirname "$0")/jvm" && pwd)

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
fatal() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs a step quietly, showing its output only when it fails.
quiet() {
  local log=$1
  shift
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    return 1
  fi
}

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
case $libdir in /*) lib=$libdir ;; *) lib=$prefix/$libdir ;; esac
case $includedir in /*) include=$includedir ;; *) include=$prefix/$includedir ;; esac
case $installed_jar in /* | '') jar=$installed_jar ;; *) jar=$prefix/$installed_jar ;; esac

quiet "$work/install.log" "$cmake" --install "$build" --prefix "$prefix" ||
  fatal "cmake --install $build failed (is the build complete?)"

# --- Installed files -------------------------------------------------------
for file in \
  "$lib/libQuorvelSDK.so" "$lib/libQuorvelSDK.so.1" \
  "$lib/libQuorvelAudioEffects.so" "$lib/libQuorvelAudioEffects.so.1" \
  "$include/quorvel/AudioEffects.hpp" "$include/quorvel/QuorvelSDK.hpp" \
  "$include/quorvel/audio/CircularBuffer.hpp" "$include/quorvel/audio/LFO.hpp" \
  "$include/quorvel/audioeffects/AudioEffectsExtension.hpp" \
  "$lib/cmake/QuorvelAudioEffects/QuorvelAudioEffectsConfig.cmake" \
  "$lib/cmake/QuorvelAudioEffects/QuorvelAudioEffectsConfigVersion.cmake" \
  "$lib/pkgconfig/quorvel-sdk.pc" "$lib/pkgconfig/quorvel-audioeffects.pc"; do
  [ -e "$file" ] || fail "not installed: ${file#"$prefix"/}"
done
if [ -n "$jar" ]; then
  # The versioned jar and the unversioned link to it, as Debian installs jars.
  jar_link=$(dirname "$jar")/quorvel-audioeffects.jar
  [ -f "$jar" ] || fail "not installed: ${jar#"$prefix"/}"
  [ -L "$jar_link" ] && [ "$(readlink -f "$jar_link")" = "$(readlink -f "$jar")" ] ||
    fail "${jar_link#"$prefix"/} is not a link to $(basename "$jar")"
fi
[ "$failures" -eq 0 ] || fatal "the install is incomplete"

soname() { readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p'; }
for name in QuorvelSDK QuorvelAudioEffects; do
  actual=$(soname "$lib/lib$name.so")
  [ "$actual" = "lib$name.so.1" ] || fail "lib$name.so has SONAME '$actual', not lib$name.so.1"
done

effects=$lib/libQuorvelAudioEffects.so.1

# --- Dependencies ------------------------------------------------------------
# Only the host library, Highway's runtime (libhwy1: the choice of vector
# kernels for the CPU) and the C and C++ runtimes; the host library must be
# found beside the effects library with no search path set, as when a JVM
# loads it by absolute path.
needed=$(readelf -d "$effects" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for dependency in $needed; do
  case $dependency in
    libQuorvelSDK.so.1 | libhwy.so.1 | libstdc++.so.* | libc++.so.* | libc++abi.so.* | libm.so.* | \
      libgcc_s.so.* | libc.so.* | libpthread.so.* | libdl.so.* | ld-linux*) ;;
    *) fail "libQuorvelAudioEffects depends on $dependency" ;;
  esac
done
sdk_resolved=$(env -u LD_LIBRARY_PATH ldd "$effects" | awk '$1 == "libQuorvelSDK.so.1" { print ($3 == "not" ? "nowhere" : $3) }')
[ "$sdk_resolved" = "$lib/libQuorvelSDK.so.1" ] ||
  fail "the installed effects library finds libQuorvelSDK.so.1 at '$sdk_resolved', not beside it"

# --- Exported symbols ------------------------------------------------------
# The JNI entry point and the library's own namespaces, nothing else: any
# other symbol (a std:: template instantiation, a host type) would be
# interposed with the application's copy or pin the library's internals.
exported=$(nm -D --defined-only "$effects" | awk 'NF >= 3 { print $3 }' | c++filt)
ours='^(Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load$|((typeinfo name|typeinfo|vtable|VTT|construction vtable|guard variable) for |(non-virtual |virtual |covariant return )?thunk to )?quorvel::(extensions::audioeffects|audio)::)'
foreign=$(grep -Ev "$ours" <<<"$exported" || true)
[ -z "$foreign" ] || fail "libQuorvelAudioEffects exports symbols outside its namespaces:
$foreign"
for symbol in \
  'Java_com_omnifral_quorvelaudioeffects_AudioEffectsExtension_load' \
  'quorvel::extensions::audioeffects::AudioEffectsExtension::load()' \
  'quorvel::audio::CircularBuffer::CircularBuffer(int)'; do
  grep -qxF "$symbol" <<<"$exported" || fail "libQuorvelAudioEffects does not export $symbol"
done
# An exported polymorphic class must export its type information too, or an
# application's dynamic_cast to it, or a class derived from it, fails to link.
all_symbols=$(nm --defined-only "$effects" 2>/dev/null | awk 'NF >= 3 { print $3 }' | c++filt)
polymorphic=$(sed -n 's/^vtable for \(quorvel::\(extensions::audioeffects\|audio\)::.*\)$/\1/p' \
  <<<"$all_symbols" | grep -v 'anonymous namespace' || true)
while IFS= read -r class; do
  [ -n "$class" ] || continue
  if grep -qF "$class::" <<<"$exported" && ! grep -qxF "typeinfo for $class" <<<"$exported"; then
    fail "libQuorvelAudioEffects exports members of $class but not its typeinfo"
  fi
done <<<"$polymorphic"

# --- Consumer through the CMake package --------------------------------------
expect_output() {  # <program> <label>
  local output
  if ! output=$("$1"); then
    fail "the $2 consumer failed"
    return
  fi
  printf '%s\n' "$output" >"$work/$2.out"
  [ "$(head -n 1 <<<"$output")" = "extension AudioEffects" ] ||
    fail "the $2 consumer printed no extension line"
  if grep -v '^extension AudioEffects$' <<<"$output" | grep -Ev '^node type AudioEffects\.[A-Za-z]+$'; then
    fail "the $2 consumer printed the unexpected lines above"
  fi
  local resolved
  resolved=$(env -u LD_LIBRARY_PATH ldd "$1" | awk '$1 ~ /^libQuorvel/ { print $3 }' | sort -u)
  [ "$resolved" = "$(printf '%s\n' "$lib/libQuorvelAudioEffects.so.1" "$lib/libQuorvelSDK.so.1" | sort)" ] ||
    fail "the $2 consumer loads ${resolved//$'\n'/ }, not the installed libraries"
}

consumer_build=$work/cmake-consumer
if quiet "$work/consumer-configure.log" "$cmake" -S "$consumer_source" -B "$consumer_build" \
  -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF &&
  quiet "$work/consumer-build.log" "$cmake" --build "$consumer_build"; then
  found=$(sed -n 's/^QuorvelAudioEffects_DIR:[A-Z]*=//p' "$consumer_build/CMakeCache.txt")
  [ "$found" = "$lib/cmake/QuorvelAudioEffects" ] || fail "find_package used $found"
  expect_output "$consumer_build/consumer" cmake
else
  fail "the consumer does not build with find_package(QuorvelAudioEffects)"
fi

# --- Consumer through pkg-config -------------------------------------------
if ! command -v pkg-config >/dev/null; then
  fail "pkg-config is not installed"
elif ! flags=$(PKG_CONFIG_LIBDIR=$lib/pkgconfig PKG_CONFIG_PATH='' \
  pkg-config --cflags --libs quorvel-audioeffects); then
  fail "pkg-config does not resolve quorvel-audioeffects"
else
  # shellcheck disable=SC2086 # the flags are a word list
  if quiet "$work/pkg-config-build.log" "$cxx" -std=c++17 -Wall -Wextra -Werror \
    "$consumer_source/main.cpp" $flags "-Wl,-rpath,$lib" -o "$work/pkg-config-consumer"; then
    expect_output "$work/pkg-config-consumer" pkg-config
    if [ -f "$work/cmake.out" ] && ! cmp -s "$work/cmake.out" "$work/pkg-config.out"; then
      fail "the two consumers print different node types"
    fi
  else
    fail "the consumer does not build with: pkg-config --cflags --libs quorvel-audioeffects ($flags)"
  fi
fi

# --- A JVM application on the installed jar ---------------------------------
# The jar's class loads the installed library once by System.loadLibrary from
# java.library.path and once by the path in quorvel.audioeffects.library; the
# library must bring the host library from beside it with no search path set.
if [ -n "$jar" ]; then
  classes=$work/jvm-classes
  if quiet "$work/jvm-compile.log" "$javac" -Xlint:all -Werror -encoding UTF-8 -cp "$jar" \
    -d "$classes" "$jvm_source/InstalledJarCheck.java"; then
    for how in "-Djava.library.path=$lib" "-Dquorvel.audioeffects.library=$effects"; do
      if ! quiet "$work/jvm.log" env -u LD_LIBRARY_PATH "$java" -Xcheck:jni "$how" \
        -cp "$jar:$classes" InstalledJarCheck "$lib" "$version"; then
        fail "the Java program on the installed jar fails with $how"
      elif grep -q 'WARNING in native method' "$work/jvm.log"; then
        cat "$work/jvm.log" >&2
        fail "the JVM reports bad JNI use with $how"
      fi
    done
  else
    fail "InstalledJarCheck does not compile against the installed jar"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "OK: installed to $prefix; node types:"
sed -n 's/^node type /  /p' "$work/cmake.out"
if [ -n "$jar" ]; then
  echo "the installed ${jar#"$prefix"/} loads the installed library into a JVM"
fi
