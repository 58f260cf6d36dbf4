#!/usr/bin/python3
"""Compares how this player and openmpt123 play the tracker test files.

Renders every XM file of a folder (by default the shared tracker test files)
with xm_render and with Debian's openmpt123, both in 16-bit stereo at
44100 Hz with linear interpolation, one pass of at most 60 seconds, and
measures per file:

- the loudness curve (RMS of each 20 ms window) of each side of each render,
  and how ours follows openmpt123's: left with left, right with right and
  both sides together, at no shift and at the best shift of up to 10 windows;
- within each render, how alike its two sides are: the correlation of the
  left and right loudness curves and of the left and right sample values;
- our peak sample and the length of both renders.

Files whose tests play the tracker's own recorded output on one side and the
test on the other ("recording"), files that play the test two ways, one on
each side, which the tracker plays alike ("alike"), and files built to be
silent ("silent") are named in tracker_file_kinds.txt beside this script. The
summary also counts, among the files that do not follow openmpt123, those that
play what they show of the tracker at least as well as openmpt123 does (a
recording or alike file's sides at least as alike, a silent file silent).
The table and the summary go to standard output, progress to standard error. It measures and does not
judge: the exit status is 0 whatever the figures, 1 when a tool is missing,
2 for bad arguments.
"""

import argparse
import concurrent.futures
import fnmatch
import os
import shutil
import subprocess
import sys
import tempfile
import wave

try:
    import numpy as np
except ImportError:
    sys.exit("compare_tracker_files: numpy is missing (apt-get install python3-numpy)")

RATE = 44100
WINDOW_FRAMES = RATE * 20 // 1000
MAX_SHIFT_WINDOWS = 10
# Following openmpt123's loudness means a correlation at least this high.
FOLLOWS = 0.9
# A render whose every sample stays below this is silent.
SILENT_PEAK = 64

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_RENDER = os.path.join(ROOT, "build", "release", "tools", "xm_render")
DEFAULT_FOLDER = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus", "tracker"))
DEFAULT_KINDS = os.path.join(ROOT, "tools", "tracker_file_kinds.txt")
KINDS = ("recording", "alike", "silent")


def progress(text):
    print(text, file=sys.stderr, flush=True)


def fail(text, status=1):
    print(f"compare_tracker_files: {text}", file=sys.stderr)
    sys.exit(status)


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Renders XM test files with xm_render and openmpt123 and compares "
        "their loudness side by side, how alike each render's two sides are, our peaks "
        "and the lengths.",
        epilog="Filters are substrings of the file name (any case) or globs "
        "(e.g. 'ft2_*'); without any, every .xm file of the folder is compared.",
    )
    parser.add_argument("filters", nargs="*", help="file-name substrings or globs")
    parser.add_argument("--render", default=DEFAULT_RENDER,
                        help="the xm_render executable (default: build/release/tools/xm_render)")
    parser.add_argument("--files", metavar="DIR",
                        help="the folder of XM files (default: ../shared/corpus/tracker "
                        "from the project root, skipped when absent)")
    parser.add_argument("--rules", choices=("ft2", "own"),
                        help="the rule set xm_render plays by (passed on when its --help "
                        "mentions --rules)")
    parser.add_argument("--jobs", type=int, default=2, help="renders at once (default 2)")
    parser.add_argument("--out", metavar="DIR",
                        help="keep the WAV files here (NAME.ours.wav, NAME.openmpt.wav)")
    parser.add_argument("--seconds", type=float, default=60.0,
                        help="the longest render, in seconds (default 60)")
    parser.add_argument("--kinds", default=DEFAULT_KINDS,
                        help="the file naming recording, alike and silent files "
                        "(default: tools/tracker_file_kinds.txt)")
    options = parser.parse_args()
    if options.jobs < 1 or options.jobs > 64:
        parser.error(f"--jobs {options.jobs} is not a number from 1 to 64")
    if not 0 < options.seconds <= 600:
        parser.error(f"--seconds {options.seconds:g} is not above 0 and at most 600")
    return options


def read_kinds(path):
    """Maps file names to (kind, reason) from lines 'NAME KIND REASON...'."""
    kinds = {}
    try:
        with open(path, encoding="utf-8") as lines:
            for number, line in enumerate(lines, 1):
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                parts = line.split(None, 2)
                if len(parts) < 2 or parts[1] not in KINDS:
                    fail(f"{path}:{number}: expected 'FILE.xm {'|'.join(KINDS)} REASON'", 2)
                kinds[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
    except OSError as error:
        fail(f"cannot read {path}: {error.strerror}", 2)
    return kinds


def select_files(folder, filters):
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".xm"))
    if not filters:
        return names
    chosen = []
    for name in names:
        for pattern in filters:
            if any(c in pattern for c in "*?["):
                if fnmatch.fnmatch(name, pattern):
                    break
            elif pattern.lower() in name.lower():
                break
        else:
            continue
        chosen.append(name)
    return chosen


def render_help_mentions_rules(render):
    try:
        result = subprocess.run([render, "--help"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as error:
        fail(f"cannot run {render} --help: {error}")
    if result.returncode != 0:
        fail(f"{render} --help failed: {result.stderr.strip()}")
    return "--rules" in result.stdout


def last_line(text):
    lines = [line.strip() for line in text.splitlines() if line.strip()]
    return lines[-1] if lines else "no message"


def render_ours(render, rules_arguments, path, seconds):
    """Our frames (n x 2 int16) of one pass, cut at `seconds`, or a refusal."""
    limit = int(round(seconds * RATE)) * 4
    with tempfile.TemporaryFile() as errors:
        process = subprocess.Popen([render, path, "-o", "-", "--rate", str(RATE)] + rules_arguments,
                                   stdout=subprocess.PIPE, stderr=errors)
        data = process.stdout.read(limit)
        cut = process.poll() is None and len(data) == limit
        if cut:
            # The pass goes on beyond the limit: the rest is not wanted.
            process.kill()
        process.stdout.close()
        status = process.wait()
        if not cut and status != 0:
            errors.seek(0)
            return None, last_line(errors.read().decode(errors="replace"))
    frames = np.frombuffer(data[: len(data) // 4 * 4], dtype="<i2").reshape(-1, 2)
    return frames, None


def render_openmpt(path, wav_path, seconds):
    """openmpt123's frames of one pass, ended at `seconds`, or a refusal."""
    command = ["openmpt123", "--batch", "--no-float", "--samplerate", str(RATE),
               "--channels", "2", "--filter", "2", "--stereo", "100", "--dither", "0",
               "--repeat", "0", "--end-time", f"{seconds:g}", "--force", "-o", wav_path,
               "--", path]
    result = subprocess.run(command, capture_output=True, text=True, errors="replace")
    # openmpt123 reports a file it cannot load on its output but exits with 0.
    said = result.stdout + result.stderr
    complaints = [line for line in said.splitlines() if line.lower().startswith("error")]
    if result.returncode != 0 or complaints:
        return None, (complaints[-1] if complaints else last_line(said))
    try:
        frames = read_wav(wav_path)
    except (OSError, EOFError, wave.Error, ValueError) as error:
        return None, f"no readable output ({error})"
    if len(frames) == 0:
        return None, "no output"
    return frames, None


def read_wav(path):
    with wave.open(path, "rb") as file:
        if file.getnchannels() != 2 or file.getsampwidth() != 2 or file.getframerate() != RATE:
            raise ValueError("not 16-bit stereo at 44100 Hz")
        data = file.readframes(file.getnframes())
    return np.frombuffer(data, dtype="<i2").reshape(-1, 2)


def write_wav(path, frames):
    with wave.open(path, "wb") as file:
        file.setnchannels(2)
        file.setsampwidth(2)
        file.setframerate(RATE)
        file.writeframes(frames.astype("<i2").tobytes())


def loudness(frames):
    """RMS of each whole window: (left, right, both sides together)."""
    count = len(frames) // WINDOW_FRAMES
    windows = frames[: count * WINDOW_FRAMES].astype(np.float64).reshape(count, WINDOW_FRAMES, 2)
    squares = np.mean(windows * windows, axis=1)
    return np.sqrt(squares[:, 0]), np.sqrt(squares[:, 1]), np.sqrt(squares.mean(axis=1))


def correlation(a, b, shift=0):
    """Pearson correlation of a[i] and b[i + shift] where both exist; None
    when either is constant there."""
    first = max(0, -shift)
    last = min(len(a), len(b) - shift)
    if last - first < 2:
        return None
    x = np.asarray(a[first:last], dtype=np.float64)
    y = np.asarray(b[first + shift:last + shift], dtype=np.float64)
    x = x - x.mean()
    y = y - y.mean()
    denominator = np.sqrt(np.dot(x, x) * np.dot(y, y))
    if denominator <= 0.0:
        return None
    return float(np.dot(x, y) / denominator)


def best_correlation(a, b):
    values = [c for s in range(-MAX_SHIFT_WINDOWS, MAX_SHIFT_WINDOWS + 1)
              if (c := correlation(a, b, s)) is not None]
    return max(values) if values else None


def peak(frames):
    return int(np.max(np.abs(frames.astype(np.int32)))) if len(frames) else 0


def side_peaks(frames):
    if not len(frames):
        return 0, 0
    magnitudes = np.abs(frames.astype(np.int32))
    return int(magnitudes[:, 0].max()), int(magnitudes[:, 1].max())


def follows(ours_curve, theirs_curve, ours_peak, theirs_peak, best):
    """Ours follows openmpt123's loudness: correlated, or both silent."""
    if ours_peak < SILENT_PEAK and theirs_peak < SILENT_PEAK:
        return True
    value = best_correlation(ours_curve, theirs_curve) if best else \
        correlation(ours_curve, theirs_curve)
    return value is not None and value >= FOLLOWS


def compare(name, path, options, rules_arguments, out_dir):
    result = {"name": name}
    ours, refusal = render_ours(options.render, rules_arguments, path, options.seconds)
    result["ours_refusal"] = refusal
    theirs, refusal = render_openmpt(path, os.path.join(out_dir, name[:-3] + ".openmpt.wav"),
                                     options.seconds)
    result["openmpt_refusal"] = refusal
    if ours is not None:
        if options.out:
            write_wav(os.path.join(out_dir, name[:-3] + ".ours.wav"), ours)
        result["ours_seconds"] = len(ours) / RATE
        result["peak"] = peak(ours)
        result["ours_lr"] = within(ours)
    if theirs is not None:
        result["openmpt_seconds"] = len(theirs) / RATE
        result["openmpt_lr"] = within(theirs)
    if ours is None or theirs is None:
        return result
    # Likeness over the length both renders have: openmpt123's ends later,
    # with both sides fading out together, which alone would make its sides
    # look alike.
    shared = min(len(ours), len(theirs))
    result["ours_lr"] = within(ours[:shared])
    result["openmpt_lr"] = within(theirs[:shared])
    ours_curves = loudness(ours)
    theirs_curves = loudness(theirs)
    ours_peaks = side_peaks(ours)
    theirs_peaks = side_peaks(theirs)
    result["vs"] = [correlation(a, b) for a, b in zip(ours_curves, theirs_curves)]
    result["vs_best"] = [best_correlation(a, b) for a, b in zip(ours_curves, theirs_curves)]
    both = (max(ours_peaks), max(theirs_peaks))
    peaks = list(zip(ours_peaks, theirs_peaks)) + [both]
    for best, key in ((False, "follows"), (True, "follows_best")):
        result[key] = [follows(a, b, p[0], p[1], best)
                       for a, b, p in zip(ours_curves, theirs_curves, peaks)]
    return result


def within(frames):
    """How alike a render's sides are: (loudness correlation, signal correlation)."""
    left, right, _ = loudness(frames)
    return correlation(left, right), correlation(frames[:, 0], frames[:, 1])


def shown(value, width=6):
    return f"{value:{width}.3f}" if value is not None else f"{'-':>{width}}"


def rounded(value):
    return round(value, 3) if value is not None else None


def at_least_as_alike(result):
    """Ours plays its sides at least as alike as openmpt123's, by loudness and
    by signal, compared as printed (three decimals)."""
    if "ours_lr" not in result or "openmpt_lr" not in result:
        return False
    for ours, theirs in zip(result["ours_lr"], result["openmpt_lr"]):
        ours, theirs = rounded(ours), rounded(theirs)
        if theirs is not None and (ours is None or ours < theirs):
            return False
    return True


def plays_as_the_file_shows(result, kinds):
    """Ours plays what the file shows of the tracker at least as well as
    openmpt123: a recording or alike file's sides at least as alike, a file
    built to be silent silent."""
    kind = kinds.get(result["name"], ("test", ""))[0]
    if kind == "silent":
        return "peak" in result and result["peak"] < SILENT_PEAK
    return kind in ("recording", "alike") and at_least_as_alike(result)


def print_table(results, kinds):
    print(f"{'file':<36} {'kind':<9} {'L vs':>6} {'R vs':>6} {'mono':>6} "
          f"{'best L':>6} {'best R':>6} | {'ours L/R':>8} {'signal':>6} | "
          f"{'mpt L/R':>7} {'signal':>6} | {'peak':>5} {'ours s':>6} {'mpt s':>6}")
    for r in results:
        kind = kinds.get(r["name"], ("test", ""))[0]
        line = f"{r['name']:<36} {kind:<9} "
        if "vs" in r:
            line += " ".join(shown(v) for v in r["vs"]) + " "
            line += " ".join(shown(v) for v in r["vs_best"][:2]) + " | "
        else:
            line += " ".join(f"{'-':>6}" for _ in range(5)) + " | "
        ours_lr = r.get("ours_lr", (None, None))
        theirs_lr = r.get("openmpt_lr", (None, None))
        line += f"{shown(ours_lr[0], 8)} {shown(ours_lr[1])} | "
        line += f"{shown(theirs_lr[0], 7)} {shown(theirs_lr[1])} | "
        line += f"{r['peak']:>5} " if "peak" in r else f"{'-':>5} "
        line += f"{r['ours_seconds']:>6.2f} " if "ours_seconds" in r else f"{'refused':>6} "
        line += f"{r['openmpt_seconds']:>6.2f}" if "openmpt_seconds" in r else f"{'refused':>6}"
        print(line)


def names(results):
    return ", ".join(r["name"] for r in results) if results else "none"


def print_summary(results, kinds, options, rules_text):
    compared = [r for r in results if "vs" in r]
    print()
    print(f"Summary ({len(results)} files, xm_render {rules_text}, "
          f"at most {options.seconds:g} s each):")
    for who, key in (("xm_render", "ours_refusal"), ("openmpt123", "openmpt_refusal")):
        refused = [r for r in results if r[key]]
        print(f"  refused by {who}: {len(refused)}")
        for r in refused:
            print(f"    {r['name']}: {r[key]}")
    print(f"  compared: {len(compared)}")
    print(f"  follow openmpt123's loudness (correlation >= {FOLLOWS}, or both silent):")
    for key, label in (("follows", "at no shift"), ("follows_best", "at the best shift")):
        both_sides = [r for r in compared if r[key][0] and r[key][1]]
        mono = [r for r in compared if r[key][2]]
        print(f"    {label}: both sides {len(both_sides)} of {len(compared)}, "
              f"both sides together {len(mono)} of {len(compared)}")
    behind = [r for r in compared if not (r["follows"][0] and r["follows"][1])]
    print(f"    not both sides at no shift: {names(behind)}")
    # Where openmpt123 itself strays from what a file shows of the tracker,
    # following it would mean straying too: such files are judged by what
    # they show instead.
    judged = [r for r in behind if plays_as_the_file_shows(r, kinds)]
    rest = [r for r in behind if r not in judged]
    print(f"    of those, playing what the file shows of the tracker (its recording, its "
          f"two alike sides, its silence) at least as well as openmpt123: {len(judged)}; "
          f"so {len(compared) - len(rest)} of {len(compared)} either follow or play the file "
          f"as it shows; the rest: {names(rest)}")

    for kind, label in (("recording", "recording on one side"),
                        ("alike", "the test on both sides, to sound alike")):
        files = [r for r in results if kinds.get(r["name"], ("",))[0] == kind]
        alike = [r for r in files if at_least_as_alike(r)]
        unlike = [r for r in files if not at_least_as_alike(r)]
        print(f"  {label}: {len(files)} files; ours at least as alike left/right as "
              f"openmpt123's (loudness and signal): {len(alike)}, not: {len(unlike)}")
        for r in unlike:
            ours_lr = r.get("ours_lr", (None, None))
            theirs_lr = r.get("openmpt_lr", (None, None))
            print(f"    {r['name']}: loudness {shown(ours_lr[0]).strip()} against "
                  f"{shown(theirs_lr[0]).strip()}, signal {shown(ours_lr[1]).strip()} against "
                  f"{shown(theirs_lr[1]).strip()}")

    silent = [r for r in results if kinds.get(r["name"], ("",))[0] == "silent"]
    quiet = [r for r in silent if "peak" in r and r["peak"] < SILENT_PEAK]
    loud = [r for r in silent if r not in quiet]
    print(f"  built to be silent: {len(silent)} files; peak < {SILENT_PEAK}: {len(quiet)}, "
          f"not: {len(loud)}")
    for r in loud:
        print(f"    {r['name']}: peak {r.get('peak', 'refused')}")


def main():
    options = parse_arguments()
    options.render = os.path.abspath(options.render)
    if not (os.path.isfile(options.render) and os.access(options.render, os.X_OK)):
        fail(f"{options.render} is not an executable (build the xm_render target, "
             "or give --render PATH)")
    if shutil.which("openmpt123") is None:
        fail("openmpt123 is not installed (apt-get install openmpt123)")
    folder = options.files or DEFAULT_FOLDER
    if not os.path.isdir(folder):
        if options.files:
            fail(f"{folder} is not a folder", 2)
        progress(f"compare_tracker_files: skipped, no tracker test files at {folder}")
        return 0
    kinds = read_kinds(options.kinds)
    chosen = select_files(folder, options.filters)
    if not chosen:
        fail(f"no .xm file in {folder} matches {' '.join(options.filters) or 'anything'}", 2)
    unknown = sorted(set(kinds) - set(os.listdir(folder)))
    if unknown and not options.filters:
        progress(f"compare_tracker_files: {options.kinds} names files not in {folder}: "
                 + ", ".join(unknown))

    rules_arguments = []
    rules_text = "with its default rules"
    if options.rules:
        if render_help_mentions_rules(options.render):
            rules_arguments = ["--rules", options.rules]
            rules_text = f"--rules {options.rules}"
        else:
            progress(f"compare_tracker_files: {options.render} takes no --rules yet; "
                     "rendering with its default rules")

    if options.out:
        os.makedirs(options.out, exist_ok=True)
        out_dir = options.out
        scratch = None
    else:
        scratch = tempfile.TemporaryDirectory(prefix="compare_tracker_files.")
        out_dir = scratch.name
    progress(f"Rendering {len(chosen)} files from {folder} with {options.render} "
             f"({rules_text}) and openmpt123, {options.jobs} at once ...")
    results = {}
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
            futures = {pool.submit(compare, name, os.path.join(folder, name), options,
                                   rules_arguments, out_dir): name for name in chosen}
            for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
                name = futures[future]
                results[name] = future.result()
                progress(f"[{done}/{len(chosen)}] {name}")
    finally:
        if scratch:
            scratch.cleanup()
    ordered = [results[name] for name in chosen]
    print_table(ordered, kinds)
    print_summary(ordered, kinds, options, rules_text)
    if options.out:
        progress(f"WAV files kept in {options.out}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        fail("interrupted", 130)
