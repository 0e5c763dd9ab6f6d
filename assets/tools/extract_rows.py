#!/usr/bin/env python3
"""Collects the language-table rows that the design documents quote.

Usage:
  extract_rows.py DOC...                      list every quoted row (row, language, text, where)
  extract_rows.py DOC... --unquoted           also list row numbers mentioned without a text
  extract_rows.py DOC... --check TABLE.tsv    check the table against the quoted texts

A quoted text is kept exactly as written in the document, escapes such as
"\\r\\n" included, which is also how assets/language.tsv writes line breaks.
--check exits non-zero when a quoted row is missing, differs from the table in
its quoted language, or when a filled row of the table lacks a language.
"""

import argparse
import re
import sys
from collections import defaultdict

EN, ZH = 1, 0          # column of a language in a table row (after the row number)
LANGUAGES = 4

QUOTE = r'"([^"]*)"'
ROW_WORD = r'\b(?:[Ll]anguage[- ](?:table )?)?[Rr]ows? '
# The text that may stand between a row number and its quoted text.
GAP = r'(?: of the language table)?,? ?\(?(?:English )?'
ORDINAL = re.compile(r'^(\d+)(st|nd|rd|th)(.*)$')


def ordinal(n):
    if 10 <= n % 100 <= 20:
        suffix = 'th'
    else:
        suffix = {1: 'st', 2: 'nd', 3: 'rd'}.get(n % 10, 'th')
    return f'{n}{suffix}'


def expand_ordinals(first, last):
    """"1st" .. "8th" -> ["1st", ..., "8th"]; None when the ends are not ordinals."""
    a, b = ORDINAL.match(first), ORDINAL.match(last)
    if not a or not b or a.group(3) != b.group(3):
        return None
    return [ordinal(n) + a.group(3) for n in range(int(a.group(1)), int(b.group(1)) + 1)]


class Collector:
    def __init__(self):
        self.quoted = defaultdict(list)      # row -> [(language, text, where)]
        self.mentioned = defaultdict(list)   # row -> [where] (with or without text)

    def add(self, row, language, text, where):
        self.quoted[row].append((language, text, where))
        self.mentioned[row].append(where)

    # "row N + i ("a", "b", ...)" and "row N + g ("1st" .. "8th")"
    def offset_lists(self, line, where):
        for m in re.finditer(ROW_WORD + r'(\d+) \+ [a-z] \(([^)]*)\)', line):
            base, inner = int(m.group(1)), m.group(2)
            texts = re.findall(QUOTE, inner)
            span = re.fullmatch(r'\s*"([^"]*)"\s*(?:to|\.\.)\s*"([^"]*)"\s*', inner)
            if span:
                texts = expand_ordinals(span.group(1), span.group(2)) or texts
            for i, text in enumerate(texts):
                self.add(base + i, EN, text, where)
        return re.sub(ROW_WORD + r'\d+ \+ [a-z] \([^)]*\)', '', line)

    # "rows 485-490 "3rd DLY" .. "8th DLY""
    def ranges(self, line, where):
        for m in re.finditer(ROW_WORD + r'(\d+)-(\d+) ' + QUOTE + r' \.\. ' + QUOTE, line):
            first, last = int(m.group(1)), int(m.group(2))
            texts = expand_ordinals(m.group(3), m.group(4))
            if texts and len(texts) == last - first + 1:
                for i, text in enumerate(texts):
                    self.add(first + i, EN, text, where)
        return re.sub(ROW_WORD + r'\d+-\d+ "[^"]*" \.\. "[^"]*"', '', line)

    # "row N "text"", "row N ("zh"/"en")", "row N (English "a", line break, "b")",
    # followed by ", M "text"" or " and M ("text")" continuations.
    def plain(self, line, where):
        head = re.compile(ROW_WORD + r'(\d+)' + GAP + QUOTE + r'(?:/' + QUOTE + r')?')
        more = re.compile(r'\)?(?:,| and|, and) (\d+) \(?' + QUOTE)
        broken = re.compile(r', line break, ' + QUOTE)
        pos = 0
        while True:
            m = head.search(line, pos)
            if not m:
                break
            row, first, second = int(m.group(1)), m.group(2), m.group(3)
            end = m.end()
            if second is not None:
                self.add(row, ZH, first, where)
                self.add(row, EN, second, where)
            else:
                text = first
                while True:
                    b = broken.match(line, end)
                    if not b:
                        break
                    text += '\\r\\n' + b.group(1)
                    end = b.end()
                self.add(row, EN, text, where)
            while True:
                c = more.match(line, end)
                if not c:
                    break
                self.add(int(c.group(1)), EN, c.group(2), where)
                end = c.end()
            pos = end

    # "Language-table rows used (...): 58 "Return", 542 (OK count), ..."
    def used_lists(self, line, where):
        m = re.search(r'Language-table rows used[^:]*:(.*)', line)
        if not m:
            return
        for item in re.finditer(r'(\d+) (?:' + QUOTE + r'|\(([^)]*)\))', m.group(1)):
            row = int(item.group(1))
            if item.group(2) is not None:
                self.add(row, EN, item.group(2), where)
            else:
                self.mentioned[row].append(where)

    # Table cells: '| 605 | "text" |' under a "language row" header, and
    # '"text" (N)' or 'N "text"' under a header naming "(row" columns.
    def table_cells(self, line, where, header):
        cells = [c.strip() for c in line.strip().strip('|').split('|')]
        if 'language row' in header:
            for i, cell in enumerate(cells[:-1]):
                if re.fullmatch(r'\d+', cell):
                    q = re.fullmatch(QUOTE, cells[i + 1])
                    if q:
                        self.add(int(cell), EN, q.group(1), where)
        if '(row' in header:
            for cell in cells:
                for m in re.finditer(QUOTE + r' \((\d+)\)', cell):
                    self.add(int(m.group(2)), EN, m.group(1), where)
                m = re.fullmatch(r'(\d+) ' + QUOTE, cell)
                if m:
                    self.add(int(m.group(1)), EN, m.group(2), where)

    def mentions(self, line, where):
        for m in re.finditer(ROW_WORD + r'(\d+)', line):
            self.mentioned[int(m.group(1))].append(where)

    def read(self, path):
        header = ''
        name = path.rsplit('/', 1)[-1]
        with open(path, encoding='utf-8') as f:
            for number, line in enumerate(f, 1):
                where = f'{name}:{number}'
                if line.startswith('|'):
                    if not header and not re.match(r'\|[-| ]+\|\s*$', line):
                        header = line
                    elif not re.match(r'\|[-| ]+\|\s*$', line):
                        self.table_cells(line, where, header)
                else:
                    header = ''
                self.mentions(line, where)
                rest = self.offset_lists(line, where)
                rest = self.ranges(rest, where)
                self.plain(rest, where)
                self.used_lists(line, where)

    def texts(self):
        """row -> {language: text}, plus a list of conflicting quotes."""
        result, conflicts = {}, []
        for row, quotes in sorted(self.quoted.items()):
            per = {}
            for language, text, where in quotes:
                if language in per and per[language][0] != text:
                    conflicts.append((row, language, per[language], (text, where)))
                    continue
                per.setdefault(language, (text, where))
            result[row] = per
        return result, conflicts


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            mapped = {'n': '\n', 'r': '\r', 't': '\t', '\\': '\\'}.get(n)
            if mapped is not None:
                out.append(mapped)
                i += 2
                continue
        out.append(c)
        i += 1
    return ''.join(out)


def load_table(path):
    table = {}
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            fields = line.split('\t')
            table[int(fields[0])] = [unescape(t) for t in fields[1:]]
    return table


def check(texts, table):
    faults = 0
    for row, per in sorted(texts.items()):
        got = table.get(row)
        if got is None:
            print(f'missing row {row}')
            faults += 1
            continue
        for language, (text, where) in per.items():
            if language >= len(got) or got[language] != unescape(text):
                have = got[language] if language < len(got) else ''
                print(f'row {row}: table has {have!r}, {where} quotes {unescape(text)!r}')
                faults += 1
    for row, fields in sorted(table.items()):
        if len(fields) != LANGUAGES or not all(fields):
            print(f'row {row}: not all {LANGUAGES} languages filled')
            faults += 1
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('documents', nargs='+')
    parser.add_argument('--check', metavar='TABLE')
    parser.add_argument('--unquoted', action='store_true')
    args = parser.parse_args()

    collector = Collector()
    for path in args.documents:
        collector.read(path)
    texts, conflicts = collector.texts()
    for row, language, (a, wa), (b, wb) in conflicts:
        print(f'conflict row {row}: {a!r} ({wa}) vs {b!r} ({wb})', file=sys.stderr)

    if args.check:
        table = load_table(args.check)
        faults = check(texts, table)
        print(f'{len(texts)} quoted rows, {len(table)} table rows, {faults} faults')
        return 1 if faults else 0

    for row, per in sorted(texts.items()):
        for language, (text, where) in sorted(per.items()):
            print(f"{row}\t{'en' if language == EN else 'zh'}\t{text}\t{where}")
    if args.unquoted:
        for row in sorted(set(collector.mentioned) - set(texts)):
            print(f'{row}\t-\t\t' + ' '.join(sorted(set(collector.mentioned[row]))))
    print(f'{len(texts)} quoted rows', file=sys.stderr)
    return 0


if __name__ == '__main__':
    sys.exit(main())
