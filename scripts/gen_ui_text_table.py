#!/usr/bin/env python3
"""Copies the Japanese -> English text table from a markdown table into C++ source.

Usage: gen_ui_text_table.py TABLE.md OUT.cpp
Rows look like: | n | "japanese" | "english" |  ;  \\n inside a text is a line feed.
"""
import re, sys

ROW = re.compile(r'^\| (\d+) \| "(.*)" \| "(.*)" \|$')

def check_text(t):
    # Only the two-character sequence \n may carry a backslash; quotes must not appear.
    rest = t.replace('\\n', '')
    if '\\' in rest or '"' in rest or '??' in t:
        raise SystemExit('unexpected character in text: %r' % t)
    return t

rows = []
for line in open(sys.argv[1], encoding='utf-8'):
    line = line.rstrip('\n')
    m = ROW.match(line)
    if m:
        rows.append((int(m.group(1)), check_text(m.group(2)), check_text(m.group(3))))
    elif line.startswith('| ') and line[2:3].isdigit():
        raise SystemExit('row not understood: %r' % line)

numbers = [n for n, _, _ in rows]
assert numbers == list(range(1, len(rows) + 1)), 'rows are not numbered 1..n in order'
assert len(rows) == 248, len(rows)
keys = [k.replace('\\n', '\n') for _, k, _ in rows]
assert len(set(keys)) == len(keys), 'duplicate keys'

out = []
out.append('// Generated from the UI text table by scripts/gen_ui_text_table.py; do not edit by hand.')
out.append('#include "session/UiTextTable.h"')
out.append('')
out.append('namespace vantrel')
out.append('{')
out.append('const std::array<UiTextPair, numUiTextPairs> uiTextPairs {{')
for n, k, e in rows:
    out.append('    { "%s", "%s" },' % (k, e))
out.append('}};')
out.append('} // namespace vantrel')
open(sys.argv[2], 'w', encoding='utf-8', newline='\n').write('\n'.join(out) + '\n')
print('wrote %d rows' % len(rows))
