#!/usr/bin/env python3
"""Writes the manual page lomari(1) from the lomari tool's own usage texts.

The tool's usage strings (const char k<Name>Usage[] in tools/*.cpp) are the
one source of what each command does and takes: this script reads them from
the sources, turns each into a roff section (synopsis, paragraphs, option
list) and fills them into docs/lomari.1.in, which holds the parts the tool
does not print (exit status, files, examples).

    manpage.py --template docs/lomari.1.in --out build/man/lomari.1 \
               --version 1.0.0 tools/lomari.cpp tools/demo.cpp
"""
import argparse
import re
import sys

USAGE = re.compile(r'const char k(\w*)Usage\[\]\s*=\s*((?:\s*"(?:[^"\\]|\\.)*")+)\s*;')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')


def unescape(s):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), s)


def usages(paths):
    """{name: text} of every usage string ("" for the tool's own)."""
    out = {}
    for p in paths:
        with open(p) as f:
            src = f.read()
        for m in USAGE.finditer(src):
            out[m.group(1).lower()] = "".join(unescape(x) for x in LITERAL.findall(m.group(2)))
    return out


def roff(text):
    """Text as roff: backslashes and hyphens escaped, no line starting with
    a control character."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\n".join(("\\&" + ln) if ln[:1] in ".'" else ln for ln in text.split("\n"))


def section(text):
    """A command's usage text as roff: the synopsis line in bold, the
    paragraphs, and the option list (lines indented by two spaces) as
    tagged paragraphs."""
    lines = text.rstrip("\n").split("\n")
    synopsis = lines[0].split(":", 1)[1].strip()
    o = [".TP", ".B " + roff(synopsis)]
    para = []
    opts = []  # [tag, description]

    def flush():
        if para:
            o.append(".IP")
            o.append(roff(" ".join(para)))
            para.clear()

    for ln in lines[1:]:
        if not ln.strip():
            flush()
            continue
        m = re.match(r"  (\S.*?)(?:\s{2,}(.*))?$", ln)
        if ln.startswith("   ") and opts:
            opts[-1][1] += " " + ln.strip()
        elif m and ln.startswith("  -"):
            flush()
            opts.append([m.group(1), m.group(2) or ""])
        else:
            if opts:
                o.extend(options(opts))
                opts.clear()
            para.append(ln.strip())
    flush()
    o.extend(options(opts))
    return o


def options(opts):
    o = []
    if opts:
        o.append(".RS")
        for tag, desc in opts:
            o += [".TP", ".B " + roff(tag), roff(desc)]
        o.append(".RE")
    return o


def commands(tool):
    """The command names and one-line descriptions of the tool's usage."""
    found, on = [], False
    for ln in tool.split("\n"):
        if ln.strip() == "commands:":
            on = True
        elif on and not ln.strip():
            break
        elif on:
            name, desc = ln.strip().split(None, 1)
            found.append((name, desc))
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--template", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("sources", nargs="+")
    a = ap.parse_args()
    texts = usages(a.sources)
    cmds = commands(texts[""])
    body = []
    for name, _ in cmds:
        if name not in texts:
            sys.exit("manpage.py: no usage text for command %s" % name)
        body += section(texts[name])
    synopsis = ["\\fBlomari\\fR \\fIcommand\\fR [\\fIoptions\\fR]", ".br",
                "\\fBlomari\\fR \\fIcommand\\fR \\fB\\-\\-help\\fR", ".br", "\\fBlomari \\-\\-version\\fR"]
    summary = []
    for name, desc in cmds:
        summary += [".TP", ".B " + name, roff(desc)]
    with open(a.template) as f:
        page = f.read()
    page = (page.replace("@VERSION@", a.version).replace("@SYNOPSIS@", "\n".join(synopsis))
            .replace("@SUMMARY@", "\n".join(summary)).replace("@COMMANDS@", "\n".join(body)))
    with open(a.out, "w") as f:
        f.write(page)


if __name__ == "__main__":
    main()
