#!/usr/bin/env python3
"""Generates the language models with which NLS_GuessEncodings tells the
single-byte encodings apart: detect/models/language_models.h.

Input: text that Debian ships translated, read from this machine:
  - the translated manual pages of the manpages-l10n packages (manpages-cs,
    -da, -de, -el, -es, -fi, -fr, -hu, -it, -mk, -nb, -nl, -pl, -pt, -ro, -ru,
    -sr, -sv, -tr, -uk, -vi): /usr/share/man/<language>/man*/*.gz, roff
    requests and escapes removed;
  - the translations in the gettext catalogs of the installed packages
    (libc-l10n, iso-codes, coreutils, dpkg, apt, debconf-i18n and the rest):
    /usr/share/locale/<language>/LC_MESSAGES/*.mo, msgstr only, less the
    lists of language names of ISO 639-3 and -5 (names left in English).
Install them with `apt-get install -y manpages-<language>... libc-l10n iso-codes
coreutils dpkg apt debconf-i18n`. Each source file goes whole to the training
part or the held-out part, by a CRC-32 of its path (of its text for a
catalog, which may be installed under two names; one in five held out); the
models never see the held-out part, which detect/measure_accuracy.py samples.

The encodings are read from the library's own tables (resources/single_byte/,
resources/charmaps/), so a model reads a byte as the library decodes it.

A model: the language's 60 most frequent letters and other non-ASCII
characters (lower case; combining marks count as letters; the apostrophe
U+2019 of French or the guillemets of Russian are common, the low quote
U+201A inside a word is not), and for each pair of symbols (a letter of the alphabet; 0:
an ASCII character other than a letter; 1: any other letter; 2: any other
non-ASCII punctuation or space; 3: any other character) the cost of the second after the first,
-log2 P(second | first) in quarter bits, from the training part with add-0.2
smoothing, at most 100 (25 bits), plus log2 26 bits for a foreign letter
(which letter it is). Languages not written in Latin letters count ASCII
letters as foreign. Each model also has the cost of each symbol
alone, -log2 P(symbol) (log2 25 bits more for an upper-case letter), and
states the mean cost of a pair with a non-ASCII character in its held-out
part. For each encoding and
each language written in it, a table maps a byte to its symbol (bit 6: an
upper-case letter; bit 7: a byte the encoding leaves unassigned or reads as a
C1 control, which real text does not hold). Romanian's s and t with a cedilla
are read as the same letters with a comma below.

Usage: python3 generators/generate_language_models.py
       python3 generators/generate_language_models.py --held-out LANGUAGE
           (prints the held-out text of a language, for measurement)
"""
import glob
import gettext
import gzip
import math
import os
import re
import subprocess
import sys
import unicodedata
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..')
OUTPUT = os.path.join(ROOT, 'detect', 'models', 'language_models.h')
ALPHABET = 60  # letters a model names; symbols 0 to 3 are the rest
FIRST_LETTER = 4
SMOOTHING = 0.2
MAX_COST = 100

# Languages not written in Latin letters: the Latin words in their text
# (names, untranslated messages) are foreign letters to their models.
NOT_LATIN = {'ru', 'uk', 'bg', 'sr', 'mk', 'be', 'el', 'he', 'ar', 'fa', 'th'}
# A foreign letter is one symbol for all letters the model does not name:
# which one it is costs as much again as picking one of 26 at random, so a
# model that lumps them does not read them cheaper than one that tells them
# apart (log2 26 bits, in quarter bits).
FOREIGN_LETTER_COST = round(4 * math.log2(26))
# Text has an upper-case letter for every twenty-five or so lower-case ones:
# being upper case costs log2 25 bits more (a reading that swaps cases pays).
UPPER_CASE_COST = round(4 * math.log2(25))
# A byte real text does not hold costs as much as the rarest pair.
UNASSIGNED_COST = MAX_COST

# BCP 47 language: (catalog locales, manual page folders)
LANGUAGES = {
    'de': (['de'], ['de']), 'fr': (['fr'], ['fr']), 'es': (['es'], ['es']),
    'it': (['it'], ['it']), 'pt': (['pt', 'pt_BR'], ['pt', 'pt_BR']),
    'nl': (['nl'], ['nl']), 'da': (['da'], ['da']), 'sv': (['sv'], ['sv']),
    'fi': (['fi'], ['fi']), 'nb': (['nb'], ['nb']),
    'pl': (['pl'], ['pl']), 'cs': (['cs'], ['cs']), 'sk': (['sk'], []),
    'hu': (['hu'], ['hu']), 'hr': (['hr'], ['hr']), 'sl': (['sl'], ['sl']),
    'ro': (['ro'], ['ro']),
    'ru': (['ru'], ['ru']), 'uk': (['uk'], ['uk']), 'bg': (['bg'], []),
    'sr': (['sr'], ['sr']), 'mk': (['mk'], ['mk']), 'be': (['be'], []),
    'el': (['el'], ['el']), 'tr': (['tr'], ['tr']), 'he': (['he'], []),
    'ar': (['ar'], []), 'fa': (['fa'], []),
    'lt': (['lt'], []), 'lv': (['lv'], []), 'et': (['et'], []),
    'th': (['th'], []), 'vi': (['vi'], ['vi']),
}

WESTERN = ['de', 'fr', 'es', 'it', 'pt', 'nl', 'da', 'sv', 'fi', 'nb']
CENTRAL = ['pl', 'cs', 'sk', 'hu', 'hr', 'sl', 'ro']
CYRILLIC = ['ru', 'uk', 'bg', 'sr', 'mk', 'be']
BALTIC = ['lt', 'lv', 'et']

# Encodings in the order a tie is decided (the one users expect first: the
# WHATWG choice before the ISO or DOS encoding that reads the text the same),
# with the table that defines them and the languages written in them.
ENCODINGS = [
    ('windows-1252', 'single_byte/windows-1252', WESTERN),
    ('ISO-8859-15', 'single_byte/ISO-8859-15', WESTERN + ['et']),
    ('ISO_8859-1:1987', None, WESTERN),
    ('IBM850', 'single_byte/IBM850', WESTERN),
    ('windows-1250', 'single_byte/windows-1250', CENTRAL + ['de']),
    ('ISO-8859-2', 'single_byte/ISO-8859-2', CENTRAL + ['de']),
    ('IBM852', 'charmaps/IBM852', CENTRAL),
    ('MAC_CENTRALEUROPE', 'charmaps/MAC_CENTRALEUROPE', ['pl', 'cs', 'sk', 'hu', 'sl']),
    ('ISO-8859-16', 'single_byte/ISO-8859-16', ['ro', 'pl', 'hu', 'hr', 'sl']),
    ('windows-1251', 'single_byte/windows-1251', CYRILLIC),
    ('KOI8-R', 'single_byte/KOI8-R', ['ru', 'bg']),
    ('KOI8-U', 'single_byte/KOI8-U', ['uk', 'ru', 'be']),
    ('IBM866', 'single_byte/IBM866', ['ru', 'uk', 'bg', 'be']),
    ('ISO-8859-5', 'single_byte/ISO-8859-5', CYRILLIC),
    ('x-mac-cyrillic', 'single_byte/x-mac-cyrillic', CYRILLIC),
    ('windows-1253', 'single_byte/windows-1253', ['el']),
    ('ISO-8859-7', 'single_byte/ISO-8859-7', ['el']),
    ('windows-1254', 'single_byte/windows-1254', ['tr']),
    ('ISO-8859-9', 'single_byte/ISO-8859-9', ['tr']),
    ('windows-1255', 'single_byte/windows-1255', ['he']),
    ('ISO-8859-8', 'single_byte/ISO-8859-8', ['he']),
    ('windows-1256', 'single_byte/windows-1256', ['ar', 'fa']),
    ('windows-1257', 'single_byte/windows-1257', BALTIC),
    ('ISO-8859-13', 'single_byte/ISO-8859-13', BALTIC),
    ('ISO-8859-4', 'single_byte/ISO-8859-4', BALTIC),
    ('windows-874', 'single_byte/windows-874', ['th']),
    ('TIS-620', 'charmaps/TIS-620', ['th']),
    ('windows-1258', 'single_byte/windows-1258', ['vi']),
]

# Encodings met less often (DOS and Mac code pages) start with a cost, in
# quarter bits: a text that reads about as well in a Windows code page is
# named by that.
RARER = {'IBM850', 'IBM852', 'IBM866', 'MAC_CENTRALEUROPE', 'x-mac-cyrillic'}
RARER_COST = 16

# Codes that read a text in the same way as the one before them get named as
# its next guess (ISO-8859-8-I is ISO-8859-8's logical-order twin).
TWINS = {'ISO-8859-8': 'ISO-8859-8-I'}


def decode_table(source):
    """256 characters (None where the encoding has none) from a library table."""
    table = [chr(b) for b in range(128)] + [None] * 128
    if source is None:  # ISO-8859-1: every byte is its own code point
        return [chr(b) for b in range(256)]
    path = os.path.join(ROOT, 'resources', source + '.txt')
    for line in open(path, encoding='utf-8'):
        fields = line.split()
        if len(fields) >= 2 and fields[0].startswith('0x') and fields[1].startswith('U+'):
            table[int(fields[0], 16)] = chr(int(fields[1][2:], 16))
    return table


# Catalogs of names that stay mostly as they are in English (the thousands of
# language names of ISO 639-3 and -5): lists of foreign names, not text.
NAME_LISTS = {'iso_639-3.mo', 'iso_639-5.mo', 'iso_639_3.mo', 'iso_639_5.mo'}


def catalog_texts(locale):
    texts, seen = [], set()
    for path in sorted(glob.glob('/usr/share/locale/%s/LC_MESSAGES/*.mo' % locale)):
        if os.path.basename(path) in NAME_LISTS:
            continue
        try:
            with open(path, 'rb') as f:
                catalog = gettext.GNUTranslations(f)._catalog
        except Exception:
            continue
        messages = [v for k, v in sorted(catalog.items(), key=lambda kv: str(kv[0]))
                    if k and isinstance(v, str) and v.strip()]
        text = '\n'.join(messages)
        # A catalog installed under two names (iso_3166-2.mo, iso_3166_2.mo)
        # is read once, and split by what it holds, not by its name.
        key = '%08x' % zlib.crc32(text.encode())
        if key not in seen:
            seen.add(key)
            texts.append((key, text))
    return texts


ROFF_ESCAPE = re.compile(r'\\(f(\[[^]]*\]|\(..|.)|\((..)|\*(\(..|\[[^]]*\]|.)|\[[^]]*\]|s[-+]?\d+|.)')
TEXT_REQUESTS = {'SH', 'SS', 'B', 'I', 'BI', 'BR', 'IB', 'IR', 'RB', 'RI', 'TP', 'IP', 'SM', 'SB'}


def manual_texts(folder):
    texts = []
    for path in sorted(glob.glob('/usr/share/man/%s/man*/*.gz' % folder)):
        try:
            source = gzip.open(path, 'rt', encoding='utf-8').read()
        except Exception:
            continue
        lines = []
        for line in source.splitlines():
            if line.startswith(('.', "'")):
                request, _, rest = line[1:].partition(' ')
                if request not in TEXT_REQUESTS:
                    continue
                line = rest.replace('"', '')
            line = ROFF_ESCAPE.sub(lambda m: '-' if m.group(0) == '\\-' else '', line)
            if line.strip():
                lines.append(line)
        texts.append((path, '\n'.join(lines)))
    return texts


def held_out(path):
    return zlib.crc32(path.encode()) % 5 == 0


def vietnamese_view(text):
    """Vietnamese as windows-1258 writes it: a letter it has (with the marks
    it can take: a circumflex, a breve, a horn), then the tone mark it lacks
    as a combining character."""
    out = []
    for ch in unicodedata.normalize('NFD', text):
        if not unicodedata.combining(ch) or not out:
            out.append(ch)
            continue
        base = len(out) - 1
        while base > 0 and unicodedata.combining(out[base]):
            base -= 1
        joined = unicodedata.normalize('NFC', out[base] + ch)
        if len(joined) == 1 and joined.encode('cp1258', 'ignore'):
            out[base] = joined
        else:
            out.append(ch)
    return ''.join(out)


def language_text(language, part):
    locales, folders = LANGUAGES[language]
    sources = [t for l in locales for t in catalog_texts(l)]
    sources += [t for f in folders for t in manual_texts(f)]
    chosen = [text for path, text in sources if held_out(path) == (part == 'held-out')]
    text = unicodedata.normalize('NFC', '\n'.join(chosen))
    return vietnamese_view(text) if language == 'vi' else text


def is_letter(ch):
    return unicodedata.category(ch)[0] in 'LM'


# Romanian's s and t with a comma below were long written with a cedilla
# (ISO-8859-2 and windows-1250 have only those): one letter each.
SAME_LETTER = {'ş': 'ș', 'ţ': 'ț'}


def folded(ch):
    lower = ch.lower()
    lower = lower if len(lower) == 1 else ch
    return SAME_LETTER.get(lower, lower)


def build_model(language):
    text = language_text(language, 'training')
    counts = {}
    for ch in text:
        if is_letter(ch) or ord(ch) >= 0x80:
            counts[folded(ch)] = counts.get(folded(ch), 0) + 1
    if language in NOT_LATIN:
        counts = {c: n for c, n in counts.items() if ord(c) >= 0x80}
    alphabet = sorted(counts, key=lambda c: (-counts[c], c))[:ALPHABET]
    index = {c: i + FIRST_LETTER for i, c in enumerate(alphabet)}

    def symbol(ch):
        if folded(ch) in index:
            return index[folded(ch)]
        if is_letter(ch):
            return 1
        if ord(ch) < 0x80:
            return 0
        return 2 if unicodedata.category(ch)[0] in 'PZ' else 3

    size = ALPHABET + FIRST_LETTER
    singles = [0] * size
    for ch in text:
        singles[symbol(ch)] += 1
    single_costs = [min(MAX_COST, round(-4 * math.log2((n + SMOOTHING) / (len(text) + SMOOTHING * size))))
                    for n in singles]
    single_costs[1] += FOREIGN_LETTER_COST
    pairs = [[0] * size for _ in range(size)]
    previous = 0
    for ch in text:
        current = symbol(ch)
        pairs[previous][current] += 1
        previous = current
    costs = []
    for row in pairs:
        total = sum(row) + SMOOTHING * size
        cost = [min(MAX_COST, round(-4 * math.log2((n + SMOOTHING) / total))) for n in row]
        cost[1] += FOREIGN_LETTER_COST
        costs.append(cost)
    # Mean cost of a character after the one before, on held-out text, where
    # either is not ASCII.
    spent, seen, before = 0, 0, ' '
    for ch in language_text(language, 'held-out'):
        if ord(ch) >= 0x80 or ord(before) >= 0x80:
            spent += costs[symbol(before)][symbol(ch)]
            seen += 1
        before = ch
    return alphabet, costs, symbol, round(spent / max(seen, 1)), len(text), single_costs


def byte_symbols(table, symbol):
    symbols = []
    for ch in table:
        if ch is None or 0x80 <= ord(ch) <= 0x9F:
            symbols.append(0x80)
        else:
            upper = is_letter(ch) and ch != folded(ch)
            symbols.append(symbol(ch) | (0x40 if upper else 0))
    return symbols


def c_array(values, per_line=24):
    lines = []
    for i in range(0, len(values), per_line):
        lines.append('    ' + ', '.join(str(v) for v in values[i:i + per_line]) + ',')
    return '\n'.join(lines)


def write_header():
    languages = sorted({l for _, _, ls in ENCODINGS for l in ls}, key=list(LANGUAGES).index)
    models = {}
    for language in languages:
        models[language] = build_model(language)
        print('%s: %d characters of training text, %d letters' % (
            language, models[language][4], len(models[language][0])), file=sys.stderr)
    out = []
    out.append('// Generated by generators/generate_language_models.py; do not edit.')
    out.append('// Input: the translated manual pages (manpages-l10n) and gettext catalogs')
    out.append('// Debian installs under /usr/share/man/<language> and /usr/share/locale/,')
    out.append('// four in five of the source files (the fifth is held out for measurement);')
    out.append('// encodings as the library\'s tables in resources/ read them.')
    out.append('#ifndef VELTA_DETECT_MODELS_LANGUAGE_MODELS_H')
    out.append('#define VELTA_DETECT_MODELS_LANGUAGE_MODELS_H')
    out.append('')
    out.append('#include <stdint.h>')
    out.append('')
    out.append('namespace velta {')
    out.append('namespace models {')
    out.append('')
    out.append('const uint32_t kSymbols = %d;' % (ALPHABET + FIRST_LETTER))
    out.append('const uint32_t kLanguages = %d;' % len(languages))
    out.append('')
    out.append('struct LanguageModel {')
    out.append('    const char* language;  // BCP 47')
    out.append('    uint32_t heldOutCost;  // mean cost of a pair with a non-ASCII character, held out')
    out.append('};')
    out.append('')
    out.append('const LanguageModel kModels[kLanguages] = {')
    for language in languages:
        out.append('    {"%s", %d},' % (language, models[language][3]))
    out.append('};')
    out.append('')
    out.append('// Cost of a symbol, quarter bits: kSymbolCosts[language][symbol].')
    out.append('const uint8_t kSymbolCosts[kLanguages][kSymbols] = {')
    for language in languages:
        out.append('    {' + ', '.join(str(v) for v in models[language][5]) + '},  // ' + language)
    out.append('};')
    out.append('')
    out.append('// Cost of a space (any ASCII character but a letter) and of a to z.')
    out.append('const uint8_t kAsciiCosts[kLanguages][27] = {')
    for language in languages:
        symbol, single = models[language][2], models[language][5]
        out.append('    {' + ', '.join(str(single[symbol(c)]) for c in ' abcdefghijklmnopqrstuvwxyz') +
                   '},  // ' + language)
    out.append('};')
    out.append('')
    out.append('// Cost of ASCII unit b after ASCII unit a (0: a space or any ASCII character')
    out.append('// but a letter; 1-26: a to z), quarter bits.')
    out.append('const uint8_t kAsciiPairCosts[kLanguages][27][27] = {')
    for language in languages:
        symbol, costs = models[language][2], models[language][1]
        units = [symbol(c) for c in ' abcdefghijklmnopqrstuvwxyz']
        out.append('    {  // ' + language)
        for a in units:
            out.append('        {' + ', '.join(str(costs[a][b]) for b in units) + '},')
        out.append('    },')
    out.append('};')
    out.append('')
    out.append('// Cost of symbol b after symbol a, quarter bits: kPairCosts[language][a][b].')
    out.append('const uint8_t kPairCosts[kLanguages][kSymbols][kSymbols] = {')
    for language in languages:
        alphabet, costs = models[language][0], models[language][1]
        out.append('    // %s: %s' % (language, ' '.join('%04X' % ord(c) for c in alphabet)))
        out.append('    {')
        for row in costs:
            out.append('        {' + ', '.join(str(v) for v in row) + '},')
        out.append('    },')
    out.append('};')
    out.append('')
    out.append('struct Reading {')
    out.append('    uint8_t encoding;  // index in kEncodings')
    out.append('    uint8_t language;  // index in kModels')
    out.append('};')
    out.append('')
    out.append('struct Encoding {')
    out.append('    const char* name;')
    out.append('    const char* twin;  // an encoding that reads the same text the same, or null')
    out.append('    uint32_t priorCost;  // quarter bits every text pays in it (rarer encodings)')
    out.append('};')
    out.append('')
    out.append('const uint32_t kEncodings = %d;' % len(ENCODINGS))
    out.append('const Encoding kEncodingNames[kEncodings] = {')
    for name, _, _ in ENCODINGS:
        twin = TWINS.get(name)
        out.append('    {"%s", %s, %d},' % (name, '"%s"' % twin if twin else 'nullptr',
                                          RARER_COST if name in RARER else 0))
    out.append('};')
    tables = [decode_table(source) for _, source, _ in ENCODINGS]
    out.append('')
    out.append('// The bytes 0x80-0xFF two encodings read as the same character, a bit a')
    out.append('// byte: kSameBytes[a][b][byte / 8] >> byte % 8 & 1.')
    out.append('const uint8_t kSameBytes[kEncodings][kEncodings][16] = {')
    for a in tables:
        out.append('    {')
        for b in tables:
            mask = [0] * 16
            for byte in range(128):
                ca, cb = a[0x80 + byte], b[0x80 + byte]
                if ca is not None and ca == cb:
                    mask[byte // 8] |= 1 << (byte % 8)
            out.append('        {' + ', '.join(str(v) for v in mask) + '},')
        out.append('    },')
    out.append('};')
    readings = [(e, languages.index(l)) for e, (_, _, ls) in enumerate(ENCODINGS) for l in ls]
    out.append('')
    out.append('const uint32_t kReadings = %d;' % len(readings))
    out.append('const Reading kReadingsOf[kReadings] = {')
    out.append(c_array(['{%d, %d}' % r for r in readings], 8))
    out.append('};')
    out.append('')
    out.append('// A reading of each language (they all read ASCII the same).')
    first = [next(i for i, r in enumerate(readings) if r[1] == l) for l in range(len(languages))]
    out.append('const uint16_t kAReadingOf[kLanguages] = {')
    out.append(c_array(first))
    out.append('};')
    out.append('')
    out.append('// A byte read in each encoding: its symbol in the language (bit 6: upper')
    out.append('// case; bit 7: unassigned or a C1 control).')
    out.append('const uint8_t kByteSymbols[kReadings][256] = {')
    for e, language_index in readings:
        name, source, _ = ENCODINGS[e]
        language = languages[language_index]
        out.append('    // %s, %s' % (name, language))
        out.append('    {')
        out.append(c_array(byte_symbols(decode_table(source), models[language][2])))
        out.append('    },')
    out.append('};')
    out.append('')
    out.append('// Cost of a byte 0x80-0xFF in each reading (its symbol\'s, or that of a byte')
    out.append('// real text does not hold), quarter bits.')
    out.append('const uint8_t kHighByteCosts[kReadings][128] = {')
    high_costs = []
    for e, language_index in readings:
        name, source, _ = ENCODINGS[e]
        language = languages[language_index]
        symbols = byte_symbols(decode_table(source), models[language][2])[128:]
        single = models[language][5]
        high_costs.append([UNASSIGNED_COST if s & 0x80 else
                           single[s & 0x3F] + (UPPER_CASE_COST if s & 0x40 else 0) for s in symbols])
        out.append('    // %s, %s' % (name, language))
        out.append('    {')
        out.append(c_array(high_costs[-1]))
        out.append('    },')
    out.append('};')
    out.append('')
    out.append('// The readings of encoding e are kReadingsOf[kFirstReading[e]] to')
    out.append('// kReadingsOf[kFirstReading[e + 1] - 1].')
    out.append('const uint16_t kFirstReading[kEncodings + 1] = {')
    out.append(c_array([next(i for i, r in enumerate(readings) if r[0] == e) for e in range(len(ENCODINGS))]
                       + [len(readings)]))
    out.append('};')
    out.append('')
    out.append('// The least a byte 0x80-0xFF costs in any reading of each encoding.')
    out.append('const uint8_t kLeastHighByteCosts[kEncodings][128] = {')
    for e in range(len(ENCODINGS)):
        rows = [high_costs[i] for i, r in enumerate(readings) if r[0] == e]
        out.append('    {')
        out.append(c_array([min(column) for column in zip(*rows)]))
        out.append('    },')
    out.append('};')
    out.append('')
    out.append('}  // namespace models')
    out.append('}  // namespace velta')
    out.append('')
    out.append('#endif')
    os.makedirs(os.path.dirname(OUTPUT), exist_ok=True)
    with open(OUTPUT, 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')
    # Laid out as the repository's other sources (CI checks every header).
    subprocess.run(['clang-format', '-i', OUTPUT], check=True)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == '--held-out':
        sys.stdout.write(language_text(sys.argv[2], 'held-out'))
    elif len(sys.argv) == 1:
        write_header()
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
