#!/bin/sh
# An archive's sources alone build the unit with the one command that
# docs/building-from-sources.md gives, in a folder that holds nothing but
# sources/, and the library built gives the shipped x86-64 library's gates,
# base step by base step, over one second.
# The sources the archive lists (the description's <SourceFiles> for FMI 2.0,
# sources/buildDescription.xml for FMI 3.0) are exactly its .cpp files.
# Arguments: cmake fmu recorder work-folder page-that-gives-the-command
set -eu
cmake=$1 fmu=$2 recorder=$3 work=$4 readme=$5
command="c++ -std=c++20 -O2 -ffp-contract=off -fno-fast-math -fno-exceptions -fPIC -shared -fvisibility=hidden -I sources \$(find sources -name '*.cpp') -o Kestrune_fmi3.so -lm"
if ! grep -qF -- "$command" "$readme"; then
  echo "$readme does not give the command this test builds with: $command"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work/unpacked" "$work/build"
cd "$work/unpacked"
"$cmake" -E tar xf "$fmu"
if grep -q 'fmiVersion="3.0"' modelDescription.xml; then
  edition=--fmi3 identifier=Kestrune_fmi3 shipped=binaries/x86_64-linux/Kestrune_fmi3.so
  listed=$(sed -n 's/.*<SourceFile name="\([^"]*\)".*/\1/p' sources/buildDescription.xml | sort)
else
  edition= identifier=Kestrune_win64 shipped=binaries/linux64/Kestrune_win64.so
  listed=$(sed -n 's/.*<File name="\([^"]*\)".*/\1/p' modelDescription.xml | sort)
fi
present=$(cd sources && find . -name '*.cpp' | sed 's|^\./||' | sort)
if [ -z "$present" ] || [ "$listed" != "$present" ]; then
  printf 'the sources listed:\n%s\nthe .cpp files below sources/:\n%s\n' "$listed" "$present"
  exit 1
fi
cp -R sources "$work/build/"
cd "$work/build"
sh -c "$(echo "$command" | sed "s/Kestrune_fmi3\.so/$identifier.so/")"
"$recorder" inputs "$work/inputs.bin" 1.0
"$recorder" gates $edition "$work/unpacked/$shipped" "$work/inputs.bin" "$work/shipped.gates"
"$recorder" gates $edition "$work/build/$identifier.so" "$work/inputs.bin" "$work/built.gates"
"$recorder" compare "$work/shipped.gates" "$work/built.gates"
