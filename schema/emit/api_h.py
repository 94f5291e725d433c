"""lomari/lomari_api.h: the declaration of every stamped entry point, each
with its comment (what it does, who owns what afterwards, which errors it
gives, and for workers and hooks who calls them instead of an
application), the entry points of each family under its heading and note,
its workers and hooks after them.  The headings are Doxygen groups: one per
family, and one gathering the workers and hooks of every family."""
import re
import sys
import textwrap

from emit.common import BANNER

WIDTH = 100


def block(paragraphs, indent=""):
    """A /** */ comment of the given paragraphs, wrapped."""
    o = [indent + "/**"]
    for i, p in enumerate(paragraphs):
        if i:
            o.append(indent + " *")
        for ln in p.splitlines() or [""]:
            wrapped = textwrap.wrap(ln, WIDTH - len(indent) - 3, break_on_hyphens=False) or [""]
            o += [(indent + " * " + w).rstrip() for w in wrapped]
    o.append(indent + " */")
    return o


PATTERN = re.compile(r"\w*(?:<\w+>\w*)+")


def doxy(text):
    """Text safe from Doxygen's commands, HTML and emphasis: names with a
    placeholder ("lomari_<name>_message_handler") as code, other angle
    brackets and at signs literal."""
    parts = []
    last = 0
    for m in PATTERN.finditer(text):
        parts.append(text[last:m.start()].replace("@", "\\@").replace("<", "\\<").replace(">", "\\>"))
        parts.append("`%s`" % m.group(0))
        last = m.end()
    parts.append(text[last:].replace("@", "\\@").replace("<", "\\<").replace(">", "\\>"))
    return "".join(parts)


def sentence(text):
    text = text.strip()
    return text if text.endswith(".") else text + "."


def comment(e, doc):
    f = lambda s: doxy(s.format(**e.ctx, name=e.name))  # noqa: E731
    paras = [f(doc.what)]
    if doc.worker:
        paras.append("Not for applications: " + sentence(f(doc.worker)))
    paras.append("Ownership: " + (sentence(f(doc.owns)) if doc.owns else "nothing changes owner."))
    errs = sentence(f(doc.errors)) if doc.errors else "none of its own."
    if "uint32_t *err" in e.params:
        errs += "  A non-zero *err on entry makes the call do nothing (a result is 0 or null)."
    elif e.name.endswith("_cr") and "uint32_t db" not in e.params:
        errs += ("  Chained-error form: the handle's database_id and err stand for the database id and error "
                 "word; a non-zero err on entry makes the call do nothing.")
    paras.append("Errors: " + errs)
    return block(paras)


def is_worker(e, docs):
    return bool(docs[e.doc].worker)


def emit(M, built, notes, docs, titles):
    """built: (family, entries) in family order; notes, docs, titles: each
    family's HEADER_NOTE, DOCS and TITLE."""
    o = ["/* %s */" % BANNER,
         "/**",
         " * @file lomari/lomari_api.h",
         " * @brief Every per-type entry point of liblomari, by family; each with its comment.",
         " *",
         " * Include lomari/lomari.h.  Every operation takes the handle first, then (most) the database id,",
         " * and last (most) the error word, which must be 0 on entry.  Workers and hooks, which the library",
         " * and the runtime call and an application does not, are grouped apart (see @ref lomari_workers).",
         " */",
         "#ifndef LOMARI_API_H\n#define LOMARI_API_H\n",
         "#include \"lomari/lomari_types.h\"\n",
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n",
         "/**",
         " * @defgroup lomari_workers Workers and hooks",
         " * @brief Entry points an application does not call: the workers behind other entry points and the",
         " * hooks the runtime, the database and the containers call.  Each family lists its own.",
         " */\n"]
    for name, entries in built:
        d = docs[name]
        for e in entries:
            if e.doc not in d:
                sys.exit("generate.py: %s: no documentation for %s (kind %r)" % (name, e.name, e.doc))
        title = titles[name]
        note = notes.get(name, "").strip()
        public = [e for e in entries if not is_worker(e, d)]
        workers = [e for e in entries if is_worker(e, d)]
        o.append("/* ---- %s ---- */" % name)
        head = ["@defgroup lomari_%s %s" % (name, title)]
        if note:
            head.append(doxy(note))
        if workers:
            head.append("Its workers and hooks: @ref lomari_%s_workers." % name)
        head.append("@{")
        o += block(head)
        for e in public:
            o += comment(e, d[e.doc])
            o.append(e.decl())
        o.append("/** @} */\n")
        if workers:
            o += block(["@defgroup lomari_%s_workers %s: workers and hooks" % (name, title),
                        "@ingroup lomari_workers",
                        "Called by the library or the runtime, not by applications.",
                        "@{"])
            for e in workers:
                o += comment(e, d[e.doc])
                o.append(e.decl())
            o.append("/** @} */\n")
    o.append("#ifdef __cplusplus\n}\n#endif\n#endif")
    return "\n".join(o) + "\n"
