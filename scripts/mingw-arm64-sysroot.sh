#!/usr/bin/env bash
# Makes the aarch64-w64-mingw32 sysroot that the ARM64 Windows build links against, from
# Debian's own source packages, with Debian's Clang, LLD and LLVM tools: Debian ships no
# MinGW-w64 runtime for ARM64. In the order LLVM-based MinGW toolchains are made: the
# MinGW-w64 headers; its CRT and import libraries (ARM64 only); compiler-rt's builtins;
# then libunwind, libc++abi and libc++ as static libraries. libc++ keeps its threads on
# the Win32 API, so winpthreads is not needed.
#
# The sysroot is made once per machine, outside any clone, so that fresh clones (CI) reuse
# it: in $KESTREL_TOOLCHAIN_CACHE (default /var/cache/kestrel-toolchains), a folder named
# after the source versions, which are those of the installed mingw-w64 headers and Clang.
# A stamp in it names those versions and a digest of the commands that make it from the
# sources (those below "The recipe"); while it matches, a call has nothing to do. A build
# is made in a folder of its own and renamed into place when complete, so a reader never
# sees half a sysroot; concurrent calls wait for each other.
#
# Needs root the first time (to write the cache), and the packages scripts/install-deps.sh
# installs. The machine's apt set-up is only read: the source packages come through a
# sources list and an index folder of the build's own. Usage: mingw-arm64-sysroot.sh
# [--path], where --path only prints where the sysroot is (or would be).
#
# The sysroot: include/ (with c++/v1), lib/ (CRT, import libraries, libc++.a with libc++abi
# merged in, libunwind.a), clang/ (a Clang resource folder: Clang's own headers and the
# builtins, given to the driver as -resource-dir), bin/aarch64-w64-mingw32-clang{,++}
# (wrappers that name all of it, for quick experiments).
set -euo pipefail
script=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")
target=aarch64-w64-mingw32
cache_root=${KESTREL_TOOLCHAIN_CACHE:-/var/cache/kestrel-toolchains}

source_version() {  # installed binary package -> version of its source package
  local version
  version=$(dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null) ||
    { echo "mingw-arm64-sysroot.sh: $1 is not installed (scripts/install-deps.sh)" >&2; exit 1; }
  echo "$version"
}
llvm_major=14  # the Clang, LLD and LLVM tools it builds with, and their runtimes' sources
mingw_version=$(source_version mingw-w64-common)
llvm_version=$(source_version clang-$llvm_major)
sysroot=$cache_root/$target-mingw-w64-${mingw_version#*:}-llvm-${llvm_version#*:}
if [[ ${1:-} == --path ]]; then
  echo "$sysroot"
  exit 0
fi
# The recipe's digest: the commands below its heading, without their comments. How the
# sources are fetched is not part of it (apt checks them against the archive's signed
# index). Digests of earlier recipes that made the same sysroot: the whole script's, before
# it kept apt's state apart.
recipe=$(sed -n '/^# The recipe:/,$p' "$script" | grep -v '^[[:space:]]*#')
[[ -n $recipe ]] || { echo "mingw-arm64-sysroot.sh: no recipe heading" >&2; exit 1; }
recipe=$(sha256sum <<<"$recipe" | cut -c1-16)
same_sysroot_recipes=(93aace39fdf7f518)
versions="mingw-w64 $mingw_version, llvm-toolchain-$llvm_major $llvm_version"
stamp_text="$versions, recipe $recipe"
stamp=$sysroot/.kestrel-sysroot-stamp
up_to_date() {
  local made digest
  [[ -f $stamp ]] || return 1
  made=$(<"$stamp")
  for digest in "$recipe" "${same_sysroot_recipes[@]}"; do
    [[ $made == "$versions, recipe $digest" ]] && return 0
  done
  return 1
}
if up_to_date; then
  echo "$target sysroot up to date: $sysroot"
  exit 0
fi

mkdir -p "$cache_root"
exec 9>"$cache_root/.lock"
flock 9
if up_to_date; then  # made while this call waited
  echo "$target sysroot up to date: $sysroot"
  exit 0
fi
echo "Making the $target sysroot ($stamp_text) in $sysroot"
# A background job beside everyone's builds: it takes what the machine has to spare.
renice -n 19 -p $$ >/dev/null
started=$SECONDS
work=$cache_root/work
staging=$sysroot.new
rm -rf "$work" "$staging"
mkdir -p "$work/src" "$work/logs" "$staging"

step() {  # NAME LOG COMMAND...: runs the command into the log; on failure shows its end
  local name=$1 log=$work/logs/$2.log
  shift 2
  local begun=$SECONDS
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "mingw-arm64-sysroot.sh: $name failed; the whole log is $log" >&2
    exit 1
  fi
  printf '  %-44s %4ds\n' "$name" $((SECONDS - begun))
}

# apt-get source reads deb-src entries of the archive that serves mingw-w64-common here:
# copies of that archive's deb entries (with their Signed-By, which apt requires to agree
# between the entries of one archive), in a sources list of the build's own, indexed into
# a lists folder of its own. The machine's sources, indexes and package cache stay as they
# are.
archive=$(apt-cache policy mingw-w64-common |
          awk '/^ +[0-9]+ [a-z+]+:\/\// { print $2; exit }')
if [[ -z $archive ]]; then
  echo "mingw-arm64-sysroot.sh: no archive serves mingw-w64-common here" >&2
  exit 1
fi
apt_state=$work/apt
mkdir -p "$apt_state/sources.list.d" "$apt_state/lists/partial" "$apt_state/cache"
apt=(apt-get -o DPkg::Lock::Timeout=900 -o Dir::Etc::SourceList="$apt_state/sources.list"
     -o Dir::Etc::SourceParts="$apt_state/sources.list.d" -o Dir::State::Lists="$apt_state/lists"
     -o Dir::Cache="$apt_state/cache")
shopt -s nullglob
# deb822 files: each stanza of Types deb whose URIs hold the archive.
awk -v site="${archive%/}" '
  BEGIN { RS = ""; ORS = "\n\n" }
  { n = split($0, lines, "\n"); types = ""; uris = ""
    for (i = 1; i <= n; i++) {
      if (lines[i] ~ /^Types:/) types = lines[i]
      if (lines[i] ~ /^URIs:/) uris = lines[i] " "
    }
    listed = index(uris, " " site " ") + index(uris, " " site "/ ")
    if (types !~ /[ \t]deb([ \t]|$)/ || !listed) next
    out = ""
    for (i = 1; i <= n; i++) {
      if (lines[i] ~ /^#/) continue
      out = out (lines[i] ~ /^Types:/ ? "Types: deb-src" : lines[i]) "\n"
    }
    printf "%s", out "\n" }' /etc/apt/sources.list.d/*.sources </dev/null \
  >"$apt_state/sources.list.d/deb-src.sources"
# One-line files: each deb line of the archive.
sed -nE "s|^deb([ \t]+(\[[^]]*\][ \t]+)?${archive%/}/?[ \t])|deb-src\1|p" \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.list </dev/null >"$apt_state/sources.list" \
  2>/dev/null || true
step "apt-get update (source indexes)" apt-update "${apt[@]}" update

# The source packages: their upstream tarballs as Debian ships them (apt checks each file
# against the archive's signed index). Debian's own patches are not applied: those of
# mingw-w64 concern GNU dlltool, the host tools and Debian's build flags; those of LLVM,
# the Linux ports and the test suites.
cd "$work/src"
chown _apt "$work/src" 2>/dev/null || true  # apt downloads as _apt where it can write
step "apt-get source mingw-w64, llvm-toolchain-$llvm_major" apt-source \
  "${apt[@]}" source --download-only \
  "mingw-w64=$mingw_version" "llvm-toolchain-$llvm_major=$llvm_version"

# The recipe: from the sources to the sysroot.
orig_tarball() {  # source package -> its upstream tarball (not the signature beside it)
  local file
  for file in "$1"_*.orig.tar.*; do
    [[ $file == *.asc ]] || { echo "$file"; return; }
  done
}
extract() {  # TARBALL DIR MEMBER...: the members below the tarball's top folder
  local tarball=$1 dir=$2
  shift 2
  mkdir -p "$dir"
  tar -xf "$tarball" -C "$dir" --strip-components=1 \
    --exclude=test --exclude=benchmarks --exclude=docs \
    --wildcards --no-wildcards-match-slash "${@/#/*/}"
}
mingw=$work/mingw-w64
llvm=$work/llvm-project
step "extract the headers and the CRT" extract-mingw \
  extract "$(orig_tarball mingw-w64)" "$mingw" mingw-w64-headers mingw-w64-crt \
  COPYING.MinGW-w64-runtime
# Only the runtimes and the CMake modules they use; not their tests or documents.
step "extract the runtimes" extract-llvm \
  extract "$(orig_tarball llvm-toolchain-$llvm_major)" "$llvm" runtimes cmake llvm/cmake \
  libunwind libcxxabi libcxx compiler-rt/cmake compiler-rt/lib/builtins

# The compiler wrappers, which find the sysroot from their own place: autoconf's and
# CMake's probes find them under the target's name.
mkdir -p "$staging/bin" "$staging/clang/lib/windows"
ln -s "$(clang-$llvm_major -print-resource-dir)/include" "$staging/clang/include"
for driver in clang clang++; do
  cat >"$staging/bin/$target-$driver" <<EOF
#!/bin/sh
# $driver for $target over this sysroot: its CRT, compiler-rt's builtins, libunwind, libc++.
sysroot=\$(cd "\$(dirname "\$0")/.." && pwd)
exec $driver-$llvm_major --target=$target --sysroot="\$sysroot" \\
  -resource-dir="\$sysroot/clang" -rtlib=compiler-rt -unwindlib=libunwind -stdlib=libc++ \\
  -fuse-ld=lld -Qunused-arguments "\$@"
EOF
done
for tool in ar ranlib dlltool nm objcopy strip; do
  ln -s "$(command -v "llvm-$tool-$llvm_major" || command -v "llvm-$tool")" \
    "$staging/bin/$target-$tool"
done
chmod +x "$staging/bin/$target-clang" "$staging/bin/$target-clang++"
export PATH=$staging/bin:$PATH
jobs=$(nproc)

mkdir -p "$work/build/headers" "$work/build/crt"
cd "$work/build/headers"
step "mingw-w64 headers: configure" headers-configure \
  "$mingw/mingw-w64-headers/configure" --host=$target --prefix="$staging"
step "mingw-w64 headers: install" headers-install make install
cd "$work/build/crt"
# msvcrt.dll, as Debian's x86 and x64 runtimes use (the default of this version).
step "mingw-w64 CRT: configure" crt-configure \
  "$mingw/mingw-w64-crt/configure" --host=$target --prefix="$staging" \
  --disable-lib32 --disable-lib64 --enable-libarm64 \
  CC=$target-clang CXX=$target-clang++ CFLAGS=-O2 CXXFLAGS=-O2
step "mingw-w64 CRT: build" crt-build make -j"$jobs"
step "mingw-w64 CRT: install" crt-install make install

cmake_cross=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows
  -DCMAKE_C_COMPILER=$target-clang -DCMAKE_CXX_COMPILER=$target-clang++
  -DCMAKE_C_COMPILER_TARGET=$target -DCMAKE_CXX_COMPILER_TARGET=$target
  # Nothing can link yet: the runtimes being built are what a link needs.
  -DCMAKE_C_COMPILER_WORKS=ON -DCMAKE_CXX_COMPILER_WORKS=ON
  -DCMAKE_AR="$staging/bin/$target-ar" -DCMAKE_RANLIB="$staging/bin/$target-ranlib")
step "compiler-rt builtins: configure" builtins-configure \
  cmake -S "$llvm/compiler-rt/lib/builtins" -B "$work/build/builtins" "${cmake_cross[@]}" \
  -DCMAKE_INSTALL_PREFIX="$staging/clang" -DCOMPILER_RT_DEFAULT_TARGET_ONLY=ON \
  -DCOMPILER_RT_BUILD_BUILTINS=ON -DCOMPILER_RT_EXCLUDE_ATOMIC_BUILTIN=OFF \
  -DLLVM_CONFIG_PATH= -DCMAKE_FIND_ROOT_PATH="$staging" \
  -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY
step "compiler-rt builtins: build, install" builtins-build \
  cmake --build "$work/build/builtins" --target install -j "$jobs"

# One build of the three, static only: libc++abi goes into libc++.a, libunwind stays apart
# (the driver links it for -unwindlib=libunwind).
step "libunwind, libc++abi, libc++: configure" runtimes-configure \
  cmake -S "$llvm/runtimes" -B "$work/build/runtimes" "${cmake_cross[@]}" \
  -DCMAKE_INSTALL_PREFIX="$staging" -DLLVM_PATH="$llvm/llvm" \
  -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" \
  -DLLVM_INCLUDE_TESTS=OFF -DLLVM_INCLUDE_DOCS=OFF \
  -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF -DLIBUNWIND_INCLUDE_TESTS=OFF \
  -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON \
  -DLIBCXXABI_ENABLE_SHARED=OFF -DLIBCXXABI_INCLUDE_TESTS=OFF -DLIBCXXABI_LIBDIR_SUFFIX= \
  -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_CXX_ABI=libcxxabi \
  -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF \
  -DLIBCXX_LIBDIR_SUFFIX= -DLIBCXX_INCLUDE_TESTS=OFF -DLIBCXX_INCLUDE_BENCHMARKS=OFF \
  -DLIBCXX_INCLUDE_DOCS=OFF
step "libunwind, libc++abi, libc++: build, install" runtimes-build \
  cmake --build "$work/build/runtimes" --target install -j "$jobs"

# A C++ program that throws, links and names only system DLLs, or the sysroot is not kept.
cd "$work"
cat >smoke.cpp <<'EOF'
#include <mutex>
#include <stdexcept>
#include <string>
int main() {
  std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  try {
    throw std::runtime_error("thrown");
  } catch (const std::exception& e) {
    return std::string(e.what()) == "thrown" ? 0 : 1;
  }
}
EOF
step "a C++ program links (exceptions, std::mutex)" smoke \
  $target-clang++ -static -O2 smoke.cpp -o smoke.exe
if llvm-readobj --coff-imports smoke.exe | grep 'Name:' |
   grep -viqE 'Name: (kernel32|msvcrt)\.dll'; then
  echo "mingw-arm64-sysroot.sh: smoke.exe imports more than KERNEL32 and msvcrt" >&2
  exit 1
fi

mkdir -p "$staging/share/licenses"
cp "$mingw/COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt" \
   "$staging/share/licenses/mingw-w64-runtime.txt"
for runtime in libunwind libcxxabi libcxx; do
  cp "$llvm/$runtime/LICENSE.TXT" "$staging/share/licenses/$runtime.txt"
done
echo "$stamp_text" >"$staging/.kestrel-sysroot-stamp"
rm -rf "$sysroot"
mv "$staging" "$sysroot"
rm -rf "$work"
echo "$target sysroot made in $((SECONDS - started)) s: $sysroot ($(du -sh "$sysroot" | cut -f1))"
