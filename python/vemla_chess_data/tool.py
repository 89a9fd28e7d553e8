"""vemla-dataset: chess games to training shards, from PGN files or self-play.

    vemla-dataset selfplay OUT_DIR [--games N] [--seed S] [--games-per-shard G] [--max-plies P]
    vemla-dataset pgn OUT_DIR INPUT... [filters] [--range-mb M]
    vemla-dataset label DATASET --engine PATH --nodes N [--multipv K] [--name NAME]
    (each with --jobs N or --scheduler local|tcp://HOST:PORT)

Every shard is a folder of memory-mappable .npy files (see the package's
documentation); the same input and settings give the same bytes whatever
runs them. A stopped or killed run is resumed by running the same command
again: finished shards are checked against the checksums in the index and
kept, broken ones are rebuilt. Self-play datasets grow by asking for more
games with the same settings; PGN datasets by adding input files. The label
command adds an engine's analysis of every position beside the shards (see
labels.py), resumed the same way.
"""

import argparse
import glob
import os
import sys
import time

from . import records, shards, sources
from .pool import TaskFailed, check_pool_arguments, open_pool

PGN_SUFFIXES = (".pgn", ".pgn.gz", ".pgn.bz2", ".pgn.xz", ".pgn.zst")
TIME_CLASSES = ("ultrabullet", "bullet", "blitz", "rapid", "classical", "correspondence", "unknown")


def shard_name(number):
    return f"shard-{number:05d}"


# ---- plans: the shards a dataset consists of, fixed by its input and settings --------------------

def selfplay_plan(out_dir, settings, games):
    per = settings["games_per_shard"]
    plan = []
    for number in range(-(-games // per)):
        first, count = number * per, min(per, games - number * per)
        plan.append((shard_name(number), ["selfplay", first, count], sources.selfplay_shard,
                     (out_dir, shard_name(number), settings["seed"], first, count, settings["max_plies"]), count))
    return plan


def selfplay_plan_of(out_dir, settings, games, report):
    """The plan for at least `games` games: a dataset that holds more keeps them."""
    def plan_of(index):
        index["settings_games"] = planned = max(games, index.get("settings_games", 0))
        if planned > games:
            report(f"{out_dir} already holds {planned} games; keeping them all")
        return selfplay_plan(out_dir, settings, planned)
    return plan_of


def expand_inputs(inputs):
    """Paths, globs and folders to a sorted list of PGN files, each once, in the order given."""
    found = []
    for item in inputs:
        if os.path.isdir(item):
            matches = sorted(os.path.join(d, f) for d, _, files in os.walk(item) for f in files
                             if f.lower().endswith(PGN_SUFFIXES))
        elif os.path.exists(item):
            matches = [item]
        else:
            matches = sorted(p for p in glob.glob(item, recursive=True) if os.path.isfile(p))
        if not matches:
            raise shards.DatasetError(f"{item}: no such file, and no PGN file matches it")
        for path in matches:
            path = os.path.abspath(path)
            if path not in found:
                found.append(path)
    return found


def pgn_plan(out_dir, settings, source_list, report=None):
    """One task per byte range of a file's text; the shard's weight is its size
    in bytes (for the progress estimate). A compressed file is cut into the
    same ranges as its text would be, so its size is measured once by
    decompressing it (kept in the index as the source's text_size)."""
    step = settings["range_mb"] << 20
    plan = []
    for index, source in enumerate(source_list):
        path, size = source["path"], source["size"]
        if sources.is_compressed(path):
            if "text_size" not in source:
                if report:
                    report(f"{path}: compressed; measuring its text by decompressing it once")
                source["text_size"] = sources.text_size(path)
            size = source["text_size"]
        for start in range(0, max(size, 1), step):
            end = min(size, start + step)
            name = shard_name(len(plan))
            plan.append((name, ["pgn", index, start, end], sources.pgn_shard,
                         (out_dir, name, index, path, start, end, settings["filters"]), end - start))
    return plan


def task_feed(todo):
    """The (function, args) of the steps to run. The ranges of a compressed
    file get their text as they are handed out, cut here from one pass of its
    decompressor (the workers could not seek in it); then the tasks are a
    generator, which the pools read as they need tasks."""
    tasks = [(step[2], step[3]) for step in todo]
    if not any(function is sources.pgn_shard and sources.is_compressed(args[3]) for function, args in tasks):
        return tasks
    return _stream_tasks(tasks)


def _stream_tasks(tasks):
    reader = None
    try:
        for function, args in tasks:
            if function is sources.pgn_shard and sources.is_compressed(args[3]):
                path, start, end = args[3], args[4], args[5]
                if reader is None or reader.path != path:
                    if reader is not None:
                        reader.close()
                    reader = sources.StreamRanges(path)
                args = (*args, reader.range(start, end))
            yield function, args
    finally:
        if reader is not None:
            reader.close()


# ---- one run ---------------------------------------------------------------------------------------

class Progress:
    """Games, positions, rate and the time left, on standard error: one line
    kept up to date on a terminal, a line per shard otherwise."""

    def __init__(self, shards_total, weight_total, unit, stream=None):
        self.shards_total, self.weight_total, self.unit = shards_total, max(weight_total, 1), unit
        self.shards = self.games = self.positions = self.weight = 0
        self.stream = stream = stream or sys.stderr
        self.tty = stream.isatty()
        self.start = time.perf_counter()

    def line(self):
        elapsed = max(time.perf_counter() - self.start, 1e-9)
        done = self.weight / self.weight_total
        left = elapsed * (1 - done) / done if done > 0 else float("nan")
        amount = (f"{self.weight / 1e6:,.1f} of {self.weight_total / 1e6:,.1f} MB" if self.unit == "bytes"
                  else f"{self.weight:,} of {self.weight_total:,} games")
        eta = f"{left:,.0f} s left" if left == left else "time left unknown"
        return (f"{self.shards}/{self.shards_total} shards, {self.games:,} games, {self.positions:,} positions, "
                f"{self.positions / elapsed:,.0f} positions/s, {amount}, {eta}")

    def shard(self, entry, weight):
        self.shards += 1
        self.games += entry["games"]
        self.positions += entry["positions"]
        self.weight += weight
        if self.tty:
            print("\r" + self.line() + "\033[K", end="", file=self.stream, flush=True)
        else:
            print(f"{entry['name']} written; {self.line()}", file=self.stream, flush=True)

    def close(self):
        if self.tty and self.shards:
            print(file=self.stream)


def prepare_index(out_dir, kind, settings, source_list):
    """The folder's index, created or checked against this run's settings."""
    index = shards.read_index(out_dir)
    if index is None:
        return dict(format=records.FORMAT, kind=kind, settings=settings, sources=source_list, shards={})
    if index.get("format") != records.FORMAT or index.get("kind") != kind or index.get("settings") != settings:
        raise shards.DatasetError(
            f"{out_dir} holds a {index.get('kind')} dataset made with other settings "
            f"({index.get('settings')}); use the same settings to resume or extend it, or another folder")
    recorded = index.get("sources", [])
    # What the index learnt of a file (a compressed file's text_size) stays.
    files = [{key: value for key, value in source.items() if key != "text_size"} for source in recorded]
    if source_list[:len(recorded)] != files:
        raise shards.DatasetError(
            f"{out_dir} was made from other input files (or they changed since: {files}); "
            "give the same files, followed by any new ones, or use another folder")
    index["sources"] = recorded + source_list[len(recorded):]
    return index


def check_existing(out_dir, index, plan, report):
    """Which planned shards are whole; removes broken ones and adopts whole
    shards that a run stopped before recording. Returns the names done."""
    done = set()
    planned = {name: task for name, task, *_ in plan}
    for name in sorted(os.listdir(out_dir)):
        if name.startswith("shard-") and name not in planned:
            report(f"{name} is not part of this dataset's plan; left alone")
    for name, task, *_ in plan:
        entry = index["shards"].get(name)
        found = os.path.isdir(os.path.join(out_dir, name))
        if entry is not None and entry.get("task") != task:
            # A self-play shard that held fewer games before the dataset grew.
            problem = "was made for fewer games"
        elif entry is None and found:
            entry = shards.shard_manifest(out_dir, name)
            problem = "has no readable record of its files" if entry is None else None
            if entry is not None and entry.get("task") != task:
                problem = "was made for another task"
        elif entry is None:
            continue
        else:
            problem = None
        if problem is None:
            problem = shards.check_shard(out_dir, name, entry)
        if problem is None:
            index["shards"][name] = entry
            done.add(name)
            continue
        report(f"{name}: {problem}; it will be rebuilt")
        index["shards"].pop(name, None)
        if found:
            shards.shutil.rmtree(os.path.join(out_dir, name))
    return done


def totals(index):
    rejected = {}
    for entry in index["shards"].values():
        for reason, count in entry.get("rejected", {}).items():
            rejected[reason] = rejected.get(reason, 0) + count
    index["games"] = sum(e["games"] for e in index["shards"].values())
    index["positions"] = sum(e["positions"] for e in index["shards"].values())
    index["rejected"] = dict(sorted(rejected.items()))
    return index


def build(out_dir, kind, settings, source_list, plan_of, pool_factory, report, progress_stream=None,
          on_shard=None):
    """Builds the missing shards of a dataset; returns (index, written, found)."""
    os.makedirs(out_dir, exist_ok=True)
    with shards.FolderLock(out_dir):
        index = prepare_index(out_dir, kind, settings, source_list)
        if shards.remove_temporaries(out_dir):
            report("removed the unfinished files of a run that was stopped")
        plan = plan_of(index)
        done = check_existing(out_dir, index, plan, report)
        if done:
            report(f"resuming: {len(done)} of {len(plan)} shards are already whole")
        shards.write_index(out_dir, totals(index))
        todo = [step for step in plan if step[0] not in done]
        unit = "bytes" if kind == "pgn" else "games"
        progress = Progress(len(todo), sum(step[4] for step in todo), unit, progress_stream)
        written = []
        try:
            with pool_factory() as pool:
                progress.start = time.perf_counter()
                for position, entry in pool.run(_call, task_feed(todo)):
                    name = todo[position][0]
                    index["shards"][name] = entry
                    shards.write_index(out_dir, totals(index))
                    written.append(name)
                    progress.shard(entry, todo[position][4])
                    if on_shard:
                        on_shard(name)
        finally:
            # The pool is closed and its workers ended: what they were writing
            # when the run stopped goes, and so does what a worker that died
            # mid-shard left (its task ran again on another worker).
            shards.remove_temporaries(out_dir)
            progress.close()
        if settings.get("filters", {}).get("dedup"):
            mark_unique(out_dir, index, [step[0] for step in plan], report)
        return index, written, len(done)


def mark_unique(out_dir, index, names, report):
    """Writes unique.npy: one bool per position of the shards in plan order,
    True for the first occurrence of its Polyglot key in the whole dataset.
    Holds every key in memory (about 16 bytes per position)."""
    import numpy as np

    keys = [np.load(os.path.join(out_dir, name, records.POSITIONS_FILE), mmap_mode="r")["key"] for name in names]
    every = np.concatenate(keys) if keys else np.zeros(0, np.uint64)
    unique = np.zeros(len(every), dtype=bool)
    unique[np.unique(every, return_index=True)[1]] = True
    path = os.path.join(out_dir, records.UNIQUE_FILE)
    temporary = f"{path}.{os.getpid()}.tmp"
    with shards.create_file(temporary) as f:
        np.lib.format.write_array(f, unique, allow_pickle=False)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)
    index["unique"] = dict(file=records.UNIQUE_FILE, positions=int(unique.sum()),
                           digest=list(shards.file_digest(path)))
    shards.write_index(out_dir, index)
    report(f"de-duplicated: {int(unique.sum())} of {len(unique)} positions are the first of their key")


def _call(function, args):
    return function(*args)


# ---- the command line ------------------------------------------------------------------------------

def positive(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def non_negative(text):
    value = int(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative")
    return value


def rate(text):
    value = float(text)
    if not 0 < value <= 1:
        raise argparse.ArgumentTypeError("must be in (0, 1]")
    return value


def tag_condition(text):
    name, equals, value = text.partition("=")
    if not equals or not name:
        raise argparse.ArgumentTypeError("expected NAME=VALUE")
    return [name, value]


def time_classes(text):
    chosen = [c.strip() for c in text.split(",") if c.strip()]
    unknown = [c for c in chosen if c not in TIME_CLASSES]
    if unknown or not chosen:
        raise argparse.ArgumentTypeError(f"expected classes among {', '.join(TIME_CLASSES)}")
    return sorted(set(chosen))


class HelpFormatter(argparse.ArgumentDefaultsHelpFormatter):
    """Shows defaults, except those the help text already explains (None)."""

    def _get_help_string(self, action):
        if action.default is None:
            return action.help
        return super()._get_help_string(action)


def add_pool_options(parser):
    group = parser.add_argument_group("where the work runs")
    group.add_argument("--jobs", type=int, metavar="N",
                       help="worker processes on this machine (default: one per core; 1: this process alone)")
    group.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on a Dask cluster: tcp://HOST:PORT, or 'local' for a LocalCluster of --jobs "
                            "workers; the workers must see OUT_DIR and have vemla_chess installed (default: no cluster)")


def parser_for(prog):
    formatter = HelpFormatter
    parser = argparse.ArgumentParser(prog=prog, description=__doc__.split("\n\n")[0], formatter_class=formatter)
    commands = parser.add_subparsers(dest="source", required=True, metavar="SOURCE")

    selfplay = commands.add_parser("selfplay", formatter_class=formatter, help="games of random legal moves",
                                   description="Plays games of uniformly random legal moves from the starting "
                                               "position; game g is a function of the seed and g only.")
    selfplay.add_argument("out_dir", metavar="OUT_DIR", help="the dataset folder (created if missing)")
    add_selfplay_options(selfplay)
    add_pool_options(selfplay)

    pgn = commands.add_parser("pgn", formatter_class=formatter, help="games from PGN files",
                              description="Reads the games of PGN files (plain, .gz, .bz2, .xz, .zst). "
                                          "Their text is split into byte ranges read in parallel, each from "
                                          "the next game start; a compressed file is decompressed here and "
                                          "its ranges handed to the workers.")
    pgn.add_argument("out_dir", metavar="OUT_DIR", help="the dataset folder (created if missing)")
    pgn.add_argument("inputs", metavar="INPUT", nargs="+", help="PGN files, globs or folders (searched for *.pgn*)")
    pgn.add_argument("--range-mb", type=positive, default=16, metavar="M",
                     help="megabytes of PGN text per shard")
    filters = pgn.add_argument_group("filters (games refused are counted by reason in the index)")
    filters.add_argument("--min-elo", type=int, metavar="E", help="minimum rating")
    filters.add_argument("--elo-of", choices=("both", "average"), default="both",
                         help="whether both players or their average must reach --min-elo")
    filters.add_argument("--time-control", type=time_classes, metavar="CLASSES",
                         help=f"comma-separated classes among {', '.join(TIME_CLASSES)} "
                              "(by base + 40 x increment seconds)")
    filters.add_argument("--tag", type=tag_condition, action="append", metavar="NAME=VALUE", default=[],
                         help="keep games whose tag equals the value (repeatable)")
    filters.add_argument("--tag-contains", type=tag_condition, action="append", metavar="NAME=TEXT", default=[],
                         help="keep games whose tag contains the text (repeatable)")
    filters.add_argument("--skip-plies", type=non_negative, default=0, metavar="N",
                         help="positions of the first N plies of each game are not kept")
    filters.add_argument("--sample", type=rate, default=1.0, metavar="RATE",
                         help="keep each position with this probability, drawn from --seed")
    filters.add_argument("--seed", type=int, default=0, help="seed of --sample")
    filters.add_argument("--dedup", action="store_true",
                         help="mark the first occurrence of each position (by Polyglot key) in the whole dataset "
                              "in unique.npy, which the reader follows; keys are held in memory, 16 bytes each")
    add_pool_options(pgn)

    label = commands.add_parser("label", formatter_class=formatter, help="engine analysis of every position",
                                description="Analyses every position of a dataset with a UCI engine (one per "
                                            "worker, one thread each, a node limit) and writes its score, WDL "
                                            "and best move beside the shards, in DATASET/labels/NAME. The same "
                                            "dataset and settings give the same labels on any number of jobs "
                                            "or any cluster.")
    label.add_argument("out_dir", metavar="DATASET", help="the dataset folder to label")
    label.add_argument("--engine", required=True, metavar="PATH",
                       help="the engine's executable, e.g. /usr/games/stockfish (on Dask: its path on the workers)")
    label.add_argument("--nodes", type=positive, required=True, metavar="N", help="nodes searched per position")
    label.add_argument("--multipv", type=positive, default=1, metavar="K", help="lines labelled per position")
    label.add_argument("--name", type=label_name, default="engine",
                       help="the label set, DATASET/labels/NAME; several sets may sit side by side")
    label.add_argument("--hash", type=positive, default=16, metavar="MB", help="the engine's hash table")
    label.add_argument("--option", type=engine_option, action="append", metavar="NAME=VALUE",
                       help="an engine option (repeatable); Threads is always 1")
    label.add_argument("--new-game", choices=("shard", "position"), default="shard",
                       help="a new game (a cleared hash) before each shard, whose positions follow in file "
                            "order, or before each position (slower: labels that depend on the position alone)")
    label.add_argument("--timeout", type=positive_seconds, default=60.0, metavar="S",
                       help="seconds a search may take before the engine counts as hanging (starting it "
                            "may take 30)")
    add_pool_options(label)
    return parser


def label_name(text):
    if not text or text in (".", "..") or "/" in text or "\\" in text or text.startswith("."):
        raise argparse.ArgumentTypeError("must be a plain folder name")
    return text


def engine_option(text):
    name, equals, value = text.partition("=")
    name = name.strip()
    if not equals or not name:
        raise argparse.ArgumentTypeError("expected NAME=VALUE")
    if name.lower() in ("threads", "multipv", "hash"):
        raise argparse.ArgumentTypeError(f"{name} is set by the tool (Threads 1, --multipv, --hash)")
    return [name, value]


def positive_seconds(text):
    value = float(text)
    if not value > 0:
        raise argparse.ArgumentTypeError("must be a positive number of seconds")
    return value


def add_selfplay_options(parser):
    parser.add_argument("--games", type=positive, default=1000,
                        help="games in the dataset (more than it holds extends it)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the games")
    parser.add_argument("--games-per-shard", type=positive, default=100, metavar="G", help="games per shard")
    parser.add_argument("--max-plies", type=non_negative, default=400, metavar="P",
                        help="a game still going after P plies stops unfinished (result '*')")


def run(parser, args, prog):
    check_pool_arguments(parser, args)
    try:
        import numpy  # noqa: F401  the shards are numpy arrays
    except ImportError:
        raise SystemExit(f"{prog} needs numpy, which {sys.executable} cannot import: run it with "
                         "tools/python (Debian's python3; apt-get install python3-numpy), or pip install "
                         "numpy for this interpreter")
    out_dir = args.out_dir

    def report(text):
        print(text, file=sys.stderr, flush=True)

    if args.source == "label":
        from . import labels

        return labels.run(args, report)
    if args.source == "selfplay":
        settings = dict(seed=args.seed, games_per_shard=args.games_per_shard, max_plies=args.max_plies)
        source_list = [{"path": "selfplay"}]

        plan_of = selfplay_plan_of(out_dir, settings, args.games, report)
    else:
        filters = dict(min_elo=args.min_elo, elo_of=args.elo_of, time_classes=args.time_control,
                       tag_equals=args.tag, tag_contains=args.tag_contains, skip_plies=args.skip_plies,
                       sample=args.sample, seed=args.seed, dedup=args.dedup)
        settings = dict(range_mb=args.range_mb, filters=filters)
        source_list = [{"path": p, "size": os.path.getsize(p)} for p in expand_inputs(args.inputs)]

        def plan_of(index):
            return pgn_plan(out_dir, settings, index["sources"], report)

    started = time.perf_counter()
    index, written, found = build(out_dir, args.source, settings, source_list, plan_of,
                                  lambda: open_pool(args.jobs, args.scheduler), report)
    elapsed = time.perf_counter() - started
    new_positions = sum(index["shards"][n]["positions"] for n in written)
    print(f"{len(written)} shards written, {found} already there; the dataset holds {index['games']} games, "
          f"{index['positions']} positions in {out_dir} ({new_positions / max(elapsed, 1e-9):,.0f} positions/s "
          f"written in {elapsed:.1f} s)")
    if index.get("rejected"):
        print("games not kept: " + ", ".join(f"{reason} {count}" for reason, count in index["rejected"].items()))
    return 0


def execute(parser, args, prog):
    """Runs the parsed command; every failure ends it with one line and an exit status."""
    try:
        return run(parser, args, prog)
    except shards.DatasetError as error:
        print(f"{prog}: {error}", file=sys.stderr)
        return 2
    except TaskFailed as error:
        # A shard that could not be written says so alone, without the task.
        text = str(error)
        for marker in ("WriteFailed: ", "LabelFailed: "):
            text = text.split(marker, 1)[1] if marker in text else text
        print(f"{prog}: failed: {text}; the finished shards are kept, run the same command again to go on",
              file=sys.stderr)
        return 1
    except (shards.WriteFailed, OSError) as error:
        text = str(error) if isinstance(error, shards.WriteFailed) else \
            f"cannot write to {args.out_dir}: {error.strerror or error}"
        print(f"{prog}: failed: {text}; the finished shards are kept, run the same command again to go on",
              file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print(f"{prog}: interrupted; the finished shards are kept, run the same command again to go on",
              file=sys.stderr)
        return 130


def main(argv=None, prog="vemla-dataset"):
    # A folder or file name that is not valid in the locale's encoding (bytes
    # that are not UTF-8) is printed escaped, as on standard error, rather
    # than failing the run at its last line.
    if getattr(sys.stdout, "errors", None) == "strict" and hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="backslashreplace")
    parser = parser_for(prog)
    return execute(parser, parser.parse_args(sys.argv[1:] if argv is None else argv), prog)


def selfplay_main(argv=None, prog="selfplay.py"):
    """The self-play source as a command of its own (tools/selfplay.py):
    `prog OUT_DIR [options]` is `vemla-dataset selfplay OUT_DIR [options]`."""
    parser = argparse.ArgumentParser(
        prog=prog, formatter_class=HelpFormatter,
        description="Plays games of uniformly random legal moves from the starting position and writes them "
                    "as a dataset (the same as dataset.py selfplay). Game g is a function of the seed and g "
                    "only, so the same settings give the same files whatever runs them.")
    parser.add_argument("out_dir", metavar="OUT_DIR", help="the dataset folder (created if missing)")
    add_selfplay_options(parser)
    add_pool_options(parser)
    args = parser.parse_args(sys.argv[1:] if argv is None else argv)
    args.source = "selfplay"
    return execute(parser, args, prog)


if __name__ == "__main__":
    sys.exit(main())
