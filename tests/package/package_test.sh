#!/usr/bin/env bash
# Builds the Debian package from the build tree, unpacks it into a scratch root and checks it as a
# user would meet it: both programs report the version, the command-line program migrates the
# sample database and keeps its files in the XDG folders (not beside the program, although the
# unpacked folder is writable), the man pages render without warnings, the desktop entry and the
# AppStream metainfo validate, the bash completion loads, and lintian finds no errors.
# Usage: package_test.sh BUILD_DIR SAMPLE.sqlite VERSION CPACK
# Exit code 77 (a skip for CTest) when a tool it needs is missing.
set -euo pipefail
build=$1 sample=$2 version=$3 cpack=$4

for tool in dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli man groff; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (bash scripts/setup.sh installs it)"
    exit 77
  fi
done

scratch="$build/package_test"
rm -rf "$scratch"
mkdir -p "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The package, made beside (not in) the folder `./run.sh package` uses.
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb=$(ls "$scratch"/out/tabulon_"$version"_*.deb 2>/dev/null || true)
if [ -z "$deb" ]; then
  ls "$scratch/out"
  echo "FAIL: no tabulon_${version}_<arch>.deb"
  exit 1
fi
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Section Depends Recommends

# The run-time libraries came from shlibdeps; the drivers are recommended.
depends=$(dpkg-deb --field "$deb" Depends)
for library in libodbc libsqlite3 libfmt libqt6widgets6 libqt6svg6 libstdc++6; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
grep -q tdsodbc <<<"$(dpkg-deb --field "$deb" Recommends)" || fail "tdsodbc is not recommended"

root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for path in usr/bin/tabulon usr/bin/tabulon-cli usr/share/doc/tabulon/manual/index.html \
            usr/share/doc/tabulon/copyright usr/share/doc/tabulon/changelog.gz \
            usr/share/man/man1/tabulon.1.gz usr/share/man/man1/tabulon-cli.1.gz \
            usr/share/applications/io.github.tabulon.Tabulon.desktop \
            usr/share/metainfo/io.github.tabulon.Tabulon.metainfo.xml \
            usr/share/icons/hicolor/scalable/apps/tabulon.svg \
            usr/share/bash-completion/completions/tabulon-cli; do
  [ -f "$root/$path" ] || fail "the package lacks /$path"
done

# Both programs report the version of the build.
cli="$root/usr/bin/tabulon-cli"
[ "$("$cli" --version)" = "tabulon-cli $version" ] || fail "tabulon-cli --version: $("$cli" --version)"
gui_version=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/tabulon" --version 2>&1 || true)
grep -q "$version" <<<"$gui_version" || fail "tabulon --version: $gui_version"

# The sample migrated by the installed program. Its folder is writable here (as /usr/bin is for
# root); its files still go to the XDG folders.
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
if "$cli" migrate --source "sqlite:$sample" --database sample --target "$scratch/sample.mdb" --quiet \
     >"$scratch/migrate.log" 2>&1; then
  "$cli" mdb check "$scratch/sample.mdb" || fail "mdb check of the migrated sample"
  "$cli" mdb summary "$scratch/sample.mdb"
else
  tail -n 20 "$scratch/migrate.log"
  fail "the installed tabulon-cli could not migrate the sample"
fi
[ -d "$XDG_CONFIG_HOME/tabulon" ] || fail "no settings folder $XDG_CONFIG_HOME/tabulon"
[ -d "$XDG_DATA_HOME/tabulon" ] || fail "no data folder $XDG_DATA_HOME/tabulon"
beside=$(ls -A "$root/usr/bin" | grep -v -x -e tabulon -e tabulon-cli || true)
[ -z "$beside" ] || fail "files written beside the installed program: $beside"

# The man pages render, without a warning from groff or man.
for page in tabulon tabulon-cli; do
  file="$root/usr/share/man/man1/$page.1.gz"
  warnings=$(zcat "$file" | groff -ww -z -man 2>&1 || true)
  [ -z "$warnings" ] || fail "groff on $page(1): $warnings"
  warnings=$(MANWIDTH=80 man -l "$file" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "man -l $page(1): $warnings"
  MANWIDTH=80 man -l "$file" | grep -q "EXIT STATUS" || fail "$page(1) has no EXIT STATUS"
done

desktop-file-validate "$root/usr/share/applications/io.github.tabulon.Tabulon.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.tabulon.Tabulon.metainfo.xml" ||
  fail "appstreamcli validate"

# The completion loads; with bash-completion present it completes commands and options.
bash -n "$root/usr/share/bash-completion/completions/tabulon-cli" || fail "the bash completion does not parse"
if [ -f /usr/share/bash-completion/bash_completion ]; then
  completed=$(bash -c 'source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_WORDS=(tabulon-cli migrate --ta); COMP_CWORD=2; COMP_LINE="tabulon-cli migrate --ta"; COMP_POINT=${#COMP_LINE}
    _tabulon_cli tabulon-cli --ta migrate; echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/tabulon-cli")
  [[ $completed == *--table* && $completed == *--target* ]] || fail "completion of 'migrate --ta': $completed"
fi

# lintian: errors fail the test; warnings are shown.
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
if grep -q '^E:' "$scratch/lintian.log"; then fail "lintian reports errors"; fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
rm -rf "$root" "$scratch/sample.mdb"
echo "package test passed"
