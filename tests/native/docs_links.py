"""Fails when a relative link of the README or of a page in docs/ leads nowhere.

A link names a file relative to the page that holds it; a `#anchor` after it (or
alone, for the page itself) must be a heading of that page, made into an anchor
the way GitHub makes one. Web addresses are left alone, and so is code.
"""
import pathlib
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")


def prose_lines(text):
    in_code = False
    for line in text.splitlines():
        if line.lstrip().startswith("```"):
            in_code = not in_code
        elif not in_code:
            yield line


def anchors(page):
    seen = {}
    for line in prose_lines(page.read_text(encoding="utf-8")):
        heading = re.match(r"#+\s+(.*)", line)
        if heading:
            slug = re.sub(r"[^\w\- ]", "", heading.group(1).strip().lower()).replace(" ", "-")
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            yield slug if count == 0 else f"{slug}-{count}"


def broken_links(page):
    for line in prose_lines(page.read_text(encoding="utf-8")):
        for target in LINK.findall(re.sub(r"`[^`]*`", "", line)):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            linked = (page.parent / path).resolve() if path else page
            if not linked.exists():
                yield f"{page}: {target}: no such file"
            elif anchor and anchor not in set(anchors(linked)):
                yield f"{page}: {target}: no such heading"


root = pathlib.Path(sys.argv[1])
faults = [fault for page in [root / "README.md", *sorted((root / "docs").glob("*.md"))] for fault in broken_links(page)]
print("\n".join(faults) or "every link resolves")
sys.exit(1 if faults else 0)
