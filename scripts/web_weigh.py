#!/usr/bin/env python3
"""What the page costs while it runs, for scripts/web.sh weigh: the CPU time of every process of
one Chromium (the browser and all it started), by kind, between the page's first report (its first
frame) and its second (the end of its measured seconds), as a share of one core.

usage: web_weigh.py PID RESULT_FILE SETTLE_SECONDS LIMIT_SECONDS
PID is the browser's; the page POSTs its reports to the server, which writes RESULT_FILE. The
measurement starts SETTLE_SECONDS after the first report, when the page starts counting too: the
start's own work (the compiler's second tier, the first collections) is no steady cost."""
import os
import sys
import time

TICK = os.sysconf("SC_CLK_TCK")


def children():
    kids = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        # The name may hold spaces and parentheses: the fields follow the last ')'.
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        kids.setdefault(ppid, []).append(int(entry))
    return kids


def tree(root):
    kids, out, todo = children(), [], [root]
    while todo:
        pid = todo.pop()
        out.append(pid)
        todo.extend(kids.get(pid, []))
    return out


def kind(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            # A child rewrites its command line as one string, its arguments apart by blanks.
            args = f.read().replace(b"\0", b" ").split()
    except OSError:
        return None
    flags = dict(a.split(b"=", 1) for a in args if a.startswith(b"--") and b"=" in a)
    what = flags.get(b"--type")
    if what is None:
        return "browser" if args and args[0].endswith(b"chromium") else "other"
    if what == b"renderer":
        return "renderer"
    if what == b"gpu-process":
        return "gpu"
    if what == b"utility":
        return "audio" if b"audio" in flags.get(b"--utility-sub-type", b"").lower() else "utility"
    return "other"


def cpu(path):
    with open(path) as f:
        stat = f.read()
    fields = stat[stat.rindex(")") + 2:].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def threads(root):
    """Clock ticks by kind and thread name, for KORDAVEL_WEIGH_THREADS=1."""
    out = {}
    for pid in tree(root):
        k = kind(pid)
        try:
            for tid in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{tid}/comm") as f:
                    name = f"{k}/{f.read().strip()}"
                out[name] = out.get(name, 0) + cpu(f"/proc/{pid}/task/{tid}/stat")
        except OSError:
            continue
    return out


def sample(root):
    """Clock ticks by kind, and the renderers' main threads on their own."""
    by_kind = {}
    for pid in tree(root):
        k = kind(pid)
        if k is None:
            continue
        try:
            by_kind[k] = by_kind.get(k, 0) + cpu(f"/proc/{pid}/stat")
            if k == "renderer":  # its main thread is the process's first
                by_kind["main"] = by_kind.get("main", 0) + cpu(f"/proc/{pid}/task/{pid}/stat")
            if k == "browser":  # the thread that looks for gamepads while a page asks for them
                for tid in os.listdir(f"/proc/{pid}/task"):
                    with open(f"/proc/{pid}/task/{tid}/comm") as f:
                        if f.read().strip() == "Gamepad polling":
                            by_kind["gamepads"] = by_kind.get("gamepads", 0) + cpu(
                                f"/proc/{pid}/task/{tid}/stat")
        except OSError:
            continue  # gone meanwhile
    return by_kind


def wait_for(result, limit, pid):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if os.path.exists(result):
            with open(result) as f:
                text = f.read().strip()
            os.remove(result)
            return text
        try:
            os.kill(pid, 0)
        except OSError:
            break
        time.sleep(0.02)
    return None


def main():
    pid, result = int(sys.argv[1]), sys.argv[2]
    settle, limit = float(sys.argv[3]), float(sys.argv[4])
    first = wait_for(result, limit, pid)
    if first is None or first.startswith("error"):
        print(first or f"error: the page reported nothing within {limit:.0f} seconds")
        return 1
    time.sleep(settle)
    by_thread = os.environ.get("KORDAVEL_WEIGH_THREADS") == "1"
    before, start = sample(pid), time.monotonic()
    threads_before = threads(pid) if by_thread else {}
    second = wait_for(result, limit, pid)
    after, seconds = sample(pid), time.monotonic() - start
    if by_thread:
        spent = {k: v - threads_before.get(k, 0) for k, v in threads(pid).items()}
        for name, ticks in sorted(spent.items(), key=lambda kv: -kv[1])[:12]:
            print(f"  {name} {100.0 * ticks / TICK / seconds:.1f}", file=sys.stderr)
    if second is None or second.startswith("error"):
        print(second or "error: the page did not end its measurement")
        return 1
    share = {k: 100.0 * (after.get(k, 0) - before.get(k, 0)) / TICK / seconds
             for k in set(after) | set(before)}
    # The renderer's main thread and the browser's gamepad thread are parts of their processes.
    total = sum(v for k, v in share.items() if k not in ("main", "gamepads"))
    parts = " ".join(f"{k} {share.get(k, 0.0):.1f}" for k in (
        "renderer", "main", "gpu", "browser", "gamepads", "audio", "utility", "other"))
    print(f"{first} {second} cpu-percent {total:.1f} ({parts})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
