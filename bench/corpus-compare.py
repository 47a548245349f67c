#!/usr/bin/env python3
"""Splits a corpus of PDF files with quillsever-cli and compares every part with qpdf's own
copy of the same pages (qpdf --empty --pages SRC a-b -- out.pdf): size, page rendering
(pdftoppm), page labels, form fields, qpdf --check warnings, and whether tagged sources give
tagged parts. Prints one summary table and the parts that miss a target.

The corpus is made on the spot: generated files (make-big-pdf, qpdf's variants of them:
object streams, streams without filters, QDF), LibreOffice documents exported with and without
tags, the PDFs Debian's documentation packages put under /usr/share/doc, and damaged copies
of some of them (cut short, bytes overwritten)."""
import argparse, glob, gzip, json, os, random, re, shutil, subprocess, sys, tempfile, time

def run(args, **kw):
    return subprocess.run(args, capture_output=True, **kw)

def pages_of(path):
    r = run(["qpdf", "--show-npages", path])
    try:
        return int(r.stdout.decode().strip())
    except ValueError:
        return 0

# ---------------------------------------------------------------- corpus
HTML = """<html lang="{lang}"><head><title>Doc {n}</title></head><body>
<h1 id="top">Report {n}</h1><p>Contents: {toc}</p>
{sections}
<form><p><input type="checkbox" name="agree{n}" checked> I agree</p>
<p><input type="text" name="who{n}" value="reader {n}"></p></form>
</body></html>"""

def make_corpus(work, maker, limit_docs):
    src = os.path.join(work, "corpus")
    if os.path.isdir(src) and os.listdir(src):
        return src
    os.makedirs(src)
    gen = os.path.join(work, "gen")
    os.makedirs(gen, exist_ok=True)
    for pages in (7, 60, 400):
        p = os.path.join(gen, f"big{pages}.pdf")
        run([maker, p, str(pages)])
        shutil.copy(p, src)
        for name, args in (("os", ["--object-streams=generate"]),
                           ("raw", ["--stream-data=uncompress", "--compress-streams=n"]),
                           ("qdf", ["--qdf"])):
            run(["qpdf", *args, p, os.path.join(src, f"big{pages}-{name}.pdf")])
    # LibreOffice: headed, linked documents with a small form, tagged and not.
    if shutil.which("soffice"):
        html_dir = os.path.join(work, "html")
        os.makedirs(html_dir, exist_ok=True)
        for n in range(1, 13):
            secs = []
            count = 4 + n * 3
            for s in range(count):
                body = " ".join(f"Sentence {k} of section {s} in document {n}." for k in range(25 + n * 4))
                link = f'<a href="#s{(s * 7 + 3) % count}">see section {(s * 7 + 3) % count}</a>'
                table = "<table border=1><tr><td>a</td><td>b</td></tr><tr><td>1</td><td>2</td></tr></table>" if s % 3 == 0 else ""
                secs.append(f'<h2 id="s{s}">Section {s}</h2><p>{body} {link}</p><ul><li>one</li><li>two</li></ul>{table}')
            toc = " ".join(f'<a href="#s{s}">{s}</a>' for s in range(count))
            with open(os.path.join(html_dir, f"lo{n:02d}.html"), "w") as f:
                f.write(HTML.format(n=n, lang="en-GB" if n % 2 else "de-DE", toc=toc, sections="\n".join(secs)))
        for tagged in (True, False):
            out = os.path.join(work, "lo-tagged" if tagged else "lo-plain")
            os.makedirs(out, exist_ok=True)
            opts = {"UseTaggedPDF": {"type": "boolean", "value": "true" if tagged else "false"},
                    "ExportFormFields": {"type": "boolean", "value": "true"},
                    "ExportBookmarks": {"type": "boolean", "value": "true"}}
            run(["soffice", "--headless", "--convert-to",
                 "pdf:writer_web_pdf_Export:" + json.dumps(opts), "--outdir", out,
                 *sorted(glob.glob(os.path.join(html_dir, "*.html")))], timeout=900)
            for p in glob.glob(os.path.join(out, "*.pdf")):
                shutil.copy(p, os.path.join(src, ("t-" if tagged else "p-") + os.path.basename(p)))
    # Documentation PDFs of installed Debian packages.
    docs = sorted(glob.glob("/usr/share/doc/**/*.pdf", recursive=True) +
                  glob.glob("/usr/share/doc/**/*.pdf.gz", recursive=True))
    for i, p in enumerate(docs[:limit_docs]):
        name = f"doc{i:04d}-" + re.sub(r"[^A-Za-z0-9._-]", "_", os.path.basename(p))
        if p.endswith(".gz"):
            with gzip.open(p) as f, open(os.path.join(src, name[:-3]), "wb") as o:
                o.write(f.read())
        else:
            shutil.copy(p, os.path.join(src, name))
    # Damaged copies: cut short, or a run of bytes overwritten.
    rnd = random.Random(18)
    for p in sorted(glob.glob(os.path.join(src, "*.pdf")))[::9]:
        data = open(p, "rb").read()
        base = os.path.splitext(os.path.basename(p))[0]
        open(os.path.join(src, f"x-cut-{base}.pdf"), "wb").write(data[: len(data) * 3 // 4])
        pos = rnd.randrange(len(data) // 4, len(data) * 3 // 4)
        open(os.path.join(src, f"x-hit-{base}.pdf"), "wb").write(
            data[:pos] + bytes(rnd.randrange(256) for _ in range(64)) + data[pos + 64:])
    return src

# ---------------------------------------------------------------- facts of one file
def labels_of(path, pages):
    r = run(["qpdf", "--json", "--json-key=pagelabels", path])
    try:
        entries = json.loads(r.stdout)["pagelabels"]
    except Exception:
        return None
    if not entries:
        return None
    out = []
    for i in range(pages):
        e = None
        for x in entries:
            if x["index"] <= i:
                e = x
        if e is None:
            out.append(None)
            continue
        lab = e["label"]
        st = lab.get("/St", 1) + i - e["index"]
        style = lab.get("/S")
        prefix = lab.get("/P", "")
        prefix = prefix[2:] if isinstance(prefix, str) and prefix.startswith("u:") else prefix
        out.append((style, prefix, st if style else None))
    return out

def fields_of(path, first=None, last=None):
    r = run(["qpdf", "--json", "--json-key=acroform", path])
    try:
        fields = json.loads(r.stdout)["acroform"]["fields"]
    except Exception:
        return set()
    out = set()
    for f in fields:
        page = f.get("pageposfrom1")
        if first is not None and (page is None or page < first or page > last):
            continue
        out.add((f["fullname"], json.dumps(f["value"]), f["annotation"]["appearancestate"]))
    return out

def warnings_of(path):
    r = run(["qpdf", "--check", path])
    text = (r.stdout + r.stderr).decode(errors="replace")
    return r.returncode, [l for l in text.splitlines() if "WARNING" in l or "error" in l.lower()]

def tagged(path):
    r = run(["pdfinfo", path])
    return re.search(rb"^Tagged:\s+yes", r.stdout, re.M) is not None

def struct_ok(path):
    r = run(["pdfinfo", "-struct", path])
    return r.returncode == 0 and len(r.stdout.strip()) > 0

def render(path, first, last, outdir, tag):
    prefix = os.path.join(outdir, tag)
    run(["pdftoppm", "-r", "20", "-gray", "-f", str(first), "-l", str(last), path, prefix], timeout=300)
    return sorted(glob.glob(prefix + "*.pgm"))

# ---------------------------------------------------------------- one source
def ranges_for(n):
    if n < 3:
        return "1-%d" % n if n > 1 else "1"
    a, b = n // 3, 2 * n // 3
    singles = "1s" if n <= 12 else "1,2,3"
    return f"1-{a},{a + 1}-{b},{b + 1}-{n},{singles}"

def check_source(cli, src, work, stats, misses, render_pages):
    n = pages_of(src)
    if n <= 0:
        stats["unreadable"] += 1
        return
    out = tempfile.mkdtemp(dir=work)
    params = ranges_for(n)
    plan = run([cli, "plan", src, params, "--to", out], cwd=out)
    r = run([cli, "split", src, params, "--to", out, "--quiet"], cwd=out)
    stats["sources"] += 1
    if r.returncode != 0:
        stats["failed sources"] += 1
        misses.append(f"{os.path.basename(src)}: split failed: {r.stderr.decode(errors='replace')[:200]}")
        shutil.rmtree(out, ignore_errors=True)
        return
    src_tagged = tagged(src)
    stats["tagged sources"] += src_tagged
    src_labels = labels_of(src, n)
    seen = set()
    for line in plan.stdout.decode().splitlines():
        fields = line.split("\t")
        if len(fields) < 2 or fields[1] in seen:
            continue
        seen.add(fields[1])
        first, last = map(int, fields[0].split("-"))
        ours = fields[1]
        theirs = os.path.join(out, "theirs.pdf")
        t = run(["qpdf", "--empty", "--pages", src, f"{first}-{last}", "--", theirs])
        if t.returncode not in (0, 3) or not os.path.exists(ours):
            continue
        stats["parts"] += 1
        name = f"{os.path.basename(src)} {first}-{last}"
        ratio = os.path.getsize(ours) / max(1, os.path.getsize(theirs))
        stats["max ratio"] = max(stats["max ratio"], ratio)
        if ratio > 1.1:
            stats["parts above 1.1x"] += 1
            misses.append(f"{name}: {ratio:.2f}x qpdf's copy ({os.path.getsize(ours)} vs {os.path.getsize(theirs)})")
        code, warns = warnings_of(ours)
        tcode, twarns = warnings_of(theirs)
        if code != 0 and len(warns) > len(twarns):
            stats["parts with more check warnings"] += 1
            misses.append(f"{name}: qpdf --check {code}: {warns[:2]}")
        if any("AcroForm" in w or "field" in w.lower() for w in warns):
            stats["parts with form warnings"] += 1
        sf = fields_of(src, first, last)
        if sf and fields_of(ours) != sf:
            stats["parts with other fields"] += 1
            misses.append(f"{name}: fields {sorted(fields_of(ours) ^ sf)[:3]}")
        if src_labels is not None:
            want = src_labels[first - 1:last]
            got = labels_of(ours, last - first + 1)
            if got != want and any(w is not None for w in want):
                stats["parts with other labels"] += 1
                misses.append(f"{name}: labels {got[:3] if got else got} vs source {want[:3]}")
        if src_tagged:
            stats["parts of tagged sources"] += 1
            if tagged(ours) and struct_ok(ours):
                stats["tagged parts"] += 1
        if render_pages:
            shown = min(last - first + 1, render_pages)
            a = render(ours, 1, shown, out, "a")
            b = render(theirs, 1, shown, out, "b")
            same = len(a) == len(b) and all(open(x, "rb").read() == open(y, "rb").read() for x, y in zip(a, b))
            if not same:
                stats["parts rendered differently"] += 1
                misses.append(f"{name}: pages render differently from qpdf's copy")
            for x in a + b:
                os.remove(x)
        os.remove(theirs)
    shutil.rmtree(out, ignore_errors=True)

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--maker", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--docs", type=int, default=400, help="documentation PDFs to take at most")
    ap.add_argument("--render", type=int, default=3, help="pages per part to render, 0: none")
    ap.add_argument("--budget", type=float, default=0,
                    help="seconds to spend on the comparison; 0: no limit. Sources are taken in an "
                         "order that mixes the kinds, so a short run still sees each kind")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    corpus = make_corpus(args.work, args.maker, args.docs)
    stats = dict.fromkeys(["sources", "unreadable", "failed sources", "parts", "parts above 1.1x",
                           "parts with more check warnings", "parts with form warnings",
                           "parts with other fields", "parts with other labels",
                           "parts rendered differently", "tagged sources",
                           "parts of tagged sources", "tagged parts"], 0)
    stats["max ratio"] = 0.0
    misses = []
    files = sorted(glob.glob(os.path.join(corpus, "*.pdf")))
    random.Random(18).shuffle(files)
    start = time.time()
    done = 0
    for i, src in enumerate(files):
        if args.budget and time.time() - start > args.budget:
            break
        check_source(os.path.abspath(args.cli), src, args.work, stats, misses, args.render)
        done += 1
        print(f"\r{i + 1}/{len(files)}", end="", file=sys.stderr)
    print(file=sys.stderr)
    print(f"corpus: {len(files)} files, {done} compared in {time.time() - start:.0f} s")
    print("| measure | value |\n|---|---|")
    for k, v in stats.items():
        print(f"| {k} | {v:.2f} |" if isinstance(v, float) else f"| {k} | {v} |")
    if misses:
        print("\nParts that miss a target:")
        for m in misses[:200]:
            print("- " + m)

if __name__ == "__main__":
    main()
