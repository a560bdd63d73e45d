#!/usr/bin/env python3
"""Builds samples of held-out text in the single-byte encodings, to measure
how often a detector names their encoding (bench/detect_compare.cpp) and to
test it (tests/data/detect_samples/).

The text is the part of the manual pages and message catalogs that
generators/generate_language_models.py holds out (never trained on), less the lines of languages not written in Latin letters
that have none of their own letters (messages left in English). For each
language and each encoding the models give it, the samples are windows of the
text cut to the given lengths, encoded with the library's own tables
(resources/); a window with a letter the encoding lacks is skipped (so KOI8-R
carries no Ukrainian), other characters it lacks become "?" (typographic
quotes in the ISO encodings), and Romanian takes the cedilla forms of s and t
in the encodings without the comma ones.

Writes <folder>/manifest.tsv: file, encoding, language, length, and the
encodings that read the sample as the same characters (any of them is
right); and one file a sample.

Usage: python3 detect/make_samples.py <folder> <samples a length> <length>... [--per-encoding]
  (samples of each language in each of its encodings; with --per-encoding,
  of each encoding, its languages in turn: the small set the tests read)
"""
import os
import random
import sys
import unicodedata

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'generators'))
import generate_language_models as models  # noqa: E402

ROMANIAN_CEDILLA = str.maketrans('șțȘȚ', 'şţŞŢ')
SAME_TEXT = {'ISO-8859-8': ['ISO-8859-8-I']}
# Romanian's s and t with a cedilla are the old forms of those with a comma
# below: a reading that differs only there reads the same text.
LETTER_FORMS = str.maketrans('şţŞŢ', 'șțȘȚ')


def in_language(line, language):
    """A line of a language not written in Latin letters is in it when it has
    a letter of its own (catalogs and manual pages keep some messages in
    English: those are English text)."""
    return language not in models.NOT_LATIN or any(
        ord(ch) >= 0x80 and models.is_letter(ch) for ch in line)


def tables():
    decoded = {}
    for name, source, _ in models.ENCODINGS:
        decoded[name] = models.decode_table(source)
    return decoded


def encode(text, table):
    """The bytes of text in the encoding, or None when a letter is missing."""
    encoder = {ch: b for b, ch in enumerate(table) if ch is not None and not 0x80 <= ord(ch) <= 0x9F}
    out = bytearray()
    for ch in text:
        b = encoder.get(ch)
        if b is None:
            if models.is_letter(ch):
                return None
            b = ord('?')
        out.append(b)
    return bytes(out)


def decode(data, table):
    return ''.join(table[b] or '\ufffd' for b in data).translate(LETTER_FORMS)


def main():
    arguments = [a for a in sys.argv[1:] if a != '--per-encoding']
    per_encoding = len(arguments) < len(sys.argv) - 1
    if len(arguments) < 3:
        sys.exit(__doc__)
    folder, per_length, lengths = arguments[0], int(arguments[1]), [int(a) for a in arguments[2:]]
    os.makedirs(folder, exist_ok=True)
    decoded = tables()
    rng = random.Random(35)
    manifest = []
    # (language, encoding, samples of each length)
    plan = [(language, name, per_length) for language in models.LANGUAGES
            for name, _, ls in models.ENCODINGS if language in ls]
    if per_encoding:  # the encoding's languages in turn
        plan = [(ls[k % len(ls)], name, 1) for name, _, ls in models.ENCODINGS for k in range(per_length)]
    texts = {}
    for language, encoding, count in plan:
        if language not in texts:
            text = models.language_text(language, 'held-out')
            texts[language] = [l for l in text.split('\n') if l.strip() and in_language(l, language)]
        lines = texts[language]
        table = decoded[encoding]
        for length in lengths:
            made, tries = 0, 0
            while made < count and tries < count * 50:
                tries += 1
                start = rng.randrange(len(lines))
                window = '\n'.join(lines[start:start + length])[:length * 2]
                if encoding in ('windows-1250', 'ISO-8859-2', 'IBM852'):
                    window = window.translate(ROMANIAN_CEDILLA)
                data = encode(window, table)
                if data is None or len(data) < length:
                    continue
                data = data[:length]
                if max(data) < 0x80:
                    continue
                same = [name for name in decoded if decode(data, decoded[name]) == decode(data, table)]
                same += [twin for name in same for twin in SAME_TEXT.get(name, [])]
                name = '%s-%s-%d-%02d' % (encoding.replace(':', '_'), language, length, len(manifest))
                with open(os.path.join(folder, name), 'wb') as f:
                    f.write(data)
                manifest.append('\t'.join([name, encoding, language, str(length), ','.join(same)]))
                made += 1
    with open(os.path.join(folder, 'manifest.tsv'), 'w') as f:
        f.write('\n'.join(manifest) + '\n')


if __name__ == '__main__':
    main()
