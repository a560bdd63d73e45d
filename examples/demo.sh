#!/bin/sh
# Converts the sample texts of this folder with the velta program given as
# the first argument (default: build/velta) and prints every step.
set -eu
velta=${1:-build/velta}
here=$(dirname "$0")
sample="$here/greetings.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== The sample, UTF-8:"
cat "$sample"
echo "== Detected encoding:"
"$velta" --detect "$sample"
echo "== UTF-8 to x-mac-roman (characters Mac OS Roman lacks become '?'), shown back in UTF-8:"
"$velta" --replace -f UTF-8 -t x-mac-roman -o "$work/roman.txt" "$sample"
"$velta" -f x-mac-roman -t UTF-8 "$work/roman.txt"
echo "== UTF-8 to UTF-7:"
"$velta" -f UTF-8 -t UTF-7 -o "$work/utf7.txt" "$sample"
cat "$work/utf7.txt"
echo "== UTF-7 back to UTF-8:"
"$velta" -f UTF-7 -t UTF-8 "$work/utf7.txt" | tee "$work/back.txt"
cmp -s "$sample" "$work/back.txt" && echo "== The round trip through UTF-7 is exact."
echo "== The IMAP mailbox name of the third line:"
sed -n 3p "$sample" | sed 's/^IMAP folders: //' | tr -d '\n' | "$velta" -f UTF-8 -t IMAP-MODIFIED-UTF-7
echo
