"""A tiny UCI engine for the engine client's tests, misbehaving on request.

    python3 fake_engine.py MODE

It knows one answer, 1. e4 from the starting position (any position gets
it). MODE says what goes wrong:
  good          nothing
  silent        never answers uci
  exit-at-uci   writes to stderr and exits with status 3 on uci
  exit-on-go    exits with status 1 on go
  killed-on-go  kills itself with SIGKILL on go
  hang-on-go    never answers go
  garbage       answers go with bytes that are not UTF-8, then text that is not UCI, forever
  bad-info      answers go with an info line whose depth is not a number
  illegal-best  answers go with bestmove e2e5
  illegal-pv    gives the pv e2e4 e2e4
  no-best       answers go with bestmove (none)
  long-line     answers go with 2 MiB without a line break
  close-output  closes its output on go but keeps running
  refuse        answers setoption of Hash with "No such option"
  slow          answers go after two seconds
  deaf          ignores quit
  exit-once     exits on the first go of all its runs (state kept in FAKE_STATE)
Every line it reads is appended to the file FAKE_LOG, when that is set.
"""
import os
import signal
import sys
import time

mode = sys.argv[1] if len(sys.argv) > 1 else "good"
log = os.environ.get("FAKE_LOG")


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def hang():
    while True:
        time.sleep(60)


if mode == "deaf":
    # Not even the end of its input stops it.
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
for line in sys.stdin:
    line = line.strip()
    if log:
        with open(log, "a") as f:
            f.write(line + "\n")
    if line == "uci":
        if mode == "silent":
            continue
        if mode == "exit-at-uci":
            sys.stderr.write("fake: cannot start\n")
            sys.exit(3)
        say("fake engine 1.0 by nobody")
        say("id name fake")
        say("id author nobody")
        say("option name Hash type spin default 16 min 1 max 64")
        say("option name Style type combo default Solid var Solid var Risky var Wild Card")
        say("option name Verbose type check default false")
        say("option name Book File type string default <empty>")
        say("option name Clear Hash type button")
        say("option name MultiPV type spin default 1 min 1 max 4")
        say("option name UCI_ShowWDL type check default false")
        say("uciok")
    elif line == "isready":
        say("readyok")
    elif line.startswith("setoption name Hash") and mode == "refuse":
        say("No such option: Hash")
    elif line.startswith("go"):
        if mode in ("exit-on-go", "exit-once"):
            state = os.environ.get("FAKE_STATE")
            if mode == "exit-on-go" or (state and not os.path.exists(state)):
                if state:
                    open(state, "w").close()
                sys.exit(1)
        if mode == "killed-on-go":
            os.kill(os.getpid(), signal.SIGKILL)
        if mode == "slow":
            time.sleep(2)
        if mode == "hang-on-go":
            hang()
        if mode == "close-output":
            os.close(1)
            hang()
        if mode == "garbage":
            sys.stdout.buffer.write(b"\xff\xfe\x80 not text\n")
            while True:
                say("hello there, this is not UCI")
                time.sleep(0.01)
        if mode == "long-line":
            sys.stdout.write("x" * (2 << 20))
            sys.stdout.flush()
            hang()
        pv = "e2e4 e2e4" if mode == "illegal-pv" else "e2e4 e7e5"
        say("info string thinking")
        say(f"info depth 1 seldepth 2 multipv 1 score cp 30 wdl 100 850 50 nodes 20 nps 1000 time 3 pv {pv}")
        if mode == "bad-info":
            say("info depth two score cp 10 pv e2e4")
        say("bestmove " + {"illegal-best": "e2e5", "no-best": "(none)"}.get(mode, "e2e4"))
    elif line == "quit" and mode != "deaf":
        break
if mode == "deaf":
    hang()
