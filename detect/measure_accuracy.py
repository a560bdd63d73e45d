#!/usr/bin/env python3
"""Measures how often `velta --detect` (NLS_GuessEncodings) names the encoding
of real text: texts made from the message catalogs installed on this machine
(/usr/share/locale/*/LC_MESSAGES/*.mo: short lines, format strings, mixed
ASCII) and its manual pages (/usr/share/man/{ja,ko}: prose), converted with
iconv to each encoding, of 60 to 3000 bytes. Prints a Markdown table.

Usage: python3 detect/measure_accuracy.py <velta binary> [texts per encoding]
"""
import glob
import gettext
import gzip
import os
import random
import re
import subprocess
import sys
import tempfile

# encoding (iconv name): languages of its texts, and the names that count as
# right (the encodings that read such text the same).
ENCODINGS = {
    'UTF-8': (['zh_CN', 'ja', 'ko', 'de', 'fr', 'ru'], {'UTF-8'}),
    'UTF-16': (['zh_CN', 'ja', 'de'], {'UTF-16'}),
    'UTF-16LE': (['zh_TW', 'ko', 'fr'], {'UTF-16LE'}),
    'UTF-16BE': (['ja', 'es'], {'UTF-16BE'}),
    'SHIFT_JIS': (['ja'], {'Shift_JIS', 'windows-31j'}),
    'CP932': (['ja'], {'Shift_JIS', 'windows-31j'}),
    'EUC-JP': (['ja'], {'Extended_UNIX_Code_Packed_Format_for_Japanese'}),
    'ISO-2022-JP': (['ja'], {'ISO-2022-JP'}),
    'GB18030': (['zh_CN'], {'GB18030', 'GBK', 'GB2312'}),
    'GBK': (['zh_CN'], {'GB18030', 'GBK', 'GB2312'}),
    'BIG5': (['zh_TW', 'zh_HK'], {'Big5'}),
    'EUC-KR': (['ko'], {'EUC-KR'}),
    'WINDOWS-1252': (['de', 'fr', 'es', 'pt', 'it'], {'windows-1252'}),
}


def catalog_messages(language):
    messages = []
    for path in sorted(glob.glob('/usr/share/locale/%s/LC_MESSAGES/*.mo' % language)):
        try:
            with open(path, 'rb') as f:
                catalog = gettext.GNUTranslations(f)._catalog
        except Exception:
            continue
        messages += [v.strip() for k, v in catalog.items() if k and isinstance(v, str) and v.strip()]
    return messages


def manual_paragraphs(language):
    paragraphs = []
    for path in sorted(glob.glob('/usr/share/man/%s/man*/*.gz' % language)):
        text = gzip.open(path, 'rt', encoding='utf-8', errors='ignore').read()
        lines = [re.sub(r'\\f[BIRP]|\\-|\\\(..|\\&', '', l) for l in text.splitlines()
                 if l and not l.startswith(('.', "'"))]
        paragraphs += [l for l in lines if any(ord(c) > 0x2E80 for c in l)]
    return paragraphs


def make_text(rng, messages, size):
    start = rng.randrange(len(messages))
    style = rng.choice(['lines', 'lines', 'run-on'])
    parts, total = [], 0
    while total < size:
        message = messages[(start + len(parts)) % len(messages)]
        parts.append(message)
        total += len(message.encode('utf-8')) * 2 // 3 + 1
    return ('\n' if style == 'lines' else ' ').join(parts) + '\n'


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    velta = sys.argv[1]
    per_encoding = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    rng = random.Random(2026)
    sources = {}
    folder = tempfile.mkdtemp()
    results = []
    for encoding, (languages, right) in ENCODINGS.items():
        files = []
        for k in range(per_encoding):
            language = languages[k % len(languages)]
            if language not in sources:
                sources[language] = catalog_messages(language) + manual_paragraphs(language[:2])
            size = rng.choice([60, 120, 200, 300, 500, 1000, 3000])
            text = make_text(rng, sources[language], size)
            encoded = subprocess.run(['iconv', '-c', '-f', 'UTF-8', '-t', encoding],
                                     input=text.encode('utf-8'), capture_output=True).stdout
            path = os.path.join(folder, '%s-%03d' % (encoding, k))
            open(path, 'wb').write(encoded)
            files.append((path, len(encoded)))
        output = subprocess.run([velta, '--detect'] + [p for p, _ in files],
                                capture_output=True, text=True).stdout.splitlines()
        answers = dict((path, answer.split()[0]) for path, answer in
                       (line.rsplit(': ', 1) for line in output))
        for path, length in files:
            # A text that came out as ASCII alone is right as ASCII.
            ascii = max(open(path, 'rb').read() or b'\0') < 0x80 and 'UTF-16' not in encoding
            results.append((encoding, length, answers.get(path, '?'),
                            right | {'US-ASCII'} if ascii else right))
    print('| Encoding | Texts | Right, 200 bytes and more | Right, under 200 bytes | Wrong answers |')
    print('|---|---|---|---|---|')
    for encoding in ENCODINGS:
        rows = [r for r in results if r[0] == encoding]
        long_rows = [r for r in rows if r[1] >= 200]
        short_rows = [r for r in rows if r[1] < 200]
        def rate(group):
            if not group:
                return '-'
            right = sum(1 for r in group if r[2] in r[3])
            return '%d/%d (%.0f%%)' % (right, len(group), 100.0 * right / len(group))
        wrong = {}
        for r in rows:
            if r[2] not in r[3]:
                wrong[r[2]] = wrong.get(r[2], 0) + 1
        print('| %s | %d | %s | %s | %s |' % (encoding, len(rows), rate(long_rows), rate(short_rows),
              ', '.join('%s %d' % kv for kv in sorted(wrong.items())) or '-'))


if __name__ == '__main__':
    main()
