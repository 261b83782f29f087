#!/usr/bin/python3
"""Sentrel's headless service beside Monit, on the same files in the same run.

    /usr/bin/python3 bench/vs_monit.py --program BUILD/sentrel-headless \\
        --stat-loop STAT_LOOP [--window 60] [--samples 20]

Normally started by bench/vs_monit.sh, which builds what is needed first.

1. Resident memory (VmRSS) with 10, 1,000 and 10,000 watched files, 5 s after
   start, of Sentrel (PollInterval=1) and Monit (set daemon 1) side by side.
2. CPU per cycle with 1,000 and 10,000 files at a 1 s interval: user + system
   ticks from /proc/PID/stat over the window, divided by the cycles run, for
   Sentrel, Monit and a bare stat() loop, all three running at once.
3. Latency from a file's modification to the mail accepted by a loopback
   server, for Sentrel polling every second, Monit at its 1 s cycle and
   Sentrel with WatchEvents=1 (polling every 600 s), all three watching the
   same 10 files and timed from the same writes.

Each tool is isolated in a scratch folder: Sentrel's XDG folders, Monit's
control, id, state and pid files. Everything started here is stopped here.
"""

import argparse
import asyncio
import email
import email.policy
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import warnings

HZ = os.sysconf("SC_CLK_TCK")
START_WAIT = 5.0  # seconds from start to the first reading: past the first checks


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # Fields 14 and 15 of the whole line are utime and stime.
    return int(fields[11]) + int(fields[12])


def status_field(pid, name, task=None):
    path = "/proc/%d/task/%d/status" % (pid, task) if task else "/proc/%d/status" % pid
    with open(path) as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    raise KeyError(name)


def rss_kib(pid):
    return status_field(pid, "VmRSS")


def sleeps(pid):
    """Voluntary context switches of the main thread.

    The service and Monit are each one thread that blocks once between two
    cycles (Sentrel's event loop on its timer, Monit in its sleep) and not
    during a cycle over cached files, so the count over a window is the
    number of cycles in it. With /DEBUG, Sentrel's log shows one "CheckFiles"
    line for each of these.
    """
    return status_field(pid, "voluntary_ctxt_switches", task=pid)


def threads(pid):
    return len(os.listdir("/proc/%d/task" % pid))


def mib(kib):
    return kib / 1024.0


class Files:
    """N empty files with one modification time a whole hour ago."""

    def __init__(self, folder, count, prefix="watched-"):
        os.makedirs(folder, exist_ok=True)
        width = len(str(count))
        self.paths = [os.path.join(folder, "%s%0*d.log" % (prefix, width, i)) for i in range(1, count + 1)]
        self.stamp = int(time.time()) - 3600
        for path in self.paths:
            with open(path, "wb"):
                pass
            os.utime(path, (self.stamp, self.stamp))

    def local_stamp(self):
        return time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(self.stamp))


class Process:
    def __init__(self, name, argv, env=None, cwd=None, log=None):
        self.name = name
        self.log = log
        out = open(log, "wb") if log else subprocess.DEVNULL
        self.popen = subprocess.Popen(argv, env=env, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)
        if log:
            out.close()
        self.pid = self.popen.pid

    def alive(self):
        return self.popen.poll() is None

    def output(self):
        if not self.log:
            return ""
        with open(self.log, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_for(self, text, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if text in self.output():
                return True
            if not self.alive():
                break
            time.sleep(0.02)
        raise RuntimeError("%s did not print %r:\n%s" % (self.name, text, self.output()[-2000:]))

    def stop(self):
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGTERM)
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()


class Sentrel:
    """The headless service on a profile of its own."""

    def __init__(self, program, scratch, files, poll=1, watch_events=False, smtp_port=None, to=None):
        self.scratch = scratch
        env = dict(os.environ)
        for key, sub in (
            ("XDG_DATA_HOME", "data"),
            ("XDG_CONFIG_HOME", "config"),
            ("XDG_STATE_HOME", "state"),
            ("XDG_CONFIG_DIRS", "etc-xdg"),
            ("XDG_RUNTIME_DIR", "runtime"),
        ):
            env[key] = os.path.join(scratch, sub)
            os.makedirs(env[key], exist_ok=True)
        os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
        profile = os.path.join(env["XDG_DATA_HOME"], "Brackwell/Utilities/Sentrel v1/Profiles/Profile1")
        os.makedirs(profile, exist_ok=True)
        lines = ["[General]", "NumberFiles=%d" % len(files.paths), "PollInterval=%d" % poll]
        lines.append("WatchEvents=%d" % (1 if watch_events else 0))
        if smtp_port:
            lines += ["[SMTPServer]", "Enabled=1", "Address=127.0.0.1", "Port=%d" % smtp_port]
            lines += ["[Email]", "From=sentrel@example.org", "To=%s" % to]
        else:
            lines += ["[SMTPServer]", "Enabled=0"]
        stamp = files.local_stamp()
        for i, path in enumerate(files.paths, 1):
            lines += ["[File%d]" % i, "FileName=%s" % path, "LastModified=%s" % stamp]
        with open(os.path.join(profile, "Sentrel.ini"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        self.process = Process("sentrel", [program, "/NOPREVCHECK"], env=env, log=os.path.join(scratch, "history.txt"))
        self.process.wait_for("Sentrel started", 30)


class Monit:
    """Monit in the foreground on a control file of its own."""

    def __init__(self, program, scratch, files, smtp_port=None):
        os.makedirs(scratch, exist_ok=True)
        control = os.path.join(scratch, "monitrc")
        lines = ["set daemon 1"]
        for key, name in (("logfile", "monit.log"), ("idfile", "monit.id"), ("statefile", "monit.state"),
                          ("pidfile", "monit.pid")):
            lines.append("set %s %s" % (key, os.path.join(scratch, name)))
        if smtp_port:
            lines += ["set mailserver 127.0.0.1 port %d" % smtp_port, "set alert ops@example.org"]
        for i, path in enumerate(files.paths, 1):
            lines += ["check file f%d with path %s" % (i, path), "    if changed timestamp then alert"]
        with open(control, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.chmod(control, 0o600)
        self.log = os.path.join(scratch, "monit.log")
        self.process = Process("monit", [program, "-I", "-c", control], cwd=scratch, log=os.path.join(scratch, "out.txt"))
        end = time.monotonic() + 30
        while not (os.path.exists(self.log) and " started" in open(self.log, errors="replace").read()):
            if not self.process.alive() or time.monotonic() > end:
                raise RuntimeError("monit did not start:\n" + self.process.output()[-2000:])
            time.sleep(0.02)


def idle_run(args, scratch, count, window, runs):
    """Sentrel, Monit (and with a window the stat() loop) on the same N files."""
    files = Files(os.path.join(scratch, "files"), count)
    with open(os.path.join(scratch, "list.txt"), "w") as f:
        f.write("\n".join(files.paths) + "\n")
    started = []
    try:
        loop = None
        if window:
            loop = Process("stat loop",
                           [args.stat_loop, os.path.join(scratch, "list.txt"), str(START_WAIT), str(window)],
                           log=os.path.join(scratch, "stat_loop.txt"))
            started.append(loop)
        t0 = time.monotonic()
        sentrel = Sentrel(args.program, os.path.join(scratch, "sentrel"), files)
        started.append(sentrel.process)
        monit = Monit(args.monit, os.path.join(scratch, "monit"), files)
        started.append(monit.process)
        subjects = {"Sentrel": sentrel.process.pid, "Monit": monit.process.pid}
        time.sleep(max(0.0, t0 + START_WAIT - time.monotonic()))
        first = {name: (ticks(pid), sleeps(pid), rss_kib(pid), time.monotonic()) for name, pid in subjects.items()}
        result = {"files": count, "load_before": loadavg()}
        for name, pid in subjects.items():
            result[name] = {"rss_kib": first[name][2], "threads": threads(pid)}
        if window:
            time.sleep(max(0.0, t0 + START_WAIT + window - time.monotonic()))
            for name, pid in subjects.items():
                t, s, r, at = ticks(pid), sleeps(pid), rss_kib(pid), time.monotonic()
                seconds = at - first[name][3]
                used = t - first[name][0]
                cycles = s - first[name][1]
                # Check on the count: a cycle starts one interval after the end of
                # the last, so cycles = elapsed / (1 s + cycle time), with the
                # cycle's wall time taken as its CPU time.
                estimate = seconds - used / HZ
                result[name].update(ticks=used, cycles=cycles, estimate=estimate, seconds=seconds, rss_end_kib=r,
                                    ms_per_cycle=1000.0 * used / HZ / cycles if cycles else float("nan"))
            loop.popen.wait(START_WAIT + window + 30)
            fields = dict(item.split("=") for item in loop.output().split())
            used, passes = int(fields["ticks"]), int(fields["passes"])
            result["loop"] = {"ticks": used, "cycles": passes, "seconds": float(fields["seconds"]),
                              "ms_per_cycle": 1000.0 * used / HZ / passes}
        result["load_after"] = loadavg()
        runs.append(result)
        return result
    finally:
        for process in reversed(started):
            process.stop()


class Sinks:
    """Mail servers on loopback ports, one for each watcher, in one thread.

    The time of a message is taken when its DATA has been received, just
    before the server answers that it accepted it.
    """

    def __init__(self, labels):
        self.cond = threading.Condition()
        self.mails = {label: [] for label in labels}
        self.ports = {}
        self.loop = asyncio.new_event_loop()
        ready = threading.Event()
        self.thread = threading.Thread(target=self.run, args=(ready,), daemon=True)
        self.thread.start()
        ready.wait(10)

    def run(self, ready):
        from aiosmtpd.smtp import SMTP

        warnings.simplefilter("ignore")
        import logging

        logging.getLogger("mail.log").setLevel(logging.CRITICAL)
        asyncio.set_event_loop(self.loop)
        sinks = self

        class Handler:
            def __init__(self, label):
                self.label = label

            async def handle_DATA(self, server, session, envelope):
                at = time.monotonic()
                with sinks.cond:
                    sinks.mails[self.label].append((at, envelope.original_content))
                    sinks.cond.notify_all()
                return "250 2.0.0 Message accepted"

        self.servers = []
        for label in self.mails:
            handler = Handler(label)
            server = self.loop.run_until_complete(self.loop.create_server(
                lambda h=handler: SMTP(h, loop=self.loop, hostname="sink.test", timeout=30), host="127.0.0.1", port=0))
            self.servers.append(server)
            self.ports[label] = server.sockets[0].getsockname()[1]
        ready.set()
        self.loop.run_forever()

    def counts(self):
        with self.cond:
            return {label: len(mails) for label, mails in self.mails.items()}

    def wait(self, marks, timeout):
        end = time.monotonic() + timeout
        with self.cond:
            while any(len(self.mails[label]) <= mark for label, mark in marks.items()):
                left = end - time.monotonic()
                if left <= 0:
                    break
                self.cond.wait(left)
            return {label: self.mails[label][mark] if len(self.mails[label]) > mark else None
                    for label, mark in marks.items()}

    def close(self):
        def shut():
            for server in self.servers:
                server.close()
            self.loop.stop()

        self.loop.call_soon_threadsafe(shut)
        self.thread.join(5)


def mail_text(raw):
    message = email.message_from_bytes(raw, policy=email.policy.default)
    parts = [str(message.get("Subject", ""))]
    for part in message.walk():
        if not part.is_multipart():
            payload = part.get_payload(decode=True) or b""
            parts.append(payload.decode("utf-8", "replace"))
    return "\n".join(parts)


def latency_run(args, scratch):
    labels = ["Sentrel poll", "Monit", "Sentrel events"]
    files = Files(os.path.join(scratch, "files"), 10, prefix="latency-")
    sinks = Sinks(labels)
    started = []
    try:
        poll = Sentrel(args.program, os.path.join(scratch, "sentrel-poll"), files, poll=1,
                       smtp_port=sinks.ports["Sentrel poll"], to="poll@example.org")
        started.append(poll.process)
        events = Sentrel(args.program, os.path.join(scratch, "sentrel-events"), files, poll=600, watch_events=True,
                         smtp_port=sinks.ports["Sentrel events"], to="events@example.org")
        started.append(events.process)
        monit = Monit(args.monit, os.path.join(scratch, "monit"), files, smtp_port=sinks.ports["Monit"])
        started.append(monit.process)
        # Past the first cycles (which take the files' times as they are) and
        # Monit's mail that it has started.
        time.sleep(3)
        rng = random.Random(args.seed)
        seen = {label: [] for label in labels}
        missed = {label: 0 for label in labels}
        wrong = {label: 0 for label in labels}
        load_before = loadavg()
        for k in range(args.samples):
            time.sleep(rng.uniform(0.3, 1.3))
            path = files.paths[k % len(files.paths)]  # each file again only after ten others: whole seconds apart
            marks = sinks.counts()
            t0 = time.monotonic()
            with open(path, "ab") as f:
                f.write(b"line %d\n" % k)
            got = sinks.wait(marks, 5.0)
            for label, mail in got.items():
                if mail is None:
                    missed[label] += 1
                    continue
                seen[label].append(1000.0 * (mail[0] - t0))
                if os.path.basename(path) not in mail_text(mail[1]):
                    wrong[label] += 1
        time.sleep(1.5)  # a late second mail for one change would show here
        total = sinks.counts()
        extra = {label: total[label] - marks[label] - (1 if got[label] else 0) for label in labels}
        result = {"samples": args.samples, "load_before": load_before, "load_after": loadavg()}
        for label in labels:
            values = seen[label]
            result[label] = {
                "median_ms": statistics.median(values) if values else float("nan"),
                "max_ms": max(values) if values else float("nan"),
                "min_ms": min(values) if values else float("nan"),
                "missed": missed[label],
                "wrong_file": wrong[label],
                "extra_after_last": extra[label],
                "values": values,
            }
        return result
    finally:
        for process in reversed(started):
            process.stop()
        sinks.close()


def ratio(a, b):
    return "%.2f" % (a / b) if b else "-"


def report(memory, cpu, latency, window, out):
    w = out.write
    w("\n| Measure | Sentrel | Monit | stat() loop | Sentrel / Monit | Sentrel / loop |\n")
    w("|---|---:|---:|---:|---:|---:|\n")
    for run in memory:
        s, m = run["Sentrel"]["rss_kib"], run["Monit"]["rss_kib"]
        w("| Resident memory, %s files, 5 s after start | %.1f MiB | %.1f MiB | | %s | |\n"
          % (format(run["files"], ","), mib(s), mib(m), ratio(s, m)))
    for run in cpu:
        s, m, l = run["Sentrel"], run["Monit"], run["loop"]
        w("| CPU per cycle, %s files, 1 s interval (%d s) | %.2f ms | %.2f ms | %.2f ms | %s | %s |\n"
          % (format(run["files"], ","), window, s["ms_per_cycle"], m["ms_per_cycle"], l["ms_per_cycle"],
             ratio(s["ms_per_cycle"], m["ms_per_cycle"]), ratio(s["ms_per_cycle"], l["ms_per_cycle"])))
    p, m, e = latency["Sentrel poll"], latency["Monit"], latency["Sentrel events"]
    w("| Change to mail, 1 s cycle, median of %d | %.0f ms | %.0f ms | | %s | |\n"
      % (latency["samples"], p["median_ms"], m["median_ms"], ratio(p["median_ms"], m["median_ms"])))
    w("| Change to mail, 1 s cycle, maximum | %.0f ms | %.0f ms | | %s | |\n"
      % (p["max_ms"], m["max_ms"], ratio(p["max_ms"], m["max_ms"])))
    w("| Change to mail, WatchEvents=1, median | %.0f ms | | | | |\n" % e["median_ms"])
    w("| Change to mail, WatchEvents=1, maximum | %.0f ms | | | | |\n" % e["max_ms"])

    w("\nDetails:\n")
    for run in memory:
        w("  %s files (load %s -> %s):\n" % (format(run["files"], ","), run["load_before"], run["load_after"]))
        for name in ("Sentrel", "Monit", "loop"):
            if name not in run:
                continue
            r = run[name]
            pieces = []
            if "rss_kib" in r:
                piece = "VmRSS %d KiB at 5 s" % r["rss_kib"]
                if "rss_end_kib" in r:
                    piece += ", %d KiB at the end" % r["rss_end_kib"]
                pieces.append(piece + ", %d thread(s)" % r["threads"])
            if "ticks" in r:
                piece = "%d ticks of 1/%d s over %.1f s, %d cycles" % (r["ticks"], HZ, r["seconds"], r["cycles"])
                if "estimate" in r:
                    piece += " counted (%.1f from elapsed - CPU time)" % r["estimate"]
                pieces.append(piece)
            w("    %-8s %s\n" % (name, "; ".join(pieces)))
    w("  latency (load %s -> %s):\n" % (latency["load_before"], latency["load_after"]))
    for label in ("Sentrel poll", "Monit", "Sentrel events"):
        r = latency[label]
        w("    %-15s min %.0f, median %.0f, max %.0f ms; missed %d, wrong file %d, extra mails %d\n"
          % (label, r["min_ms"], r["median_ms"], r["max_ms"], r["missed"], r["wrong_file"], r["extra_after_last"]))
        w("      " + " ".join("%.0f" % v for v in r["values"]) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the sentrel-headless executable")
    parser.add_argument("--stat-loop", required=True, help="the compiled stat() loop")
    parser.add_argument("--monit", default=shutil.which("monit") or "/usr/bin/monit")
    parser.add_argument("--window", type=int, default=60, help="seconds of CPU measurement for each file count")
    parser.add_argument("--samples", type=int, default=20, help="changes timed for the latency")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="sentrel-vs-monit-")
    began = time.monotonic()
    try:
        print("%d cores, load %s; scratch %s" % (os.cpu_count(), loadavg(), scratch), flush=True)
        memory, cpu = [], []
        print("resident memory, 10 files ...", flush=True)
        idle_run(args, os.path.join(scratch, "idle-10"), 10, 0, memory)
        for count in (1000, 10000):
            print("memory and CPU, %s files, %d s ..." % (format(count, ","), args.window), flush=True)
            idle_run(args, os.path.join(scratch, "idle-%d" % count), count, args.window, cpu)
        memory += cpu
        print("latency, %d changes ..." % args.samples, flush=True)
        latency = latency_run(args, os.path.join(scratch, "latency"))
        report(memory, cpu, latency, args.window, sys.stdout)
        print("\nwhole run %.0f s" % (time.monotonic() - began))
    finally:
        if args.keep:
            print("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
