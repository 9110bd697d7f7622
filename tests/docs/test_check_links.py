#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The link checker on small trees of pages whose faults are known: a check
that passes everything would let the guides rot unseen, and one that reads
links out of code would fail on every usage line."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_links  # noqa: E402

GUIDE = """\
# A guide

## The station's results file: `results.jsonl`

## Linux and Windows, side by side

## Notes

## Notes

<a id="kept-name"></a>
"""


def write_tree(root, files):
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


class LinkChecker(unittest.TestCase):
    def problems(self, readme, extra=None):
        with tempfile.TemporaryDirectory() as root:
            files = {"README.md": readme, "docs/guide.md": GUIDE, "docs/shot.png": ""}
            files.update(extra or {})
            write_tree(root, files)
            return [(line, target, why) for _, line, target, why in check_links.check(root, ["README.md"])]

    def test_links_that_lead_somewhere_pass(self):
        readme = """\
# Top

See [the guide](docs/guide.md), ![a shot](docs/shot.png "the window"),
[the results file](docs/guide.md#the-stations-results-file-resultsjsonl),
[side by
side](docs/guide.md#linux-and-windows-side-by-side) over a line break,
[the second notes](docs/guide.md#notes-1), [an id](docs/guide.md#kept-name),
[this page](#top), [a folder](docs/), [the web](https://example.com/x.md),
[mail](mailto:someone@example.com) and <img src="docs/shot.png" alt="">.

[ref]: docs/guide.md#notes
"""
        self.assertEqual(self.problems(readme), [])

    def test_code_is_not_read_for_links(self):
        readme = """\
# Usage

```sh
marbrix-station [-p PORT](missing.md)... [--port A,B]
```

~~~~
[inside a tilde fence](missing.png)
```
still inside: a shorter fence of the other kind does not close it
[also inside](missing.png)
~~~~

Written inline: `[x](missing.md)` and ``a `[y](missing.md)` in double
backticks``.
"""
        self.assertEqual(self.problems(readme), [])

    def test_broken_targets_are_each_reported_with_their_line(self):
        readme = """\
# Top

[gone](docs/gone.md)
![no picture](docs/missing.png)
[no such heading](docs/guide.md#the-results-file)
[no such heading here](#bottom)
[a heading of the code](docs/guide.md#results-jsonl)
<img src="docs/other.png">

```
not a link: [x](nowhere.md)
```
[after the fence](docs/nowhere.md)

[ref]: docs/absent.md
"""
        self.assertEqual(self.problems(readme), [
            (3, "docs/gone.md", "no such file"),
            (4, "docs/missing.png", "no such file"),
            (5, "docs/guide.md#the-results-file", "no such heading"),
            (6, "#bottom", "no such heading"),
            (7, "docs/guide.md#results-jsonl", "no such heading"),
            (8, "docs/other.png", "no such file"),
            (13, "docs/nowhere.md", "no such file"),
            (15, "docs/absent.md", "no such file"),
        ])

    def test_headings_are_named_as_github_names_them(self):
        cases = [
            ("The operator console: `marbrix`", "the-operator-console-marbrix"),
            ("The station's results file", "the-stations-results-file"),
            ("Image downloads against lrzsz's `sb`", "image-downloads-against-lrzszs-sb"),
            ("`inspect` and `pack`", "inspect-and-pack"),
            ("Ports by USB identity", "ports-by-usb-identity"),
            ("A **bold** [link](x.md) and snake_case", "a-bold-link-and-snake_case"),
            ("Fault soak, 1e-4 -- rerun", "fault-soak-1e-4----rerun"),
        ]
        for heading, want in cases:
            with self.subTest(heading=heading):
                self.assertEqual(check_links.slug(heading), want)


if __name__ == "__main__":
    unittest.main()
