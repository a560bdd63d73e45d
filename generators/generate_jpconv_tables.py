#!/usr/bin/env python3
"""Generates jpconv/tables/*.txt: the mapping tables of the Japanese converter
library in the library's stored table format, from Python's codecs
(shift_jis, euc_jp). Run it from anywhere: python3 generators/generate_jpconv_tables.py

Tables (table id: the byte form the engines read and write):
  JASCII   (1, one byte)            ASCII 0x00-0x7F
  SJIS     (4, Shift_JIS cells)     one-byte codes, katakana 0xA1-0xDF, two-byte codes
  JIS0208  (8, EUC two bytes)       JIS X 0208 row/cell codes 0x2121-0x7E7E
  JISKANA  (27, 0x8E and a byte)    half-width katakana codes 0xA1-0xDF
  JIS0212  (30, 0x8F and two bytes) JIS X 0212 row/cell codes 0x2121-0x7E7E
Each has a to-UCS-2 table (.UT, keyed by code) and a from-UCS-2 table (.UF,
keyed by UCS-2 unit). A stored table is: N, P, Q, R, the 4-bit cell formats,
N cells (a, b, c) and the mapping data; format 0 maps a..b to c-a+x, format 1
to data[c + x - a], format 2 maps a to c.
"""
import os

MAX_GAP = 48  # codes of one data cell may lie this far apart (holes hold 0xFFFD)


def build_table(mapping):
    """Lays a {key: unit} mapping out as cells: runs where value - key is
    constant become format 0, other runs format 1 with data."""
    keys = sorted(mapping)
    runs = []
    for key in keys:
        if runs and key - runs[-1][-1] <= MAX_GAP:
            runs[-1].append(key)
        else:
            runs.append([key])
    cells, data = [], []
    for run in runs:
        first, last = run[0], run[-1]
        offsets = {mapping[k] - k for k in run}
        if len(offsets) == 1 and last - first + 1 == len(run):
            cells.append((0, first, last, (mapping[first]) & 0xFFFF))
        else:
            cells.append((1, first, last, len(data)))
            data.extend(mapping.get(k, 0xFFFD) for k in range(first, last + 1))
    n = len(cells)
    p = 4
    q = p + (n + 3) // 4
    r = q + 3 * n
    table = [n, p, q, r] + [0] * (q - p)
    for i, cell in enumerate(cells):
        table[p + i // 4] |= cell[0] << (4 * (i % 4))
    for fmt, a, b, c in cells:
        table += [a, b, c]
    table += data
    assert all(0 <= unit <= 0xFFFF for unit in table)
    return table


def decode(codec, raw):
    try:
        text = raw.decode(codec)
    except UnicodeDecodeError:
        return None
    if len(text) != 1 or ord(text) > 0xFFFF or text == '\ufffd':
        return None
    return ord(text)


def shift_jis():
    to_unicode = {}
    for b in range(0x80):
        to_unicode[b] = decode('shift_jis', bytes([b]))
    for b in range(0xA1, 0xE0):
        to_unicode[b] = decode('shift_jis', bytes([b]))
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
        for trail in range(0x40, 0xFD):
            unit = decode('shift_jis', bytes([lead, trail]))
            if unit is not None:
                to_unicode[lead * 256 + trail] = unit
    to_unicode = {k: v for k, v in to_unicode.items() if v is not None}
    from_unicode = {}
    for unit in range(0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        try:
            raw = chr(unit).encode('shift_jis')
        except UnicodeEncodeError:
            continue
        from_unicode[unit] = raw[0] if len(raw) == 1 else raw[0] * 256 + raw[1]
    return to_unicode, from_unicode


def euc_jp():
    ascii_to, ascii_from = {b: b for b in range(0x80)}, {b: b for b in range(0x80)}
    jis0208_to, jis0212_to, kana_to = {}, {}, {}
    for hi in range(0xA1, 0xFF):
        for lo in range(0xA1, 0xFF):
            unit = decode('euc_jp', bytes([hi, lo]))
            if unit is not None:
                jis0208_to[(hi * 256 + lo) & 0x7F7F] = unit
            unit = decode('euc_jp', bytes([0x8F, hi, lo]))
            if unit is not None:
                jis0212_to[(hi * 256 + lo) & 0x7F7F] = unit
    for b in range(0xA1, 0xE0):
        unit = decode('euc_jp', bytes([0x8E, b]))
        if unit is not None:
            kana_to[b] = unit
    jis0208_from, jis0212_from, kana_from = {}, {}, {}
    for unit in range(0x80, 0x10000):
        if 0xD800 <= unit <= 0xDFFF:
            continue
        try:
            raw = chr(unit).encode('euc_jp')
        except UnicodeEncodeError:
            continue
        if len(raw) == 2 and raw[0] == 0x8E:
            kana_from[unit] = raw[1]
        elif len(raw) == 2:
            jis0208_from[unit] = (raw[0] * 256 + raw[1]) & 0x7F7F
        elif len(raw) == 3 and raw[0] == 0x8F:
            jis0212_from[unit] = (raw[1] * 256 + raw[2]) & 0x7F7F
    return {
        'JASCII': (ascii_to, ascii_from),
        'JIS0208': (jis0208_to, jis0208_from),
        'JISKANA': (kana_to, kana_from),
        'JIS0212': (jis0212_to, jis0212_from),
    }


def emit(tables, folder):
    """Writes each table as jpconv/tables/<NAME>.txt: hexadecimal 16-bit
    units, the layout the build embeds as resources (cmake/EmbedResources)."""
    os.makedirs(folder, exist_ok=True)
    for name, units in tables:
        with open(os.path.join(folder, name + '.txt'), 'w') as out:
            out.write('# %s: generated by generators/generate_jpconv_tables.py from Python\'s\n' % name)
            out.write('# shift_jis and euc_jp codecs; do not edit.\n')
            out.write('# N %d cells, P %d, Q %d, R %d; %d units.\n' % (units[0], units[1], units[2], units[3], len(units)))
            for start in range(0, len(units), 12):
                out.write(' '.join('0x%04X' % u for u in units[start:start + 12]) + '\n')


def main():
    sjis_to, sjis_from = shift_jis()
    tables = [('SJIS.UT', build_table(sjis_to)), ('SJIS.UF', build_table(sjis_from))]
    for name, (to_unicode, from_unicode) in euc_jp().items():
        tables.append((name + '.UT', build_table(to_unicode)))
        tables.append((name + '.UF', build_table(from_unicode)))
    emit(tables, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'jpconv', 'tables'))


if __name__ == '__main__':
    main()
