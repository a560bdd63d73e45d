#!/usr/bin/env python3
"""Generates the code-point indexes of the multibyte character sets of the
Chinese and Korean converter library that follow glibc (cjkconv/indexes/*.h)
from glibc's charmaps, the byte-by-byte description of each that glibc's iconv follows:

  /usr/share/i18n/charmaps/EUC-TW.gz       CNS 11643-1992 planes 1-7 and 15
  /usr/share/i18n/charmaps/JOHAB.gz        KS C 5601-1992 annex 3 (Johab)
  /usr/share/i18n/charmaps/EUC-JP-MS.gz    eucJP-ms (JIS X 0208, JIS X 0212,
                                           the NEC and IBM extensions)
  /usr/share/i18n/charmaps/BIG5-HKSCS.gz   Big5 with HKSCS-2008
  /usr/share/i18n/charmaps/EUC-JISX0213.gz JIS X 0213:2004 planes 1 and 2
  /usr/share/i18n/charmaps/SHIFT_JISX0213.gz  the same sets in Shift_JIS form
  /usr/share/i18n/charmaps/EUC-JP.gz       JIS X 0208, for ISO-2022-JP-3's ESC $ B

Each index is a grid of 16-bit units, one per code, 0 where the code has no
character, ten a line with the first pointer of the line in a comment.
Characters beyond the BMP (all in plane 2, U+20000-U+2FFFF) keep their low
16 bits there and a bit in the grid's `BeyondBmp` set, so the grid stays
16-bit. The build reads these headers, never /usr/share/i18n.

How the tables differ from the charmaps: glibc's iconv reads a few codes
that the charmaps do not list (24 of EUC-JP-MS: NEC's row 13 copies of
JIS X 0208 symbols and IBM's codes in JIS X 0212 of characters that have
other codes; 8 of BIG5-HKSCS: Big5's box drawing at 0xA27E-0xA2A4, which
HKSCS moved to 0xF9F9-0xF9FE); the generator asks glibc's iconv(3) for them,
adds them to the grid and lists their pointers in a `DecodeOnly` array, which
the encoder does not write, as iconv does not. The charmap of JOHAB has 0x5C
as U+20A9 WON SIGN, which this library reads as the ASCII backslash (every
encoding here keeps ASCII as it is) and writes for U+20A9 too; no table
holds it. BIG5-HKSCS's four codes of a
letter and a combining mark (0x8862, 0x8864, 0x88A3, 0x88A5) stand in the
charmap as comments, and are taken from them into kBig5HkscsPairs.
EUC-JISX0213 and SHIFT_JISX0213 share one grid of the two planes of JIS X
0213 (cjkconv/indexes/jisx0213.h): the generator checks that every code of
the one is the same character at the other's place (the Shift_JIS form lays
out rows and cells by arithmetic, and its single bytes are JIS X 0201: 0x5C
and 0x7E as U+00A5 and U+203E, which this library reads as ASCII, and
0xA1-0xDF as half-width katakana, as EUC's 0x8E and one). Their 25 codes of
two characters (a kana and U+309A, IPA letters and tone marks) stand in the
charmaps as comments and are taken from them into kJisx0213Pairs.
ISO-2022-JP-3 writes JIS X 0208 (ESC $ B) where it can and JIS X 0213 plane 1
elsewhere, ESC $ ( Q rather than ESC $ ( O for the ten characters JIS X 0213
gained in 2004: cjkconv/indexes/jisx0213_sets.h holds which plane 1 codes
JIS X 0208 has (the two-byte codes of glibc's charmap EUC-JP) and where it
reads them otherwise (0x213D: U+2015 there, U+2014 in JIS X 0213), and the
codes of 2004 (those Python's euc_jis_2004 reads and its euc_jisx0213, the
2000 edition, does not).
cjkconv/indexes/iso_ir_165.h holds ISO-IR-165, which has no charmap, as
glibc's iconv reads it in ISO-2022-CN-EXT after ESC $ ) E and SO (its module
ISOIR165): each of the 94 x 94 codes read through iconv(3), one call per
code with the state reset between them, so that a code without a character
only leaves its own place empty. The header keeps only the codes where
ISO-IR-165 differs from GB 2312 as cjkconv/indexes/gb2312.h holds it
(Python's gb2312, which glibc's GB 2312 in ISO-2022-CN reads alike).
How they differ from the references, ICU (its converters ibm-964 for EUC-TW,
ibm-1375_P100-2008 for BIG5-HKSCS, ibm-33722 for EUC-JP, the nearest it has to
EUC-JP-MS; ICU has neither Johab nor JIS X 0213), Python's codecs (johab,
big5hkscs, euc_jis_2004) and the WHATWG index big5 (as cjkconv/indexes/big5.h holds it), each header says.

Runs on a glibc system with ICU's common library (both through ctypes) and
Python's CJK codecs.
Usage: python3 generators/generate_charmap_indexes.py [charmap folder]
"""
import gzip
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..')
PER_LINE = 10
ROW = 94  # codes 0xA1-0xFE of a 94 x 94 set


def read_charmap(path):
    """{bytes: (code points)} of a charmap's CHARMAP section, with the
    sequences of several characters that it lists as comments."""
    codes = {}
    line_form = re.compile(r'%?((?:<U[0-9A-Fa-f]+>)+)\s+((?:/x[0-9a-fA-F]{2})+)(\s|$)')
    with gzip.open(path, 'rt', encoding='ascii') as charmap:
        inside = False
        for line in charmap:
            if line.startswith('CHARMAP'):
                inside = True
            elif line.startswith('END CHARMAP'):
                break
            match = line_form.match(line) if inside else None
            if not match:
                continue
            characters = tuple(int(c, 16) for c in re.findall(r'<U([0-9A-Fa-f]+)>', match.group(1)))
            if line.startswith('%') and len(characters) < 2:
                continue
            raw = bytes(int(b, 16) for b in re.findall(r'/x([0-9a-fA-F]{2})', match.group(2)))
            assert raw not in codes, raw
            codes[raw] = characters
    return codes


def euc_tw_bytes(plane, pointer):
    row, cell = divmod(pointer, ROW)
    if plane == 1:
        return bytes([0xA1 + row, 0xA1 + cell])
    return bytes([0x8E, 0xA0 + plane, 0xA1 + row, 0xA1 + cell])


EUC_TW_PLANES = [1, 2, 3, 4, 5, 6, 7, 15]


def johab_bytes(pointer):
    return bytes([0x84 + pointer // 206, 0x31 + pointer % 206])


def euc_jp_ms_bytes(pointer):
    table, rest = divmod(pointer, ROW * ROW)
    row, cell = divmod(rest, ROW)
    return bytes(([0x8F] if table else []) + [0xA1 + row, 0xA1 + cell])


def big5_hkscs_bytes(pointer, first_lead=0x87):
    trail = pointer % 157
    return bytes([first_lead + pointer // 157, trail + (0x40 if trail < 0x3F else 0x62)])


def grid(codes, size, bytes_of_pointer):
    """The grid of single characters: pointer to code point, None for none."""
    return [(lambda c: c[0] if c is not None and len(c) == 1 else None)(codes.get(bytes_of_pointer(p)))
            for p in range(size)]


def glibc_decode(name, raws):
    """What glibc's iconv(3) reads each code as ({bytes: chars})."""
    import ctypes
    libc = ctypes.CDLL(None)
    libc.iconv_open.restype = ctypes.c_void_p
    libc.iconv.restype = ctypes.c_size_t
    libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.c_void_p] * 4
    handle = libc.iconv_open(b'UTF-32LE', name.encode())
    assert handle not in (None, ctypes.c_size_t(-1).value), name
    found = {}
    output = ctypes.create_string_buffer(64)
    for raw in raws:
        libc.iconv(handle, None, None, None, None)
        source = ctypes.create_string_buffer(raw, len(raw))
        in_pointer = ctypes.c_void_p(ctypes.addressof(source))
        in_left = ctypes.c_size_t(len(raw))
        out_pointer = ctypes.c_void_p(ctypes.addressof(output))
        out_left = ctypes.c_size_t(len(output))
        result = libc.iconv(handle, ctypes.byref(in_pointer), ctypes.byref(in_left),
                            ctypes.byref(out_pointer), ctypes.byref(out_left))
        if result == ctypes.c_size_t(-1).value or in_left.value != 0:
            continue
        written = output.raw[:len(output) - out_left.value]
        found[raw] = tuple(int.from_bytes(written[k:k + 4], 'little')
                           for k in range(0, len(written), 4))
    libc.iconv_close(ctypes.c_void_p(handle))
    return found


def add_decode_only(name, codes, values, bytes_of_pointer):
    """Adds the codes glibc's iconv reads beyond the charmap to `values`;
    returns their pointers."""
    raws = [bytes_of_pointer(p) for p in range(len(values))]
    theirs = glibc_decode(name, raws)
    decode_only = []
    for pointer, raw in enumerate(raws):
        if raw in codes:
            assert theirs.get(raw) == codes[raw], (name, raw)
        elif raw in theirs:
            assert len(theirs[raw]) == 1 and values[pointer] is None
            values[pointer] = theirs[raw][0]
            decode_only.append(pointer)
    return decode_only


def write_decode_only(out, name, pointers):
    out.write('\n// Pointers that glibc\'s iconv reads and its charmap lacks: never written.\n')
    out.write('const uint32_t %sDecodeOnlyLength = %d;\n' % (name, len(pointers)))
    out.write('static const uint16_t %sDecodeOnly[%d] = {\n' % (name, len(pointers)))
    for start in range(0, len(pointers), PER_LINE):
        out.write('    %s,\n' % ', '.join(str(p) for p in pointers[start:start + PER_LINE]))
    out.write('};\n')


def show(characters):
    return 'none' if not characters else ' '.join('U+%04X' % c for c in characters)


def listed_differences(ours, theirs, reference, limit=8):
    """Lines on the codes that `reference` reads otherwise ({bytes: chars})."""
    found = [(raw, ours.get(raw), theirs.get(raw)) for raw in sorted(set(ours) | set(theirs))
             if ours.get(raw) != theirs.get(raw)]
    lines = ['%d codes read otherwise in %s:' % (len(found), reference)]
    for raw, mine, other in found[:limit]:
        lines.append('  %s: %s here, %s there' % (raw.hex().upper(), show(mine), show(other)))
    if len(found) > limit:
        lines.append('  ... and %d more' % (len(found) - limit))
    return lines


def icu_library():
    """ICU's common library through ctypes, its functions named with the
    version suffix they carry ("ucnv_open_72")."""
    import ctypes
    import ctypes.util
    library = ctypes.CDLL(ctypes.util.find_library('icuuc'))
    suffix = next('_%d' % v for v in range(99, 40, -1) if hasattr(library, 'ucnv_open_%d' % v))
    return ctypes, library, suffix


def icu_decode(converter, raws):
    """What ICU reads each code as ({bytes: chars}), stopping at anything it
    has no character for."""
    ctypes, icu, suffix = icu_library()
    error = ctypes.c_int(0)
    icu_open = getattr(icu, 'ucnv_open' + suffix)
    icu_open.restype = ctypes.c_void_p
    handle = icu_open(converter.encode(), ctypes.byref(error))
    assert error.value <= 0 and handle, converter
    stop = ctypes.cast(getattr(icu, 'UCNV_TO_U_CALLBACK_STOP' + suffix), ctypes.c_void_p)
    set_callback = getattr(icu, 'ucnv_setToUCallBack' + suffix)
    set_callback(ctypes.c_void_p(handle), stop, None, None, None, ctypes.byref(error))
    to_uchars = getattr(icu, 'ucnv_toUChars' + suffix)
    reset = getattr(icu, 'ucnv_reset' + suffix)
    units = (ctypes.c_uint16 * 16)()
    found = {}
    for raw in raws:
        reset(ctypes.c_void_p(handle))
        error.value = 0
        length = to_uchars(ctypes.c_void_p(handle), units, 16, raw, len(raw), ctypes.byref(error))
        if error.value > 0 or length <= 0:
            continue
        text = bytes(units)[:2 * length].decode('utf-16-le')
        found[raw] = tuple(ord(c) for c in text)
    getattr(icu, 'ucnv_close' + suffix)(ctypes.c_void_p(handle))
    return found


def python_decode(codec, raws):
    found = {}
    for raw in raws:
        try:
            found[raw] = tuple(ord(c) for c in raw.decode(codec))
        except UnicodeDecodeError:
            pass
    return found


def multibyte(codes):
    return {raw: chars for raw, chars in codes.items() if len(raw) > 1}


def write_grid(out, name, values):
    out.write('const uint32_t %sLength = %d;\n' % (name, len(values)))
    out.write('static const uint16_t %s[%d] = {\n' % (name, len(values)))
    for start in range(0, len(values), PER_LINE):
        line = ', '.join('0x%04X' % ((value or 0) & 0xFFFF) for value in values[start:start + PER_LINE])
        out.write('    /* %5d */ %s,\n' % (start, line))
    out.write('};\n')


def write_beyond_bmp(out, name, values):
    words = [0] * ((len(values) + 31) // 32)
    for pointer, value in enumerate(values):
        if value is not None and value > 0xFFFF:
            assert 0x20000 <= value <= 0x2FFFF
            words[pointer // 32] |= 1 << (pointer % 32)
    out.write('\n// Pointers whose character is U+20000 plus the unit in %s.\n' % name)
    out.write('static const uint32_t %sBeyondBmp[%d] = {\n' % (name, len(words)))
    for start in range(0, len(words), 6):
        out.write('    %s,\n' % ', '.join('0x%08X' % w for w in words[start:start + 6]))
    out.write('};\n')


def write_header(file_name, source, notes, body):
    path = os.path.join(ROOT, 'cjkconv', 'indexes', file_name)
    with open(path, 'w') as out:
        out.write('// Generated by generators/generate_charmap_indexes.py: do not edit.\n')
        out.write('// %s\n' % source)
        for line in notes:
            out.write('// %s\n' % line)
        out.write('#pragma once\n\n#include <stdint.h>\n\n')
        body(out)


def euc_tw(folder):
    codes = read_charmap(os.path.join(folder, 'EUC-TW.gz'))
    values = []
    for plane in EUC_TW_PLANES:
        values += grid(codes, ROW * ROW, lambda p, plane=plane: euc_tw_bytes(plane, p))
    assert sum(v is not None for v in values) == len(multibyte(codes))
    assert all(v is None or v <= 0xFFFF for v in values[:ROW * ROW])  # plane 1: the fast path
    every = [euc_tw_bytes(plane, p) for plane in EUC_TW_PLANES for p in range(ROW * ROW)]
    assert not add_decode_only('EUC-TW', codes, values, lambda p: every[p])
    notes = ['Pointer: the plane\'s place in kEucTwPlanes times 8836, plus (row - 0xA1) * 94 +',
             'cell - 0xA1; plane 1 is 0xA1-0xFE twice, plane n is 0x8E 0xA0+n then two.']
    notes += listed_differences(multibyte(codes), icu_decode('ibm-964', every), 'ICU\'s ibm-964')

    def body(out):
        out.write('static constexpr uint8_t kEucTwPlanes[%d] = {%s};\n\n' %
                  (len(EUC_TW_PLANES), ', '.join(str(p) for p in EUC_TW_PLANES)))
        write_grid(out, 'kEucTwIndex', values)
        write_beyond_bmp(out, 'kEucTwIndex', values)
    write_header('euc_tw.h', 'glibc\'s charmap EUC-TW: CNS 11643-1992.', notes, body)


def johab(folder):
    codes = read_charmap(os.path.join(folder, 'JOHAB.gz'))
    assert codes[b'\x5c'] == (0x20A9,)
    values = grid(codes, (0xF9 - 0x84 + 1) * 206, johab_bytes)
    assert sum(v is not None for v in values) == len(multibyte(codes))
    assert not add_decode_only('JOHAB', codes, values, johab_bytes)
    every = [johab_bytes(p) for p in range(len(values))]
    notes = ['Pointer: (lead - 0x84) * 206 + trail - 0x31.',
             'ICU has no Johab.']
    notes += listed_differences(multibyte(codes), python_decode('johab', every), 'Python\'s johab')

    def body(out):
        write_grid(out, 'kJohabIndex', values)
    write_header('johab.h', 'glibc\'s charmap JOHAB: KS C 5601-1992 annex 3.', notes, body)


def euc_jp_ms(folder):
    codes = read_charmap(os.path.join(folder, 'EUC-JP-MS.gz'))
    # The single bytes and the half-width katakana are arithmetic: C1 as
    # itself, 0x8E 0xA1-0xDF as U+FF61-U+FF9F.
    for raw, chars in codes.items():
        if len(raw) == 1:
            assert chars == (raw[0],), raw
        elif raw[0] == 0x8E:
            assert len(raw) == 2 and chars == (0xFF61 + raw[1] - 0xA1,), raw
    assert len([raw for raw in codes if raw[0] == 0x8E]) == 0xDF - 0xA1 + 1
    values = grid(codes, 2 * ROW * ROW, euc_jp_ms_bytes)
    assert sum(v is not None for v in values) == len([r for r in codes if len(r) > 1 and r[0] != 0x8E])
    decode_only = add_decode_only('EUC-JP-MS', codes, values, euc_jp_ms_bytes)
    every = [euc_jp_ms_bytes(p) for p in range(len(values))]
    notes = ['Pointer: JIS X 0208 (0xA1-0xFE twice) at (row - 0xA1) * 94 + cell - 0xA1, then',
             'JIS X 0212 (0x8F and two) 8836 further.',
             'ICU and Python have no eucJP-ms; ICU\'s EUC-JP lacks the extensions.']
    ours = {r: c for r, c in multibyte(codes).items() if r[0] != 0x8E}
    ours.update((euc_jp_ms_bytes(p), (values[p],)) for p in decode_only)
    notes += listed_differences(ours,
                                icu_decode('ibm-33722', every), 'ICU\'s ibm-33722')

    def body(out):
        write_grid(out, 'kEucJpMsIndex', values)
        write_decode_only(out, 'kEucJpMsIndex', decode_only)
    write_header('euc_jp_ms.h', 'glibc\'s charmap EUC-JP-MS: eucJP-ms.', notes, body)


def whatwg_big5():
    """The WHATWG index big5, as generate_cjk_indexes.py wrote it."""
    text = open(os.path.join(ROOT, 'cjkconv', 'indexes', 'big5.h')).read()
    values = [int(v, 16) for v in re.findall(r'0x([0-9A-F]+)', text[text.index('= {'):])]
    found = {}
    for pointer, value in enumerate(values):
        raw = big5_hkscs_bytes(pointer, 0x81)
        if value:
            found[raw] = (value,)
    for pointer, pair in ((1133, (0xCA, 0x304)), (1135, (0xCA, 0x30C)), (1164, (0xEA, 0x304)),
                          (1166, (0xEA, 0x30C))):
        found[big5_hkscs_bytes(pointer, 0x81)] = pair
    return found


def big5_hkscs(folder):
    codes = read_charmap(os.path.join(folder, 'BIG5-HKSCS.gz'))
    size = (0xFE - 0x87 + 1) * 157
    values = grid(codes, size, big5_hkscs_bytes)
    pairs = [(p, codes[big5_hkscs_bytes(p)]) for p in range(size)
             if len(codes.get(big5_hkscs_bytes(p), ())) == 2]
    assert len(pairs) == 4
    assert sum(v is not None for v in values) + len(pairs) == len(multibyte(codes))
    decode_only = add_decode_only('BIG5-HKSCS', codes, values, big5_hkscs_bytes)
    every = [big5_hkscs_bytes(p) for p in range(size)]
    ours = multibyte(codes)
    ours.update((big5_hkscs_bytes(p), (values[p],)) for p in decode_only)
    notes = ['Pointer: (lead - 0x87) * 157 + trail - 0x40 (0xA1-0xFE: trail - 0x62).']
    notes += listed_differences(ours, icu_decode('ibm-1375_P100-2008', every),
                                'ICU\'s ibm-1375_P100-2008')
    notes += listed_differences(ours, python_decode('big5hkscs', every), 'Python\'s big5hkscs')
    whatwg = {raw: chars for raw, chars in whatwg_big5().items() if raw[0] >= 0x87}
    notes += listed_differences(ours, whatwg, 'the WHATWG index big5')

    def body(out):
        write_grid(out, 'kBig5HkscsIndex', values)
        write_beyond_bmp(out, 'kBig5HkscsIndex', values)
        write_decode_only(out, 'kBig5HkscsIndex', decode_only)
        out.write('\n// The codes of a letter and a combining mark (none in the grid).\n')
        out.write('struct Big5HkscsPair {\n    uint16_t pointer;\n    uint16_t first;\n'
                  '    uint16_t second;\n};\n')
        out.write('static const Big5HkscsPair kBig5HkscsPairs[%d] = {\n' % len(pairs))
        for pointer, (first, second) in pairs:
            out.write('    {%d, 0x%04X, 0x%04X},\n' % (pointer, first, second))
        out.write('};\n')
    write_header('big5_hkscs.h', 'glibc\'s charmap BIG5-HKSCS: Big5 with HKSCS-2008.', notes, body)


def jisx0213_pointer(plane, row, cell):
    """Rows and cells from 1, as JIS X 0213 numbers them."""
    return (plane - 1) * ROW * ROW + (row - 1) * ROW + cell - 1


def euc_jisx0213_bytes(pointer):
    plane, rest = divmod(pointer, ROW * ROW)
    row, cell = divmod(rest, ROW)
    return bytes(([0x8F] if plane else []) + [0xA1 + row, 0xA1 + cell])


# The lead of each plane 2 row that Shift_JISX0213 has below row 79.
SHIFT_JISX0213_PLANE2_LEADS = {1: 0xF0, 8: 0xF0, 3: 0xF1, 4: 0xF1, 5: 0xF2, 12: 0xF2, 13: 0xF3,
                               14: 0xF3, 15: 0xF4, 78: 0xF4}


def shift_jisx0213_bytes(pointer):
    """None for the plane 2 rows the Shift_JIS form has no lead for."""
    plane, rest = divmod(pointer, ROW * ROW)
    row, cell = rest // ROW + 1, rest % ROW + 1
    if plane == 0:
        lead = 0x81 + (row - 1) // 2 if row <= 62 else 0xE0 + (row - 63) // 2
    elif row >= 79:
        lead = 0xF5 + (row - 79) // 2
    elif row in SHIFT_JISX0213_PLANE2_LEADS:
        lead = SHIFT_JISX0213_PLANE2_LEADS[row]
    else:
        return None
    trail = (cell + 0x3F + (cell >= 0x40)) if row % 2 == 1 else cell + 0x9E
    return bytes([lead, trail])


def jisx0213(folder):
    euc = read_charmap(os.path.join(folder, 'EUC-JISX0213.gz'))
    sjis = read_charmap(os.path.join(folder, 'SHIFT_JISX0213.gz'))
    for raw, chars in euc.items():
        if len(raw) == 1:
            assert chars == (raw[0],), raw
        elif raw[0] == 0x8E:
            assert len(raw) == 2 and chars == (0xFF61 + raw[1] - 0xA1,), raw
    for raw, chars in sjis.items():
        if len(raw) == 1:
            expected = {0x5C: 0xA5, 0x7E: 0x203E}.get(raw[0], raw[0])
            if 0xA1 <= raw[0] <= 0xDF:
                expected = 0xFF61 + raw[0] - 0xA1
            assert chars == (expected,), raw
    size = 2 * ROW * ROW
    sjis_codes = set(r for r in sjis if len(r) == 2)
    for pointer in range(size):
        raw = shift_jisx0213_bytes(pointer)
        assert raw is None or euc.get(euc_jisx0213_bytes(pointer)) == sjis.get(raw), pointer
        assert raw is not None or euc_jisx0213_bytes(pointer) not in euc
        sjis_codes.discard(raw)
    assert not sjis_codes  # every Shift_JIS code has its EUC code
    values = grid(euc, size, euc_jisx0213_bytes)
    pairs = [(p, euc[euc_jisx0213_bytes(p)]) for p in range(size)
             if len(euc.get(euc_jisx0213_bytes(p), ())) == 2]
    assert len(pairs) == 25
    codes = {r: c for r, c in multibyte(euc).items() if r[0] != 0x8E}
    assert sum(v is not None for v in values) + len(pairs) == len(codes)
    assert not add_decode_only('EUC-JISX0213', euc, values, euc_jisx0213_bytes)
    # Python reads JIS X 0212 in the rows of plane 2 that JIS X 0213 leaves out.
    every = [euc_jisx0213_bytes(p) for p in range(size) if shift_jisx0213_bytes(p) is not None]
    notes = ['Pointer: plane 1 at (row - 1) * 94 + cell - 1, plane 2 8836 further; EUC-JISX0213',
             'writes plane 1 as 0xA0 + row, 0xA0 + cell and plane 2 after 0x8F, SHIFT_JISX0213',
             'in two bytes by arithmetic (cjkconv/jisx0213.cpp).',
             'ICU has no JIS X 0213. Python reads JIS X 0212 in the rows of plane 2 that',
             'JIS X 0213 leaves out (not compared).']
    notes += listed_differences(codes, python_decode('euc_jis_2004', every),
                                'Python\'s euc_jis_2004')

    def body(out):
        write_grid(out, 'kJisx0213Index', values)
        write_beyond_bmp(out, 'kJisx0213Index', values)
        out.write('\n// The codes of two characters (none in the grid).\n')
        out.write('struct Jisx0213Pair {\n    uint16_t pointer;\n    uint16_t first;\n'
                  '    uint16_t second;\n};\n')
        out.write('const uint32_t kJisx0213PairCount = %d;\n' % len(pairs))
        out.write('static const Jisx0213Pair kJisx0213Pairs[%d] = {\n' % len(pairs))
        for pointer, (first, second) in pairs:
            out.write('    {%d, 0x%04X, 0x%04X},\n' % (pointer, first, second))
        out.write('};\n')
    write_header('jisx0213.h', 'glibc\'s charmaps EUC-JISX0213 and SHIFT_JISX0213: JIS X 0213:2004.',
                 notes, body)


def write_bits(out, name, pointers, size):
    words = [0] * ((size + 31) // 32)
    for pointer in pointers:
        words[pointer // 32] |= 1 << (pointer % 32)
    out.write('static const uint32_t %s[%d] = {\n' % (name, len(words)))
    for start in range(0, len(words), 6):
        out.write('    %s,\n' % ', '.join('0x%08X' % w for w in words[start:start + 6]))
    out.write('};\n')


def jisx0213_sets(folder):
    euc = read_charmap(os.path.join(folder, 'EUC-JISX0213.gz'))
    jis0208 = {r: c for r, c in read_charmap(os.path.join(folder, 'EUC-JP.gz')).items()
               if len(r) == 2 and r[0] >= 0xA1}
    assert len(jis0208) == 6879
    members, otherwise = [], []
    for pointer in range(ROW * ROW):
        raw = euc_jisx0213_bytes(pointer)
        if raw not in jis0208:
            continue
        members.append(pointer)
        if jis0208[raw] != euc.get(raw):
            otherwise.append((pointer, jis0208[raw][0]))
    assert otherwise == [(28, 0x2015)], otherwise
    added = []
    for pointer in range(ROW * ROW):
        raw = euc_jisx0213_bytes(pointer)
        if raw in euc and raw not in python_decode('euc_jisx0213', [raw]):
            assert raw in python_decode('euc_jis_2004', [raw])
            added.append(pointer)
    assert len(added) == 10, added
    notes = ['Plane 1 pointers of JIS X 0213 (cjkconv/indexes/jisx0213.h): which JIS X 0208',
             'holds, where JIS X 0208 reads one otherwise, which JIS X 0213 gained in 2004.']

    def body(out):
        out.write('// Plane 1 pointers that JIS X 0208 holds (%d).\n' % len(members))
        write_bits(out, 'kJisx0208Codes', members, ROW * ROW)
        out.write('\n// Where JIS X 0208 reads a code otherwise than JIS X 0213.\n')
        out.write('struct Jisx0208Otherwise {\n    uint16_t pointer;\n    uint16_t character;\n};\n')
        out.write('static const Jisx0208Otherwise kJisx0208Otherwise[%d] = {\n' % len(otherwise))
        for pointer, character in otherwise:
            out.write('    {%d, 0x%04X},\n' % (pointer, character))
        out.write('};\n')
        out.write('\n// Plane 1 pointers of the characters JIS X 0213 gained in 2004.\n')
        out.write('static const uint16_t kJisx0213Of2004[%d] = {%s};\n' %
                  (len(added), ', '.join(str(p) for p in added)))
    write_header('jisx0213_sets.h', 'glibc\'s charmap EUC-JP and Python\'s euc_jisx0213 and '
                 'euc_jis_2004: sets within JIS X 0213.', notes, body)


def seven_bit_code(designation, pointer):
    """A code of a 94 x 94 set of ISO-2022-CN(-EXT), designated and shifted
    out on its own."""
    row, cell = divmod(pointer, ROW)
    return designation + b'\x0e' + bytes([0x21 + row, 0x21 + cell]) + b'\x0f'


def python_gb2312():
    """{pointer: (code point,)} of GB 2312 as cjkconv/indexes/gb2312.h holds
    it (Python's gb2312 codec)."""
    codes = {}
    for pointer in range(ROW * ROW):
        raw = bytes([0xA1 + pointer // ROW, 0xA1 + pointer % ROW])
        try:
            codes[pointer] = tuple(ord(c) for c in raw.decode('gb2312'))
        except UnicodeDecodeError:
            pass
    return codes


def glibc_iso_2022_cn_set(designation):
    """{pointer: chars} of a 94 x 94 set as glibc's ISO-2022-CN-EXT reads it."""
    raws = [seven_bit_code(designation, p) for p in range(ROW * ROW)]
    codes = glibc_decode('ISO-2022-CN-EXT', raws)
    return {p: codes[raw] for p, raw in enumerate(raws) if raw in codes}


def iso_ir_165_notes(gb2312, theirs, added, changed):
    notes = ['Only the codes that GB 2312 lacks or reads otherwise are held; the others',
             'read as GB 2312 reads them. Pointer: (row - 0x21) * 94 + cell - 0x21.',
             'Each code reads as one character of the BMP (the generator checks it).',
             '%d codes in all: GB 2312\'s %d and %d more; %d of GB 2312\'s read otherwise:'
             % (len(theirs), len(gb2312), len(added), len(changed))]
    for pointer in changed:
        row, cell = divmod(pointer, ROW)
        notes.append('  %02X%02X: %s here, %s in GB 2312' % (
            0x21 + row, 0x21 + cell, show(theirs[pointer]), show(gb2312[pointer])))
    rows = sorted({p // ROW for p in added})
    counts = ['%02X: %d' % (0x21 + row, sum(1 for p in added if p // ROW == row)) for row in rows]
    notes.append('Codes added by row: ' + ', '.join(counts[:6]) + ',')
    notes.append('  ' + ', '.join(counts[6:]))
    raws = [seven_bit_code(b'\x1b$)E', p) for p in range(ROW * ROW)]
    ours = {seven_bit_code(b'\x1b$)E', p): chars for p, chars in theirs.items()}
    icu_name = 'ICU\'s ISO-2022-CN-EXT (ISO_2022,locale=zh,version=1)'
    icu = icu_decode('ISO_2022,locale=zh,version=1', raws)
    notes += listed_differences(ours, icu, icu_name) if icu != ours else \
        [icu_name + ' reads every code alike.']
    return notes


def iso_ir_165():
    gb2312 = python_gb2312()
    assert glibc_iso_2022_cn_set(b'\x1b$)A') == gb2312
    theirs = glibc_iso_2022_cn_set(b'\x1b$)E')
    assert all(len(chars) == 1 and chars[0] <= 0xFFFF for chars in theirs.values())
    assert set(gb2312) <= set(theirs)  # ISO-IR-165 leaves none of GB 2312's codes empty
    changed = sorted(p for p in gb2312 if theirs[p] != gb2312[p])
    added = sorted(p for p in theirs if p not in gb2312)
    differing = sorted(changed + added)

    def body(out):
        out.write('const uint32_t kIsoIr165Length = %d;\n' % len(differing))
        out.write('static const uint16_t kIsoIr165Pointers[%d] = {\n' % len(differing))
        for start in range(0, len(differing), PER_LINE):
            out.write('    %s,\n' % ', '.join('%4d' % p for p in differing[start:start + PER_LINE]))
        out.write('};\n\n// The character of each pointer in kIsoIr165Pointers.\n')
        out.write('static const uint16_t kIsoIr165Characters[%d] = {\n' % len(differing))
        for start in range(0, len(differing), PER_LINE):
            out.write('    %s,\n' % ', '.join('0x%04X' % theirs[p][0]
                                              for p in differing[start:start + PER_LINE]))
        out.write('};\n')
    write_header('iso_ir_165.h', 'ISO-IR-165 as glibc\'s iconv reads it in ISO-2022-CN-EXT '
                 '(ESC $ ) E).', iso_ir_165_notes(gb2312, theirs, added, changed), body)

def main():
    if len(sys.argv) > 2:
        sys.exit(__doc__)
    folder = sys.argv[1] if len(sys.argv) == 2 else '/usr/share/i18n/charmaps'
    euc_tw(folder)
    johab(folder)
    euc_jp_ms(folder)
    big5_hkscs(folder)
    jisx0213(folder)
    jisx0213_sets(folder)
    iso_ir_165()


if __name__ == '__main__':
    main()
