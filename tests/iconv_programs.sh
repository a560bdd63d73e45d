#!/usr/bin/env bash
# Real programs on the drop-in iconv library: xmllint re-encoding documents,
# msgconv converting message catalogs and git log re-encoding commit messages,
# each run with libvelta-iconv preloaded and without it. The outputs must be
# identical. The preloaded runs must really be served by Velta (they convert
# to ESCAPED_UNICODE, which only Velta has) and the reference runs must not
# (the same conversion fails there). Every run has LC_ALL set.
# Usage: iconv_programs.sh path/to/libvelta-iconv.so
set -u
library=$(readlink -f "$1")
for program in xmllint msgconv git; do
  if ! command -v "$program" >/dev/null 2>&1; then
    echo "SKIP: $program is not installed"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
failures=0

# Runs a command without and with the library preloaded; the outputs (and
# exit statuses) must be the same, and the preloaded run must have opened a
# conversion through Velta (the library's trace file says so).
same() {
  local name=$1
  shift
  env -u LD_PRELOAD "$@" >"$work/$name.glibc" 2>&1
  echo "exit $?" >>"$work/$name.glibc"
  rm -f "$work/trace"
  LD_PRELOAD=$library VELTA_ICONV_TRACE=$work/trace "$@" >"$work/$name.velta" 2>&1
  echo "exit $?" >>"$work/$name.velta"
  local opened=0
  if [ -f "$work/trace" ]; then
    opened=$(grep -vc ' failed$' "$work/trace")
    grep ' failed$' "$work/trace" >>"$work/refused" || true
  fi
  if [ "$opened" -eq 0 ] && [ "${needs_iconv:-1}" -eq 1 ]; then
    echo "NOT SERVED: $name opened no conversion through Velta"
    failures=$((failures + 1))
  fi
  if cmp -s "$work/$name.glibc" "$work/$name.velta"; then
    echo "same: $name ($opened conversions opened through Velta)"
  else
    echo "DIFFERENT: $name"
    diff "$work/$name.glibc" "$work/$name.velta" | head -n 20
    failures=$((failures + 1))
  fi
}

# Velta serves the preloaded run (and only that one).
served() {
  local name=$1
  shift
  env -u LD_PRELOAD "$@" >"$work/$name.plain" 2>&1
  if grep -qi 'u65e5' "$work/$name.plain"; then
    echo "NOT GLIBC: $name converted to ESCAPED_UNICODE without the library"
    failures=$((failures + 1))
  fi
  LD_PRELOAD=$library "$@" >"$work/$name.served" 2>&1
  if grep -qi 'u65e5' "$work/$name.served"; then
    echo "served by Velta: $name"
  else
    echo "NOT SERVED: $name"
    head -n 5 "$work/$name.served"
    failures=$((failures + 1))
  fi
}

# --- xmllint: a document in UTF-8 re-encoded, and documents in legacy
# encodings read back into UTF-8. Characters a target lacks become character
# references, which needs exact EILSEQ positions.
printf '<?xml version="1.0" encoding="UTF-8"?>\n<doc lang="ja">\n<p>plain ASCII &amp; caf\xc3\xa9</p>\n<p>\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xe3\x81\x82\xe3\x81\x84\xe3\x81\x86 \xe3\x82\xab\xe3\x82\xbf</p>\n<p>\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4 \xe4\xb8\xad\xe6\x96\x87 \xc5\x81\xc3\xb3d\xc5\xba \xe2\x82\xac 5</p>\n</doc>\n' >"$work/doc.xml"
for encoding in ISO-8859-2 ISO-8859-15 Shift_JIS EUC-JP EUC-KR GB18030 UTF-16 windows-1252; do
  # libxml2 converts UTF-16 itself, without iconv.
  needs_iconv=1
  [ "$encoding" = UTF-16 ] && needs_iconv=0
  same "xmllint-encode-$encoding" xmllint --encode "$encoding" "$work/doc.xml"
  env -u LD_PRELOAD xmllint --encode "$encoding" "$work/doc.xml" >"$work/doc-$encoding.xml" 2>/dev/null
  same "xmllint-read-$encoding" xmllint --encode UTF-8 "$work/doc-$encoding.xml"
done
needs_iconv=1
served xmllint-escaped xmllint --encode ESCAPED_UNICODE "$work/doc.xml"

# --- msgconv: a catalog in UTF-8 to legacy encodings and back.
catalog() {
  local language=$1 translation=$2
  printf 'msgid ""\nmsgstr ""\n"Content-Type: text/plain; charset=UTF-8\\n"\n"Language: %s\\n"\n\nmsgid "File"\nmsgstr "%s"\n\nmsgid "Open %%s"\nmsgstr "%%s %s"\n' \
    "$language" "$translation" "$translation" >"$work/$language.po"
}
catalog ja $'\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab\xe3\x82\x92\xe9\x96\x8b\xe3\x81\x8f'
catalog ko $'\xed\x8c\x8c\xec\x9d\xbc \xec\x97\xb4\xea\xb8\xb0'
catalog zh $'\xe6\x89\x93\xe5\xbc\x80\xe6\x96\x87\xe4\xbb\xb6'
for run in ja/EUC-JP ja/SHIFT_JIS ja/GB18030 ja/UTF-16 ko/EUC-KR zh/GB18030; do
  same "msgconv-${run%/*}-${run#*/}" msgconv -t "${run#*/}" "$work/${run%/*}.po"
done
env -u LD_PRELOAD msgconv -t EUC-JP "$work/ja.po" >"$work/ja-eucjp.po"
same "msgconv-back-to-UTF-8" msgconv -t UTF-8 "$work/ja-eucjp.po"

# --- git log: commits whose messages are in legacy encodings, shown in others.
export HOME=$work GIT_CONFIG_NOSYSTEM=1 GIT_PAGER=cat
repository=$work/repository
git init -q "$repository"
git -C "$repository" config user.name "Tester"
git -C "$repository" config user.email "tester@example.org"
commit() {
  local encoding=$1 message=$2
  git -C "$repository" config i18n.commitEncoding "$encoding"
  printf '%s' "$message" | iconv -f UTF-8 -t "$encoding" >"$work/message"
  git -C "$repository" commit -q --allow-empty -F "$work/message"
}
commit ISO-8859-1 $'caf\xc3\xa9 na\xc3\xafve'
commit SHIFT_JIS $'\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x82\xb3\xe3\x83\x9f\xe3\x83\x83\xe3\x83\x88'
commit EUC-KR $'\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4'
commit GB18030 $'\xe4\xb8\xad\xe6\x96\x87\xe6\x8f\x90\xe4\xba\xa4'
for encoding in UTF-8 ISO-8859-1 SHIFT_JIS EUC-JP UTF-16LE; do
  same "git-log-$encoding" git -C "$repository" log --encoding="$encoding" --format='%s%n%b'
done
served git-log-escaped git -C "$repository" log --encoding=ESCAPED_UNICODE --format='%s'

if [ -s "$work/refused" ]; then
  echo "conversions the programs asked for that Velta has not:"
  sort -u "$work/refused"
fi
if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all real-program runs agree"
