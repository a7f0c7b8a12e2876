#!/usr/bin/env python3
"""Runs scenarios on both players and says, per scenario, "same" or the first differing record.

    tools/wine/compare.py [--handheld PATH] [--jobs N] [--keep DIR] BUILD SCRIPT...

The host's `handheld play` and the Win32 player (tools/wine/play.py, Pelorn.exe in BUILD under
Wine) each give a trace and what `reg query` steps printed. Both are normalised by the one table
of known platform differences, tools/wine/differences.json (each row says why), and compared:
the trace record by record, with the time from each record to the one before within the table's
tolerance, and the `reg query` texts in order. With --jobs 2, two scenarios run at a time, each
on its own display and Wine prefix. Ends with "compare: N same, M differ"; exits 1 when M > 0.
"""
import json
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import play  # noqa: E402

LATE = play.effects.MODAL
# A clock that goes back this far: Wine's clock of a new process.
NEW_PROCESS_MS = 200
TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "differences.json")


def split(text):
    """The trace records and the `reg query` texts of a player's output: records of calls, step
    records (left out) and output records, or `reg query` text as it was printed."""
    records, queries, block = [], [], []
    last_output = False
    for line in text.splitlines():
        if line.startswith("{"):
            if block:
                queries.append(block)
                block = []
            record = json.loads(line)
            if "output" in record:
                # Printed text runs on until a call comes between, as raw text would.
                if queries and last_output:
                    queries[-1] += record["output"].splitlines()
                else:
                    queries.append(record["output"].splitlines())
                last_output = True
            elif "call" in record:
                records.append(record)
                last_output = False
        else:
            block.append(line)
    if block:
        queries.append(block)
    queries = ["\n".join(b).strip("\n") for b in queries]
    return records, [q for q in queries if q]


class Normaliser:
    def __init__(self, table):
        self.table = table
        self.rows = {}
        for row in table["rows"]:
            self.rows.setdefault(row["rule"], []).append(row)

    def row(self, rule):
        return self.rows.get(rule, [{}])[0]

    def records(self, records):
        """Records as compared: handles named, known differences taken out, each with its time
        from the record before in the same process ("dt"), or none where that is not defined."""
        out = []
        handles = {}
        counter = [0]
        handle_row = self.row("handles")
        fields = set(handle_row.get("fields", []))
        makers = set(handle_row.get("results", []))
        created = set()
        windows = {}
        destroyed = set()
        hidden = set()
        registered = set()
        ended = False

        def name(value):
            if value in (None, 0, -1) or not isinstance(value, int):
                return value
            if value not in handles:
                counter[0] += 1
                handles[value] = "H%d" % counter[0]
            return handles[value]

        ignore = {}
        for r in self.rows.get("ignore", []):
            ignore.setdefault(r["call"], set()).update(r["fields"])
        serial = set(self.row("serial-reads").get("calls", []))
        inside = self.row("drop-rehide")
        published = self.row("published-window")

        untimed = set(self.row("untimed").get("calls", []))
        prev = None
        for i, r in enumerate(records):
            r = dict(r)
            call = r["call"]
            t = r.pop("t")
            # A process's handles are its own: the next process's first call (the title string)
            # starts the names afresh.
            if call == "PostQuitMessage":
                ended = True
            elif call == "LoadString" and ended:
                ended = False
                handles.clear()
                counter[0] = 0
            # Times: from the record before. A call that runs a modal loop or creates the window
            # is written when it returns, with the time it started: it has none. Wine's clock
            # starts again with each process, the host's runs on: a new process has none.
            dt = None
            if call not in LATE:
                if prev is not None and t >= prev and call not in untimed:
                    dt = t - prev
                new_prev = t if prev is None or t >= prev or t < prev - NEW_PROCESS_MS else prev
            else:
                new_prev = prev
            if inside and call == inside["call"] and r.get("nCmdShow") == inside["nCmdShow"]:
                # Hidden from its creation on: only the hide once it is created counts.
                if records[i].get("hWnd") in hidden or records[i].get("hWnd") not in created:
                    continue
                hidden.add(records[i].get("hWnd"))
            if call == self.row("drop-reregistered").get("call"):
                if r.get("lpszClassName") in registered:
                    continue
                registered.add(r.get("lpszClassName"))
            if call == "DestroyWindow":
                destroyed.add(records[i].get("hWnd"))
            if call == self.row("drop-uncreated").get("call") and r.get("hWnd") not in created:
                continue
            if call == "CreateWindowEx" and r.get("result"):
                created.add(r["result"])
            if call in serial and (call != "SetCommMask" or r.get("dwEvtMask") == "0x119" or
                                   (i + 1 < len(records) and records[i + 1]["call"] == "WaitCommEvent")):
                text = r.get("text", "") if call == "ReadFile" else ""
                if out and out[-1]["record"].get("call") == "serial reads" and \
                        out[-1]["record"]["hFile"] == name(r.get("hFile")):
                    out[-1]["record"]["text"] += text
                    continue
                r = {"call": "serial reads", "hFile": r.get("hFile"), "text": text}
            for f in ignore.get(call, ()):
                r.pop(f, None)
            if call == self.row("box-closed-under").get("call") and records[i].get("hWnd") in destroyed:
                r.pop("result", None)
            if published and call == published["call"] and r.get("name") == published["name"]:
                r["data"] = name(r.get("data"))
                r.pop("lpData", None)
            for f in fields:
                if f in r:
                    r[f] = name(r[f])
            if call in makers and "result" in r:
                r["result"] = name(r["result"])
                if call == "CreateWindowEx":
                    windows[records[i]["result"]] = r["result"]
            # Only records that are compared count as the one before.
            prev = new_prev
            out.append({"record": r, "dt": dt, "index": i})
            # A handle that is closed may come back as another's on Wine: forget it.
            if call in ("RegCloseKey", "CloseHandle", "DestroyWindow", "DestroyMenu"):
                for f in ("hKey", "hObject", "hWnd", "hMenu"):
                    raw = records[i].get(f)
                    if isinstance(raw, int) and raw in handles and r.get(f) == handles[raw]:
                        del handles[raw]
        return out, windows

    def query(self, text, handles):
        published = self.row("published-window")
        lines = text.splitlines()
        for row in self.rows.get("same-text", []):
            lines = [row["texts"][0] if line in row["texts"] else line for line in lines]
        out, values = [], []
        for line in lines + [""]:
            if line.startswith("    "):
                parts = line.split()
                if published and parts and parts[0] == published["query"] and parts[-1].startswith("0x"):
                    value = int(parts[-1], 16)
                    line = "    %s    REG_DWORD    %s" % (parts[0], handles.get(value, "a window"))
                values.append(line)
            else:
                out += sorted(values) if "sorted-query" in self.rows else values
                values = []
                if line:
                    out.append(line)
        return "\n".join(out)


def compare(host_text, wine_text, table):
    """None when the same, else what differs first."""
    n = Normaliser(table)
    host_records, host_queries = split(host_text)
    wine_records, wine_queries = split(wine_text)
    host, host_handles = n.records(host_records)
    wine, wine_handles = n.records(wine_records)
    tolerance = table["tolerance_ms"]
    compared = 0
    previous = None
    for h, w in zip(host, wine):
        compared += 1
        after_sleep = previous is not None and previous["record"]["call"] == "Sleep"
        previous = h
        if h["record"] != w["record"]:
            return compared, "record %d (host line %d, Win32 line %d):\n  host:  %s\n  Win32: %s" % (
                compared, h["index"] + 1, w["index"] + 1, json.dumps(h["record"]), json.dumps(w["record"]))
        early = tolerance["after_sleep"] if after_sleep else tolerance["early"]
        if h["dt"] is not None and w["dt"] is not None and not (-early <= w["dt"] - h["dt"] <= tolerance["late"]):
            return compared, "record %d (host line %d, Win32 line %d), %s: %d ms after the one before on the " \
                             "host, %d ms on Win32" % (compared, h["index"] + 1, w["index"] + 1,
                                                      h["record"]["call"], h["dt"], w["dt"])
    if len(host) != len(wine):
        longer, who = (host, "host") if len(host) > len(wine) else (wine, "Win32")
        extra = longer[min(len(host), len(wine))]
        return compared, "record %d is only on the %s: %s" % (compared + 1, who, json.dumps(extra["record"]))
    for i, (hq, wq) in enumerate(zip(host_queries, wine_queries)):
        hq, wq = n.query(hq, host_handles), n.query(wq, wine_handles)
        if hq != wq:
            return compared, "reg query %d:\n  host:\n%s\n  Win32:\n%s" % (i + 1, indent(hq), indent(wq))
    if len(host_queries) != len(wine_queries):
        return compared, "reg query: %d on the host, %d on Win32" % (len(host_queries), len(wine_queries))
    host_results = answers(host_text)
    for line, result in answers(wine_text).items():  # sends that returned before a box or menu waited
        if host_results.get(line) != result:
            return compared, "the send on line %d answered %s on the host, %s on Win32" % (
                line, host_results.get(line), result)
    return compared, None


def answers(text):
    """What each send step's message returned, by the step's line."""
    steps = (json.loads(line) for line in text.splitlines() if line.startswith('{"step"') or '"step":' in line[:30])
    return {r["line"]: r["result"] for r in steps if "step" in r and "result" in r}


def indent(text):
    return "\n".join("    " + line for line in text.splitlines())


def run_host(handheld, script):
    done = subprocess.run([handheld, "play", "--as-returned", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return done.stdout, done.stderr


def main(argv):
    args = argv[1:]
    handheld, jobs, keep = "build/tools/handheld", 1, None
    while args and args[0].startswith("--"):
        if args[0] == "--handheld":
            handheld = args[1]
        elif args[0] == "--jobs":
            jobs = int(args[1])
        elif args[0] == "--keep":
            keep = args[1]
        else:
            sys.stderr.write(__doc__)
            return 2
        args = args[2:]
    if len(args) < 2:
        sys.stderr.write(__doc__)
        return 2
    build, scripts = args[0], args[1:]
    with open(TABLE) as f:
        table = json.load(f)
    work = keep or tempfile.mkdtemp(prefix="wine-compare-")
    todo = queue.Queue()
    for i, s in enumerate(scripts):
        todo.put((i, s))
    results = {}
    lock = threading.Lock()
    started = time.monotonic()

    def run_one(machine, i, script):
        host_out, host_err = run_host(handheld, script)
        wine_out, wine_err = _play(machine, handheld, script)
        base = os.path.join(work, "%03d-%s" % (i, os.path.basename(script)))
        for kind, text in ((".host", host_out), (".win32", wine_out), (".host.err", host_err),
                           (".win32.err", wine_err)):
            with open(base + kind, "w") as f:
                f.write(text)
        compared, diff = compare(host_out, wine_out, table)
        if host_err.strip() != wine_err.strip():
            diff = diff or "errors: host %r, Win32 %r" % (host_err.strip(), wine_err.strip())
        return compared, diff

    def worker(k):
        machine = play.Machine(build, os.path.join(work, "machine%d" % k))
        try:
            while True:
                try:
                    i, script = todo.get_nowait()
                except queue.Empty:
                    return
                compared, diff = run_one(machine, i, script)
                with lock:
                    results[i] = (script, compared, diff)
                    print("%s: %s" % (script, "same" if diff is None else "differs at " + diff), flush=True)
        finally:
            machine.close()

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(max(1, jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    same = sum(1 for s, c, d in results.values() if d is None)
    differ = len(scripts) - same
    records = sum(c for s, c, d in results.values())
    print("%d scenarios, %d records compared, %.0f s" % (len(scripts), records, time.monotonic() - started))
    print("compare: %d same, %d differ" % (same, differ))
    return 0 if differ == 0 else 1


def _play(machine, handheld, script):
    import io
    out, err = io.StringIO(), io.StringIO()
    try:
        play.play(machine, handheld, script, out, err)
    except Exception as e:  # a player that breaks is a difference, not the end of the run
        err.write("the Win32 player failed: %r\n" % e)
    return out.getvalue(), err.getvalue()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
