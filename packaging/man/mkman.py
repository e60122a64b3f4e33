#!/usr/bin/env python3
"""Writes a manual page in roff from its source in plain Markdown.

    mkman.py SOURCE.md OUTPUT DATE VERSION

The source is a small part of Markdown, enough for a manual page:

    # name(section) -- what it is
    ## SECTION HEADING
    A paragraph, its lines joined; `literal` in bold, *placeholder* in italics.

    * `--option` *VALUE*:
      The option's description, indented by two blanks.

    ```
    an example, kept line by line
    ```
"""
import re
import sys


def escape(text):
    text = text.replace('\\', '\\e').replace('-', '\\-')
    return text


def inline(text):
    # Literals first, so that a star inside one stays a star.
    parts = re.split(r'(`[^`]*`)', text)
    out = []
    for part in parts:
        if part.startswith('`') and part.endswith('`') and len(part) >= 2:
            out.append('\\fB' + escape(part[1:-1]) + '\\fR')
        else:
            part = escape(part)
            out.append(re.sub(r'\*([^*]+)\*', r'\\fI\1\\fR', part))
    return ''.join(out)


def line_safe(text):
    # A line starting with a period or an apostrophe would be a request.
    return '\\&' + text if text[:1] in ('.', "'") else text


def convert(source, date, version):
    lines = source.splitlines()
    title = re.match(r'^# (\S+)\((\d)\) -- (.+)$', lines[0])
    if not title:
        raise SystemExit('the first line must be "# name(section) -- what it is"')
    name, section, summary = title.groups()
    out = ['.\\" Generated from %s.%s.md; edit that file instead.' % (name, section),
           '.TH "%s" "%s" "%s" "Vorel %s" "Vorel"' % (name.upper(), section, date, version),
           # Options are not to be hyphenated, nor lines stretched to the margin.
           '.nh', '.ad l',
           '.SH NAME', '%s \\- %s' % (escape(name), inline(summary))]
    paragraph = []
    in_item = False
    in_code = False

    def flush():
        nonlocal paragraph
        if paragraph:
            out.append(line_safe(inline(' '.join(paragraph))))
            paragraph = []

    for raw in lines[1:]:
        if in_code:
            if raw.strip() == '```':
                out += ['.fi', '.RE']
                in_code = False
            else:
                out.append(line_safe(escape(raw)))
            continue
        if raw.strip() == '```':
            flush()
            out += ['.PP' if not in_item else '.IP', '.RS 4', '.nf']
            in_code = True
            continue
        if not raw.strip():
            flush()
            continue
        heading = re.match(r'^## (.+)$', raw)
        item = re.match(r'^\* (.+):$', raw)
        if heading:
            flush()
            in_item = False
            out += ['.SH ' + escape(heading.group(1).upper())]
        elif item:
            flush()
            in_item = True
            out += ['.TP', line_safe(inline(item.group(1)))]
        elif in_item and raw.startswith('  '):
            # A further paragraph of the item keeps its indent.
            if not paragraph and not out[-2] == '.TP':
                out.append('.IP')
            paragraph.append(raw.strip())
        else:
            if not paragraph:
                if in_item:
                    in_item = False
                out.append('.PP')
            paragraph.append(raw.strip())
    flush()
    if in_code:
        raise SystemExit('an example is not closed with ```')
    return '\n'.join(out) + '\n'


def main():
    if len(sys.argv) != 5:
        raise SystemExit(__doc__)
    with open(sys.argv[1], encoding='utf-8') as f:
        page = convert(f.read(), sys.argv[3], sys.argv[4])
    with open(sys.argv[2], 'w', encoding='utf-8') as f:
        f.write(page)


if __name__ == '__main__':
    main()
