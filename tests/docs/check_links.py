#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Every relative link and picture in the guides must lead somewhere.

    check_links.py ROOT [FILE...]

FILEs are Markdown files relative to ROOT (by default README.md and
docs/*.md). For each inline link, picture, reference definition and HTML
src/href whose target has no scheme, the file it names must exist, and a
#anchor must name a heading (or an HTML id) of the Markdown file it points
into. Links inside fenced code blocks and code spans are not links: a usage
line such as `[-p PORT]...` must not count. Anchors follow the way GitHub
names headings, since that is where the guides are read: the heading's text
without markup, lower case, punctuation dropped, spaces made hyphens, and
-1, -2, ... after a repeated one.

Prints one line per broken target and exits 1 if there is any.
"""
import glob
import os
import re
import sys
import urllib.parse

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
# A code span ends at the next run of as many backticks, within its paragraph.
CODE_SPAN = re.compile(r"(?<!`)(`+)(?!`)((?:(?!\n[ \t]*\n).)+?)(?<!`)\1(?!`)", re.S)
# [text](target "title") and ![alt](target); the text may hold one level of
# brackets and run over lines, as a wrapped paragraph does.
INLINE_LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\[\]]*\])*\]\(\s*(<[^>]*>|[^\s()]*(?:\([^\s()]*\)[^\s()]*)*)"
                         r"(?:\s+(?:\"[^\"]*\"|'[^']*'))?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]]+\]:\s*(<[^>]*>|\S+)", re.M)
HTML_TARGET = re.compile(r"<(?:img|a|source)\b[^>]*?\s(?:src|href)\s*=\s*[\"']([^\"']+)[\"']", re.I)
HTML_ID = re.compile(r"<[a-z]+\b[^>]*?\s(?:id|name)\s*=\s*[\"']([^\"']+)[\"']", re.I)
HEADING = re.compile(r"^ {0,3}(#{1,6})[ \t]+(.*?)(?:[ \t]+#+)?[ \t]*$")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:|^//")


def blank_fences(text):
    """The text with fenced code blocks blanked, line numbers kept."""
    out = []
    fence = None
    for line in text.split("\n"):
        m = FENCE.match(line)
        if fence is None:
            if m:
                fence = m.group(1)
                out.append("")
                continue
            out.append(line)
        else:
            # A fence closes on a run of the same character at least as long.
            if m and m.group(1)[0] == fence[0] and len(m.group(1)) >= len(fence) \
                    and not line.strip().strip(fence[0]):
                fence = None
            out.append("")
    return "\n".join(out)


def blank_code_spans(text):
    """Code spans replaced by as many newlines as they held."""
    return CODE_SPAN.sub(lambda m: "\n" * m.group(0).count("\n"), text)


def heading_text(raw):
    """A heading's visible text: code spans keep their content, links their
    text, pictures their alt text; emphasis and HTML tags go."""
    text = CODE_SPAN.sub(lambda m: m.group(2).strip(), raw)
    text = re.sub(r"!?\[((?:[^\[\]]|\[[^\[\]]*\])*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"<[^>]+>", "", text)
    return re.sub(r"[*]|(?<!\w)_+|_+(?!\w)", "", text)


def slug(text):
    text = heading_text(text).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors_of(path, cache):
    if path not in cache:
        with open(path, encoding="utf-8") as f:
            text = blank_fences(f.read())
        seen = {}
        names = set()
        for line in text.split("\n"):
            m = HEADING.match(line)
            if not m:
                continue
            base = slug(m.group(2))
            n = seen.get(base, 0)
            seen[base] = n + 1
            names.add(base if n == 0 else f"{base}-{n}")
        names.update(HTML_ID.findall(blank_code_spans(text)))
        cache[path] = names
    return cache[path]


def targets(text):
    """(line number, target) for every link target in a Markdown text."""
    text = blank_code_spans(blank_fences(text))
    found = []
    for pattern in (INLINE_LINK, REFERENCE, HTML_TARGET):
        for m in pattern.finditer(text):
            target = m.group(1).strip()
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            found.append((text.count("\n", 0, m.start(1)) + 1, target))
    return sorted(found)


def check(root, files):
    """The problems, as (file, line, target, why), in the order found."""
    problems = []
    anchors = {}  # each page's headings, read once
    for name in files:
        path = os.path.join(root, name)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        for line, target in targets(text):
            if not target:
                problems.append((name, line, target, "an empty target"))
                continue
            if SCHEME.match(target):
                continue
            part, _, anchor = target.partition("#")
            part = urllib.parse.unquote(part)
            dest = os.path.normpath(os.path.join(os.path.dirname(path), part)) if part else path
            if not os.path.exists(dest):
                problems.append((name, line, target, "no such file"))
                continue
            if anchor and dest.endswith(".md") and os.path.isfile(dest):
                if urllib.parse.unquote(anchor) not in anchors_of(dest, anchors):
                    problems.append((name, line, target, "no such heading"))
    return problems


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = argv[1]
    files = argv[2:] or ["README.md"] + sorted(
        os.path.relpath(p, root) for p in glob.glob(os.path.join(root, "docs", "*.md")))
    problems = check(root, files)
    for name, line, target, why in problems:
        print(f"{name}:{line}: ({target}): {why}")
    if problems:
        print(f"{len(problems)} broken link(s)")
        return 1
    print(f"every relative link in {len(files)} file(s) leads somewhere")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
