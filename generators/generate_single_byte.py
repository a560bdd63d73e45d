#!/usr/bin/env python3
"""Generates the single-byte encodings of the library and the shipped records
that name them and the Unicode forms:

  resources/single_byte/<name>.txt   one line a byte 0x80-0xFF: the byte, the
                                     character (U+XXXX, or "-" for none) and
                                     its name; bytes 0x00-0x7F are ASCII in
                                     every one of them. The build embeds them
                                     (cmake/EmbedSingleByte.cmake).
  data/conv30/encreg.txt, aliasreg.txt  the part between the markers: a
                                     record for each direction of each
                                     encoding, and its names.

Sources: the WHATWG Encoding Standard's indexes and labels as the npm package
text-encoding 0.7.0 ships them (lib/encoding-indexes.js, lib/encoding.js;
`npm pack text-encoding@0.7.0`), for the encodings the standard defines;
Python's codecs for ISO-8859-9, ISO-8859-11, IBM437 and IBM850, which iconv
users expect beside them. Each table's header lists where it differs from
Python's codec of the same encoding. Labels that the standard gives to
windows-1252, windows-1254 and windows-874 but iconv gives to ISO-8859-1,
ISO-8859-9 and ISO-8859-11 keep iconv's meaning; "x-mac-roman" keeps the
library's own Mac OS Roman; "utf-16" means the byte-order-mark form (as in
iconv and ICU), not UTF-16LE.

Usage: python3 generators/generate_single_byte.py <text-encoding package folder>
"""
import json
import os
import re
import sys
import unicodedata

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..')
LIBRARY = '@@staticconvertersINTERNAL@@'
UCS2 = 'ISO-10646-UCS-2'

# name: (WHATWG index or None, Python codec, names iconv adds)
ENCODINGS = {
    'IBM866': ('ibm866', 'cp866', ['IBM-866']),
    'ISO-8859-2': ('iso-8859-2', 'iso8859_2', ['ISO8859-2', 'LATIN-2']),
    'ISO-8859-3': ('iso-8859-3', 'iso8859_3', ['ISO8859-3', 'LATIN-3']),
    'ISO-8859-4': ('iso-8859-4', 'iso8859_4', ['ISO8859-4', 'LATIN-4']),
    'ISO-8859-5': ('iso-8859-5', 'iso8859_5', ['ISO_8859-5:1988']),
    'ISO-8859-6': ('iso-8859-6', 'iso8859_6', ['ISO_8859-6:1987']),
    'ISO-8859-7': ('iso-8859-7', 'iso8859_7', ['ISO_8859-7:2003']),
    'ISO-8859-8': ('iso-8859-8', 'iso8859_8', ['ISO_8859-8:1988']),
    'ISO-8859-8-I': ('iso-8859-8', 'iso8859_8', []),
    'ISO-8859-9': (None, 'iso8859_9', ['ISO8859-9', 'ISO88599', 'ISO_8859-9', 'ISO_8859-9:1989',
                                       'ISO-IR-148', 'CSISOLATIN5', 'LATIN5', 'L5']),
    'ISO-8859-10': ('iso-8859-10', 'iso8859_10', ['ISO_8859-10:1992', 'LATIN6']),
    'ISO-8859-11': (None, 'iso8859_11', ['ISO8859-11', 'ISO885911', 'ISO_8859-11']),
    'ISO-8859-13': ('iso-8859-13', 'iso8859_13', ['ISO_8859-13', 'LATIN7', 'L7']),
    'ISO-8859-14': ('iso-8859-14', 'iso8859_14', ['ISO_8859-14', 'LATIN8', 'L8']),
    'ISO-8859-15': ('iso-8859-15', 'iso8859_15', ['LATIN-9', 'LATIN9', 'ISO_8859-15:1998']),
    'ISO-8859-16': ('iso-8859-16', 'iso8859_16', ['ISO8859-16', 'ISO_8859-16', 'LATIN10', 'L10']),
    'KOI8-R': ('koi8-r', 'koi8_r', []),
    'KOI8-U': ('koi8-u', 'koi8_u', []),
    'macintosh': ('macintosh', 'mac_roman', ['MACROMAN']),
    'windows-874': ('windows-874', 'cp874', ['CP874']),
    'windows-1250': ('windows-1250', 'cp1250', ['MS-EE']),
    'windows-1251': ('windows-1251', 'cp1251', ['MS-CYRL']),
    'windows-1252': ('windows-1252', 'cp1252', ['MS-ANSI']),
    'windows-1253': ('windows-1253', 'cp1253', ['MS-GREEK']),
    'windows-1254': ('windows-1254', 'cp1254', ['MS-TURK']),
    'windows-1255': ('windows-1255', 'cp1255', ['MS-HEBR']),
    'windows-1256': ('windows-1256', 'cp1256', ['MS-ARAB']),
    'windows-1257': ('windows-1257', 'cp1257', ['WINBALTRIM']),
    'windows-1258': ('windows-1258', 'cp1258', []),
    'x-mac-cyrillic': ('x-mac-cyrillic', 'mac_cyrillic', ['MACCYRILLIC']),
    'IBM437': (None, 'cp437', ['CP437', '437', 'CSPC8CODEPAGE437']),
    'IBM850': (None, 'cp850', ['CP850', '850', 'CSPC850MULTILINGUAL']),
    'US-ASCII': (None, 'ascii', []),
}

# Names the library gives ISO_8859-1:1987 before it reads a file, which these
# records take over: ASCII means ASCII (bytes above 0x7F are malformed).
TAKEN_OVER = {
    'US-ASCII': ['US-ASCII', 'ascii', 'ansi_x3.4-1968', 'ansi_x3.4-1986', 'iso-ir-6',
                 'iso_646.irv:1991', 'iso646-us', 'us', 'ibm367', 'cp367', 'csascii'],
}

# Standard labels whose iconv meaning this library keeps (see above).
ICONV_MEANS_OTHERWISE = {
    'windows-1252': lambda label: label not in ('cp1252', 'windows-1252', 'x-cp1252'),
    'windows-1254': lambda label: '8859-9' in label or label in (
        'csisolatin5', 'iso-ir-148', 'iso88599', 'l5', 'latin5'),
    'windows-874': lambda label: '8859-11' in label or label in ('iso885911', 'tis-620'),
    'macintosh': lambda label: label == 'x-mac-roman',
}

# The names of ISO-8859-1 in iconv that the library's ISO_8859-1:1987 lacks.
LATIN1_NAMES = ['iso8859-1', 'iso88591', 'csisolatin1', 'iso_8859-1:1987']

# The Unicode forms: name, factory stem, names.
UNICODE_FORMS = [
    ('UTF-16', 'UTF16', ['UTF16', 'UCS-2', 'UCS2', 'csUnicode16']),
    ('UTF-16BE', 'UTF16BE', ['UTF16BE', 'UCS-2BE', 'UNICODEBIG', 'x-utf-16be']),
    ('UTF-16LE', 'UTF16LE', ['UTF16LE', 'UCS-2LE', 'UNICODELITTLE', 'x-utf-16le']),
    ('UTF-32', 'UTF32', ['UTF32', 'UCS-4', 'UCS4', 'csUCS4']),
    ('UTF-32BE', 'UTF32BE', ['UTF32BE', 'UCS-4BE']),
    ('UTF-32LE', 'UTF32LE', ['UTF32LE', 'UCS-4LE']),
]
UTF8_NAMES = ['utf8', 'unicode-2-0-utf-8', 'x-unicode20utf8']

BEGIN = '// --- generated by generators/generate_single_byte.py: do not edit below ---\n'
END = '// --- end of the generated records ---\n'


def read_whatwg(folder):
    text = open(os.path.join(folder, 'lib', 'encoding-indexes.js'), encoding='utf-8').read()
    start = text.index('{', text.index('global["encoding-indexes"]'))
    indexes = json.JSONDecoder().raw_decode(text[start:])[0]
    source = open(os.path.join(folder, 'lib', 'encoding.js'), encoding='utf-8').read()
    start = source.index('[', source.index('var encodings = '))
    groups = json.JSONDecoder().raw_decode(source[start:])[0]
    labels = {e['name']: e['labels'] for g in groups for e in g['encodings']}
    return indexes, labels


def python_table(codec):
    table = {}
    for b in range(0x80, 0x100):
        try:
            table[b] = ord(bytes([b]).decode(codec))
        except UnicodeDecodeError:
            table[b] = None
    return table


def builtin_aliases():
    """The names the library knows before it reads a file."""
    text = open(os.path.join(ROOT, 'registry', 'builtin_tables.cpp')).read()
    return {name.lower() for name in re.findall(r'\{"([^"]+)", "[^"]+"\}', text)}


def character_name(unit):
    return unicodedata.name(chr(unit), '<control>' if unit < 0xA0 else '<unnamed>')


def write_table(name, source, table, differences):
    folder = os.path.join(ROOT, 'resources', 'single_byte')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name + '.txt'), 'w', encoding='utf-8') as out:
        out.write('# %s: bytes 0x80-0xFF (0x00-0x7F are ASCII).\n' % name)
        out.write('# Generated by generators/generate_single_byte.py from %s; do not edit.\n' % source)
        if differences:
            out.write('# Differs from Python\'s codec: %s.\n' % '; '.join(differences))
        else:
            out.write('# Equal to Python\'s codec.\n')
        for b in range(0x80, 0x100):
            unit = table[b]
            if unit is None:
                out.write('0x%02X -\n' % b)
            else:
                out.write('0x%02X U+%04X %s\n' % (b, unit, character_name(unit)))


def replace_section(path, lines):
    text = open(path).read()
    after = ''
    if BEGIN in text:
        after = text[text.index(END) + len(END):]
        text = text[:text.index(BEGIN)]
    with open(path, 'w') as out:
        out.write(text + BEGIN + ''.join(lines) + END + after)


def main():
    indexes, labels = read_whatwg(sys.argv[1])
    known = builtin_aliases()
    taken = set(known)
    records, aliases = [], []

    def add_names(canonical, names):
        for alias in names:
            if alias.lower() in taken:
                continue
            taken.add(alias.lower())
            aliases.append('%s %s\n' % (alias, canonical))

    records.append('// The Unicode forms, converters of the library itself:\n')
    aliases.append('// The Unicode forms:\n')
    for name, stem, names in UNICODE_FORMS:
        records.append('%s %s %s New%sToUnicode #\n' % (name, UCS2, LIBRARY, stem))
        records.append('%s %s %s NewUnicodeTo%s #\n' % (UCS2, name, LIBRARY, stem))
        add_names(name, [name] + names)
    add_names('UTF-8', UTF8_NAMES)
    add_names('ISO_8859-1:1987', LATIN1_NAMES)

    records.append('// The single-byte encodings, converters of the library itself:\n')
    aliases.append('// The single-byte encodings, under their WHATWG labels and iconv names:\n')
    for name, (index, codec, iconv_names) in ENCODINGS.items():
        python = python_table(codec)
        if index is not None:
            table = {0x80 + i: unit for i, unit in enumerate(indexes[index])}
            source = 'the WHATWG index %s (text-encoding 0.7.0)' % index
            standard = [l for l in labels.get(name, [])
                        if not ICONV_MEANS_OTHERWISE.get(name, lambda label: False)(l)]
        else:
            table, source, standard = python, 'Python\'s %s codec' % codec, []
        assert all(bytes([b]).decode(codec, 'replace') == chr(b) for b in range(0x80))
        # (The generated records follow the built-in ones, so they win.)
        differences = ['0x%02X %s here, %s in Python' % (
            b, 'U+%04X' % table[b] if table[b] is not None else 'nothing',
            'U+%04X' % python[b] if python[b] is not None else 'nothing')
            for b in range(0x80, 0x100) if table[b] != python[b]]
        write_table(name, source, table, differences)
        records.append('%s %s %s NewSingleByteToUnicode_%s #\n' % (name, UCS2, LIBRARY, name))
        records.append('%s %s %s NewUnicodeToSingleByte_%s #\n' % (UCS2, name, LIBRARY, name))
        add_names(name, [name] + standard + iconv_names)
        for alias in TAKEN_OVER.get(name, []):
            aliases.append('%s %s\n' % (alias, name))

    replace_section(os.path.join(ROOT, 'data', 'conv30', 'encreg.txt'), records)
    replace_section(os.path.join(ROOT, 'data', 'conv30', 'aliasreg.txt'), aliases)


if __name__ == '__main__':
    main()
