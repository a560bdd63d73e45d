#!/usr/bin/env python3
"""Generates the code-point indexes of the Chinese and Korean converter library
(cjkconv/indexes/*.h) and of windows-31j in the Japanese one
(jpconv/indexes/jis0208.h): one C++ array each, pointer to code point, 0
where the pointer has no character, ten a line with the first pointer of the
line in a comment. jis0208.h is the one copy of JIS X 0208 the Japanese
library has: Shift_JIS, EUC-JP and ISO-2022-JP read its standard rows, with
the few code points where they differ from the index listed after it.

Sources:
  gb18030, gb18030-ranges, big5, euc-kr, jis0208
      the WHATWG Encoding Standard's indexes as the npm package
      text-encoding 0.7.0 ships them (lib/encoding-indexes.js;
      `npm pack text-encoding@0.7.0`). The converters follow the standard's
      algorithms over them (pointer arithmetic, the four-byte ranges).
  gb2312
      Python's gb2312 codec (EUC-CN), for which the standard has no index of
      its own: every pair of bytes 0xA1-0xFE that it decodes.
  GB18030 (GB 18030-2022)
      glibc's charmap /usr/share/i18n/charmaps/GB18030.gz, which follows
      GB 18030-2022, for the two-byte codes of GB18030 and GBK: where it maps a
      two-byte code beyond the BMP (six codes, 0xFE51 and others) the code
      keeps the private use character of the WHATWG index, as GB 18030-2022
      says. The eighteen private use characters that GB 18030-2022 took
      two-byte codes from get the four-byte codes of the characters those
      codes now are (as ICU 73 and later do), so that they still round-trip.
      The four-byte runs stay the WHATWG index gb18030-ranges.

Each index's header lists where it differs from Python's codec of the same
encoding; ICU and iconv are compared in tests/test_cjkconv.cpp.

Usage: python3 generators/generate_cjk_indexes.py <text-encoding package folder> [GB18030 charmap]
"""
import bisect
import gzip
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, '..')
PER_LINE = 10


def whatwg_indexes(folder):
    text = open(os.path.join(folder, 'lib', 'encoding-indexes.js'), encoding='utf-8').read()
    start = text.index('{', text.index('global["encoding-indexes"]'))
    return json.JSONDecoder().raw_decode(text[start:])[0]


def python_decode(codec, raw):
    try:
        return raw.decode(codec)
    except UnicodeDecodeError:
        return None


def differences(index, codec, bytes_of_pointer, limit=12):
    """The pointers whose bytes Python's codec decodes otherwise, as lines."""
    found = []
    for pointer, code_point in enumerate(index):
        raw = bytes_of_pointer(pointer)
        if raw is None:
            continue
        ours = None if code_point is None else chr(code_point)
        theirs = python_decode(codec, raw)
        if ours != theirs:
            found.append((raw, ours, theirs))
    def show(text):
        return 'none' if text is None else ' '.join('U+%04X' % ord(c) for c in text)
    lines = ['%d codes decode otherwise in Python\'s %s:' % (len(found), codec)]
    for raw, ours, theirs in found[:limit]:
        lines.append('  %s: %s here, %s in Python' % (raw.hex().upper(), show(ours), show(theirs)))
    if len(found) > limit:
        lines.append('  ... and %d more' % (len(found) - limit))
    return lines


def gbk_bytes(pointer):
    trail = pointer % 190
    return bytes([pointer // 190 + 0x81, trail + (0x40 if trail < 0x3F else 0x41)])


def big5_bytes(pointer):
    trail = pointer % 157
    return bytes([pointer // 157 + 0x81, trail + (0x40 if trail < 0x3F else 0x62)])


def euc_kr_bytes(pointer):
    return bytes([pointer // 190 + 0x81, pointer % 190 + 0x41])


def shift_jis_bytes(pointer):
    lead = pointer // 188
    trail = pointer % 188
    lead += 0x81 if lead < 0x1F else 0xC1
    if lead > 0xFC:
        return None
    return bytes([lead, trail + (0x40 if trail < 0x3F else 0x41)])


def gb2312_index():
    index = []
    for lead in range(0xA1, 0xFF):
        for trail in range(0xA1, 0xFF):
            text = python_decode('gb2312', bytes([lead, trail]))
            index.append(ord(text) if text is not None and len(text) == 1 else None)
    return index


def jis_x0208_standard(jis0208):
    """JIS X 0208 as Shift_JIS, EUC-JP and ISO-2022-JP read it (Python's euc_jp
    codec): the index at the standard's rows 1-8 and 16-84, but for a few
    pointers that the index maps as Windows does. Those, as (pointer, code
    point); every other pointer of the rows must agree."""
    found = []
    for pointer, code_point in enumerate(jis0208[:94 * 94]):
        row = pointer // 94 + 1
        if not (1 <= row <= 8 or 16 <= row <= 84):
            continue
        text = python_decode('euc_jp', bytes([pointer // 94 + 0xA1, pointer % 94 + 0xA1]))
        theirs = ord(text) if text is not None and len(text) == 1 else None
        if theirs != code_point:
            assert theirs is not None and code_point is not None, pointer
            found.append((pointer, theirs))
    return found


def write_pairs(path, name, pairs, note):
    with open(path, 'a') as out:
        out.write('\n// %s\n' % note)
        out.write('const uint32_t %sLength = %d;\n' % (name, len(pairs)))
        out.write('static const uint16_t %s[%d][2] = {\n' % (name, len(pairs)))
        for pointer, code_point in pairs:
            out.write('    {%d, 0x%04X},\n' % (pointer, code_point))
        out.write('};\n')


def write_index(path, name, element, index, source, notes):
    with open(path, 'w') as out:
        out.write('// Generated by generators/generate_cjk_indexes.py: do not edit.\n')
        out.write('// %s\n' % source)
        for line in notes:
            out.write('// %s\n' % line)
        out.write('#pragma once\n\n#include <stdint.h>\n\n')
        out.write('const uint32_t %sLength = %d;\n' % (name, len(index)))
        out.write('static const %s %s[%d] = {\n' % (element, name, len(index)))
        for start in range(0, len(index), PER_LINE):
            values = ', '.join('0x%04X' % (value or 0) for value in index[start:start + PER_LINE])
            out.write('    /* %5d */ %s,\n' % (start, values))
        out.write('};\n')


def write_ranges(path, ranges, moved):
    with open(path, 'w') as out:
        out.write('// Generated by generators/generate_cjk_indexes.py: do not edit.\n')
        out.write('// The WHATWG index gb18030-ranges (text-encoding 0.7.0): the four-byte\n')
        out.write('// pointer and the code point where each run of consecutive codes starts.\n')
        out.write('// Then the four-byte codes that are no part of a run: U+E7C7 (moved\n')
        out.write('// there by GB 18030-2005) and the private use characters whose two-byte\n')
        out.write('// codes GB 18030-2022 gave to standard ones, at those ones\' old codes.\n')
        out.write('#pragma once\n\n#include <stdint.h>\n\n')
        out.write('struct Gb18030Range {\n    uint32_t pointer;\n    uint32_t codePoint;\n};\n\n')
        out.write('const uint32_t kGb18030RangesLength = %d;\n' % len(ranges))
        out.write('static const Gb18030Range kGb18030Ranges[%d] = {\n' % len(ranges))
        for pointer, code_point in ranges:
            out.write('    {%d, 0x%04X},\n' % (pointer, code_point))
        out.write('};\n\n')
        out.write('const uint32_t kGb18030MovedLength = %d;\n' % len(moved))
        out.write('static const Gb18030Range kGb18030Moved[%d] = {\n' % len(moved))
        for pointer, code_point in moved:
            out.write('    {%d, 0x%04X},\n' % (pointer, code_point))
        out.write('};\n')


def glibc_two_byte_codes(path):
    """The two-byte codes of a glibc charmap, as {bytes: code point}."""
    codes = {}
    with gzip.open(path, 'rt', encoding='ascii') as charmap:
        for line in charmap:
            match = re.match(r'<U([0-9A-F]+)>\s+/x([0-9a-f]{2})/x([0-9a-f]{2})\s', line)
            if match:
                codes[bytes([int(match.group(2), 16), int(match.group(3), 16)])] = \
                    int(match.group(1), 16)
    return codes


def gb18030_2022(whatwg, ranges, charmap):
    """The two-byte index of GB 18030-2022 and the four-byte codes outside
    the runs, from the WHATWG index and glibc's charmap."""
    codes = glibc_two_byte_codes(charmap)
    index = []
    for pointer, old in enumerate(whatwg):
        new = codes.get(gbk_bytes(pointer))
        index.append(old if new is None or new > 0xFFFF else new)
    beyond_bmp = [(raw, code) for raw, code in sorted(codes.items()) if code > 0xFFFF]
    starts = [start for start, _ in ranges]

    def four_byte_pointer(code_point):
        run = max(k for k, (_, first) in enumerate(ranges) if first <= code_point)
        return ranges[run][0] + code_point - ranges[run][1]

    def in_runs(pointer, code_point):
        run = bisect.bisect_right(starts, pointer) - 1
        return ranges[run][1] + pointer - ranges[run][0] == code_point

    moved = [(7457, 0xE7C7)]
    for old, new in zip(whatwg, index):
        if old != new and old is not None and 0xE000 <= old <= 0xF8FF and \
                not 0xE000 <= new <= 0xF8FF:
            pointer = four_byte_pointer(new)
            assert in_runs(pointer, new)
            moved.append((pointer, old))
    return index, sorted(moved), beyond_bmp


def gb18030_notes(index, whatwg, beyond_bmp):
    lines = ['%d codes keep their private use character where glibc has one beyond the BMP:'
             % len(beyond_bmp)]
    for raw, code in beyond_bmp:
        pointer = (raw[0] - 0x81) * 190 + raw[1] - (0x40 if raw[1] < 0x7F else 0x41)
        lines.append('  %s: U+%04X here, U+%05X in glibc' % (raw.hex().upper(), index[pointer], code))
    changed = [(p, o, n) for p, (o, n) in enumerate(zip(whatwg, index)) if o != n]
    lines.append('%d codes differ from the WHATWG index gb18030 (text-encoding 0.7.0):' % len(changed))
    for pointer, old, new in changed:
        lines.append('  %s: U+%04X here, U+%04X there' % (gbk_bytes(pointer).hex().upper(), new, old))
    return lines


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    indexes = whatwg_indexes(sys.argv[1])
    charmap = sys.argv[2] if len(sys.argv) == 3 else '/usr/share/i18n/charmaps/GB18030.gz'
    folder = os.path.join(ROOT, 'cjkconv', 'indexes')
    os.makedirs(folder, exist_ok=True)
    whatwg = 'The WHATWG index %s (text-encoding 0.7.0).'
    gb18030, moved, beyond_bmp = gb18030_2022(indexes['gb18030'], indexes['gb18030-ranges'], charmap)
    write_index(os.path.join(folder, 'gb18030.h'), 'kGb18030Index', 'uint16_t', gb18030,
                'GB 18030-2022: glibc\'s charmap GB18030, in the layout of the WHATWG index.',
                gb18030_notes(gb18030, indexes['gb18030'], beyond_bmp) +
                differences(gb18030, 'gb18030', gbk_bytes) +
                differences(gb18030, 'gbk', gbk_bytes, 4))
    write_ranges(os.path.join(folder, 'gb18030_ranges.h'), indexes['gb18030-ranges'], moved)
    write_index(os.path.join(folder, 'big5.h'), 'kBig5Index', 'uint32_t', indexes['big5'],
                whatwg % 'big5' + ' Pointers 1133, 1135, 1164 and 1166 are two code points each.',
                differences(indexes['big5'], 'big5hkscs', big5_bytes))
    write_index(os.path.join(folder, 'euc_kr.h'), 'kEucKrIndex', 'uint16_t', indexes['euc-kr'],
                whatwg % 'euc-kr', differences(indexes['euc-kr'], 'cp949', euc_kr_bytes))
    gb2312 = gb2312_index()
    write_index(os.path.join(folder, 'gb2312.h'), 'kGb2312Index', 'uint16_t', gb2312,
                'Python\'s gb2312 codec: pointer (lead - 0xA1) * 94 + trail - 0xA1.',
                differences(gb2312, 'gbk', lambda p: bytes([p // 94 + 0xA1, p % 94 + 0xA1])))
    jis0208 = indexes['jis0208']
    os.makedirs(os.path.join(ROOT, 'jpconv', 'indexes'), exist_ok=True)
    write_index(os.path.join(ROOT, 'jpconv', 'indexes', 'jis0208.h'), 'kJis0208Index', 'uint16_t',
                jis0208, whatwg % 'jis0208' + ' windows-31j reads pointers 8836-10715 as U+E000-U+E757.',
                differences([0xE000 + p - 8836 if 8836 <= p <= 10715 else c
                             for p, c in enumerate(jis0208)], 'cp932', shift_jis_bytes))
    write_pairs(os.path.join(ROOT, 'jpconv', 'indexes', 'jis0208.h'), 'kJisX0208Standard',
                jis_x0208_standard(jis0208),
                'JIS X 0208 as Shift_JIS, EUC-JP and ISO-2022-JP read it (Python\'s euc_jp and\n'
                '// shift_jis codecs): the index above at rows 1-8 and 16-84 (pointers\n'
                '// (row - 1) * 94 + cell - 1), but for these pointers, which the index maps\n'
                '// as Windows does: pointer, code point.')


if __name__ == '__main__':
    main()
