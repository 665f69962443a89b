#!/usr/bin/python3
"""Times `nebulite open` / `nebulite save` against the cfitsio peer.

    bench.py NEBULITE CFITSIO_PEER WORKDIR [--runs N] [--only NAME,...]

Writes the inputs into WORKDIR (numpy only), runs each case N times with
each program (every run a new process), checks that both programs produced
the same output, and prints best wall time, peak RSS and minor page faults.

The stretch cases (asinh16, asinhf32) open open16's and openf32's file with
`--stretch asinh --interval zscale --depth 16`: the module measures zscale
in a pass of its own before the rows it hands over. The peer maps the same
file through the same curve between the points nebulite recorded (one
pass, nothing measured). Their cost over the plain open of the same file
is printed below the table.

The savefz16 row (save_fz.py) saves a frame as RICE_1 against fpack instead.
bench/run.sh builds the programs and calls this.
"""

import argparse
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

import save_fz

MIB = 1 << 20


# ---- Inputs ----------------------------------------------------------------------

def fits_header(cards):
    text = "".join(c.ljust(80)[:80] for c in cards + ["END"])
    return (text + " " * (-len(text) % 2880)).encode("ascii")


def value_card(key, value):
    return f"{key:<8}= {value:>20}"


def write_fits(path, data, bitpix, extra=()):
    """data: (planes, rows, columns) or (rows, columns), already in stored form."""
    axes = list(reversed(data.shape))
    cards = [value_card("SIMPLE", "T"), value_card("BITPIX", bitpix), value_card("NAXIS", len(axes))]
    cards += [value_card(f"NAXIS{i + 1}", a) for i, a in enumerate(axes)]
    cards += [value_card(k, v) for k, v in extra]
    body = data.astype({8: "u1", 16: ">i2", -32: ">f4", -64: ">f8"}[bitpix]).tobytes()
    with open(path, "wb") as f:
        f.write(fits_header(cards))
        f.write(body)
        f.write(b"\0" * (-len(body) % 2880))


def write_pgm(path, data, maxval):
    rows, columns = data.shape
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n%d\n" % (columns, rows, maxval))
        f.write(data.astype(">u2" if maxval > 255 else "u1").tobytes())


def smooth(rng, shape, top):
    """A sky-like image: a gradient from 20 % to 70 % of `top` with a few
    percent of noise, so that the values are neither constant nor pure noise."""
    rows, columns = shape[-2], shape[-1]
    y = np.linspace(0.0, 0.2 * top, rows, dtype=np.float32)[:, None]
    x = np.linspace(0.2 * top, 0.5 * top, columns, dtype=np.float32)[None, :]
    spread = max(1, int(0.05 * top))
    img = rng.integers(-spread, spread + 1, shape, dtype=np.int32).astype(np.float32)
    img += x
    img += y
    return np.clip(img, 0.0, top, out=img)


def sky(rng, size):
    """A 16-bit night-sky frame: a background of 1000 with Gaussian noise of
    20 and 2000 stars of 7 x 7 pixels, values as stored (0..65535)."""
    img = 1000.0 + rng.normal(0.0, 20.0, (size, size))
    for y, x, peak in zip(rng.integers(0, size, 2000), rng.integers(0, size, 2000), rng.uniform(1e3, 5e4, 2000)):
        img[max(0, y - 3):y + 4, max(0, x - 3):x + 4] += peak
    return np.clip(img, 0, 65535).astype(np.uint16)


def make_inputs(work, only):
    rng = np.random.default_rng(1)
    made = {}

    def want(name):
        return not only or name in only

    if want("open16") or want("asinh16"):
        p = os.path.join(work, "open16.fits")
        if not os.path.exists(p):
            stored = (smooth(rng, (8192, 8192), 65535.0) - 32768.0).astype(np.int16)
            write_fits(p, stored, 16, [("BZERO", "32768"), ("BSCALE", "1")])
        made["open16"] = p
    if want("open8"):
        p = os.path.join(work, "open8.fits")
        if not os.path.exists(p):
            write_fits(p, smooth(rng, (8192, 8192), 255.0).astype(np.uint8), 8)
        made["open8"] = p
    if want("openrgb8"):
        p = os.path.join(work, "openrgb8.fits")
        if not os.path.exists(p):
            write_fits(p, smooth(rng, (3, 4096, 4096), 255.0).astype(np.uint8), 8)
        made["openrgb8"] = p
    if want("openf32") or want("asinhf32"):
        p = os.path.join(work, "openf32.fits")
        if not os.path.exists(p):
            # No range cards: the module finds the data's own range first.
            img = smooth(rng, (4096, 8192), 1000.0) - np.float32(200.0)
            img[::97, ::89] = np.nan  # undefined samples, left out of the range
            write_fits(p, img, -32)
        made["openf32"] = p
    if want("opengz16"):
        # The 16-bit frame as archives hand it out: gzip, one member.
        p = os.path.join(work, "opengz16.fits.gz")
        if not os.path.exists(p):
            plain = os.path.join(work, "open16.fits")
            if not os.path.exists(plain):
                stored = (smooth(rng, (8192, 8192), 65535.0) - 32768.0).astype(np.int16)
                write_fits(plain, stored, 16, [("BZERO", "32768"), ("BSCALE", "1")])
            with open(plain, "rb") as f, gzip.open(p + ".part", "wb", compresslevel=6) as g:
                shutil.copyfileobj(f, g, 1 << 20)
            os.replace(p + ".part", p)
        made["opengz16"] = p
    if want("openfz16") or want("openfzf32"):
        # Tile-compressed as archives hand them out: fpack's defaults (RICE_1,
        # one tile a row; floats quantized with q = 4 and SUBTRACTIVE_DITHER_1).
        for name, plain_name in (("openfz16", "open16.fits"), ("openfzf32", "openf32.fits")):
            p = os.path.join(work, name + ".fits.fz")
            if not want(name):
                continue
            if not os.path.exists(p):
                plain = os.path.join(work, plain_name)
                if not os.path.exists(plain):
                    make_inputs(work, {plain_name.split(".")[0]})
                subprocess.run(["fpack", "-O", p + ".part", plain], check=True)
                os.replace(p + ".part", p)
            made[name] = p
    if want("openf64"):
        p = os.path.join(work, "openf64.fits")
        if not os.path.exists(p):
            # What astropy writes for a NumPy float array: float64, no range cards.
            img = (smooth(rng, (4096, 8192), 1000.0) - np.float32(200.0)).astype(np.float64)
            img += rng.uniform(0.0, 1e-3, img.shape)
            img[::97, ::89] = np.nan
            write_fits(p, img, -64)
        made["openf64"] = p
    # Into a 32-bit document (--depth 32): the same float files, against a
    # peer that reads them with fits_read_img as TFLOAT.
    if want("openreal"):
        made["openreal"] = made.get("openf32") or make_inputs(work, {"openf32"})["openf32"]
    if want("openfzreal"):
        made["openfzreal"] = made.get("openfzf32") or make_inputs(work, {"openfzf32"})["openfzf32"]
    if want("save16"):
        p = os.path.join(work, "save16.pgm")
        if not os.path.exists(p):
            write_pgm(p, smooth(rng, (8192, 8192), 32768.0).astype(np.uint16), 32768)
        made["save16"] = p
    if want("save8"):
        p = os.path.join(work, "save8.pgm")
        if not os.path.exists(p):
            write_pgm(p, smooth(rng, (8192, 8192), 255.0).astype(np.uint8), 255)
        made["save8"] = p
    if want("png16"):
        # The same frame for nebulite (FITS) and for netpbm's pnmtopng (PGM).
        p = os.path.join(work, "png16.fits")
        if not os.path.exists(p):
            frame = sky(rng, 4096)
            write_pgm(os.path.join(work, "png16.pgm"), frame, 65535)
            write_fits(p, (frame.astype(np.int32) - 32768).astype(np.int16), 16, [("BZERO", "32768"), ("BSCALE", "1")])
        made["png16"] = p
    if want("savefz16"):
        # A generator of its own: the other inputs stay as they were.
        fz_rng = np.random.default_rng(8192)
        made["savefz16"] = save_fz.make_input(os.path.join(work, "savefz16.pgm"), fz_rng, sky, write_pgm)
    return made


# ---- Running -------------------------------------------------------------------------

def run_once(argv, output=None):
    """(wall seconds, peak RSS bytes, minor faults) of one child process.

    `output`, when given, is removed before the clock starts: both programs
    then write a new file. (Replacing a file costs nebulite more on ext4:
    the rename that makes its replace atomic has the file system write the
    new file's blocks out first, which cfitsio's delete-then-create does
    not wait for.)

    Peak RSS comes from /usr/bin/time: Linux carries a process's RSS high
    mark across fork and exec, so a child forked straight from this python
    would report python's size if that were the larger."""
    fd, report = tempfile.mkstemp(prefix="bench-time-")
    os.close(fd)
    if output is not None and os.path.exists(output):
        os.unlink(output)
    try:
        start = time.perf_counter()
        r = subprocess.run(["/usr/bin/time", "-o", report, "-f", "%M %R %U %S", *argv],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        wall = time.perf_counter() - start
        if r.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} exited {r.returncode}: {r.stderr.strip()}")
        with open(report) as f:
            rss_kib, minflt, user, system = f.read().split()[-4:]
    finally:
        os.unlink(report)
    return wall, int(rss_kib) * 1024, int(minflt), float(user) + float(system)


def best_of(argv, runs, output=None):
    results = [run_once(argv, output) for _ in range(runs)]
    wall = min(r[0] for r in results)
    rss = max(r[1] for r in results)
    faults = min(r[2] for r in results)
    cpu = min(r[3] for r in results)
    return wall, rss, faults, cpu


def data_unit(path):
    """The bytes after the primary header (END card, then to the block)."""
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while data[at:at + 8] != b"END     ":
        at += 80
        if at >= len(data):
            raise RuntimeError(f"{path}: no END card")
    start = (at // 2880 + 1) * 2880
    return data[start:]


def thp_mode():
    try:
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as f:
            text = f.read()
        return text[text.index("[") + 1:text.index("]")] + " (the module and the CLI ask for them on large blocks)"
    except (OSError, ValueError):
        return "unknown"


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def read_pgm16(path):
    with open(path, "rb") as f:
        data = f.read()
    head = data.split(b"\n", 3)
    width, height = map(int, head[1].split())
    return np.frombuffer(head[3], dtype=">u2", count=width * height).astype(np.int32)


def stretch_case(args, name, src):
    """nebulite's asinh over zscale against the peer's asinh between the
    points nebulite recorded: (neb, peer, check), None when a run fails."""
    w = args.work
    out_n, out_p = os.path.join(w, f"{name}-nebulite.pgm"), os.path.join(w, f"{name}-peer.pgm")
    record = os.path.join(w, f"{name}.json")
    argv = [args.nebulite, "open", src, out_n, "--stretch", "asinh", "--interval", "zscale", "--depth", "16"]
    r = subprocess.run(argv + ["--record", record], capture_output=True, text=True)
    if r.returncode != 0:
        print(f"{name}: nebulite failed: {r.stderr.strip()}")
        return None
    with open(record) as f:
        items = {i["key"]: i["value"] for i in json.load(f)["items"]}
    black, white = items["nbBk"], items["nbWh"]
    neb = best_of(argv, args.runs, out_n)
    peer = best_of([args.peer, "stretch", src, out_p, repr(black), repr(white)], args.runs, out_p)
    worst = int(np.abs(read_pgm16(out_n) - read_pgm16(out_p)).max())
    check = f"levels within {worst} of the peer's" if worst <= 1 else f"LEVELS DIFFER BY {worst}"
    return neb, peer, check


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("nebulite")
    ap.add_argument("peer")
    ap.add_argument("work")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--only", default="")
    ap.add_argument("--generate", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    only = set(filter(None, args.only.split(",")))
    os.makedirs(args.work, exist_ok=True)
    t0 = time.perf_counter()
    if args.generate:
        make_inputs(args.work, only)
        return 0
    # The inputs are made by a child process: this one stays small.
    subprocess.run([sys.executable, __file__, args.nebulite, args.peer, args.work, "--generate",
                    "--only", args.only], check=True)
    inputs = make_inputs(args.work, only)
    print(f"inputs ready in {time.perf_counter() - t0:.1f} s in {args.work}", flush=True)

    host_sizes = {"open16": 8192 * 8192 * 2, "open8": 8192 * 8192, "openrgb8": 4096 * 4096 * 3,
                  "openf32": 8192 * 4096 * 2, "opengz16": 8192 * 8192 * 2,
                  "openfz16": 8192 * 8192 * 2, "openfzf32": 8192 * 4096 * 2, "openf64": 8192 * 4096 * 2,
                  "openreal": 8192 * 4096 * 4, "openfzreal": 8192 * 4096 * 4,
                  "save16": 8192 * 8192 * 2, "save8": 8192 * 8192}
    shapes = {"open16": "8192x8192 16-bit grey (BZERO 32768)", "open8": "8192x8192 8-bit grey",
              "openrgb8": "4096x4096 8-bit RGB", "openf32": "8192x4096 float32, no range cards",
              "opengz16": "8192x8192 16-bit grey, gzip",
              "openfz16": "8192x8192 16-bit grey, fpack RICE_1", "openfzf32": "8192x4096 float32, fpack q=4",
              "openf64": "8192x4096 float64, no range cards",
              "openreal": "8192x4096 float32 -> 32-bit document", "openfzreal": "8192x4096 f32 fpack q=4 -> 32-bit",
              "save16": "8192x8192 16-bit grey", "save8": "8192x8192 8-bit grey", "png16": "",
              "asinh16": "open16, asinh over zscale", "asinhf32": "openf32, asinh over zscale"}
    host_sizes.update(asinh16=host_sizes["open16"], asinhf32=host_sizes["openf32"])
    rows = []
    failures = 0
    png_rows = []
    plain_runs = {}
    fz_row = None
    for name, src in inputs.items():
        w = args.work
        if name == "savefz16":
            fz_row = save_fz.run_row(args.nebulite, src, w, args.runs, best_of, data_unit)
            print(f"{name}: {'done' if fz_row else 'skipped (fpack or funpack not installed)'}", flush=True)
            continue
        if name == "png16":
            # Writing a 16-bit PNG: nebulite (reading the FITS file first)
            # against pnmtopng (reading the PGM), both through libpng.
            out_n, out_p = os.path.join(w, "png16-nebulite.png"), os.path.join(w, "png16-pnmtopng.png")
            neb = best_of([args.nebulite, "open", src, out_n], args.runs, out_n)
            peer = best_of(["sh", "-c", f"pnmtopng {os.path.join(w, 'png16.pgm')} > {out_p}"], args.runs, out_p)
            png_rows.append((neb, peer, os.path.getsize(out_n), os.path.getsize(out_p)))
            print(f"{name}: done", flush=True)
            continue
        if name in ("openreal", "openfzreal"):
            out_n, out_p = os.path.join(w, f"{name}-nebulite.pfm"), os.path.join(w, f"{name}-peer.pfm")
            neb = best_of([args.nebulite, "open", src, out_n, "--depth", "32"], args.runs, out_n)
            peer = best_of([args.peer, "openreal", src, out_p], args.runs, out_p)
            same = same_file(out_n, out_p)
            check = "identical output" if same else "OUTPUTS DIFFER"
        elif name.startswith("open"):
            ext = "ppm" if "rgb" in name else "pgm"
            out_n, out_p = os.path.join(w, f"{name}-nebulite.{ext}"), os.path.join(w, f"{name}-peer.{ext}")
            neb = best_of([args.nebulite, "open", src, out_n], args.runs, out_n)
            peer = best_of([args.peer, "open", src, out_p], args.runs, out_p)
            same = same_file(out_n, out_p)
            check = "identical output" if same else "OUTPUTS DIFFER"
        else:
            out_n, out_p = os.path.join(w, f"{name}-nebulite.fits"), os.path.join(w, f"{name}-peer.fits")
            neb = best_of([args.nebulite, "save", src, out_n], args.runs, out_n)
            peer = best_of([args.peer, "save", src, out_p], args.runs, out_p)
            same = data_unit(out_n) == data_unit(out_p)
            check = "identical data unit" if same else "DATA UNITS DIFFER"
        failures += 0 if same else 1
        rows.append((name, shapes[name], host_sizes[name], neb, peer, check))
        plain_runs[name] = neb
        print(f"{name}: done ({check})", flush=True)
    stretch_rows = []
    for name, plain in (("asinh16", "open16"), ("asinhf32", "openf32")):
        if (only and name not in only) or plain not in inputs:
            continue
        row = stretch_case(args, name, inputs[plain])
        if row is None:
            failures += 1
            continue
        rows.append((name, shapes[name], host_sizes[name], *row))
        failures += 0 if row[2].startswith("levels") else 1
        if plain in plain_runs:
            stretch_rows.append((name, plain, row[0], plain_runs[plain]))
        print(f"{name}: done ({row[2]})", flush=True)

    print()
    print(f"Best of {args.runs} wall times; peak RSS is the largest of the runs. Every run is a new")
    print("process, so every buffer either program uses is fresh memory (first touch page-faults;")
    print("minflt counts them); inputs are warm in the page cache; outputs go to " + args.work + ",")
    print("each removed before its run, so that both programs write a new file.")
    print("Peak RSS by /usr/bin/time (%M); cpu is user+system (10 ms resolution), the best run's;")
    print("host MiB is the image as the host holds it (8-bit: 1 byte a sample, 16-bit and float: 2,")
    print("a 32-bit document 4; the peer reads those with fits_read_img as TFLOAT and writes the same PFM);")
    print("neb/host and peer/host are peak RSS over it, the whole process included.")
    print(f"Transparent huge pages: {thp_mode()}.")
    print()
    head = (f"{'case':<9} {'image':<36} {'host MiB':>8} | {'nebulite s':>10} {'peer s':>7} {'ratio':>6} | "
            f"{'neb cpu s':>9} {'peer cpu s':>10} | "
            f"{'neb RSS MiB':>11} {'peer RSS MiB':>12} {'neb/host':>8} {'peer/host':>9} | "
            f"{'neb minflt':>10} {'peer minflt':>11} | check")
    if rows:
        print(head)
        print("-" * len(head))
    for name, shape, host, neb, peer, check in rows:
        print(f"{name:<9} {shape:<36} {host / MIB:>8.0f} | {neb[0]:>10.3f} {peer[0]:>7.3f} {neb[0] / peer[0]:>6.2f} | "
              f"{neb[3]:>9.3f} {peer[3]:>10.3f} | "
              f"{neb[1] / MIB:>11.0f} {peer[1] / MIB:>12.0f} {neb[1] / host:>8.2f} {peer[1] / host:>9.2f} | "
              f"{neb[2]:>10} {peer[2]:>11} | {check}")
    if stretch_rows:
        print()
        print("The stretch against the plain open of the same file (nebulite, best wall and cpu):")
    for name, plain, stretched, base in stretch_rows:
        print(f"  {name:<9} {stretched[0]:.3f} s (cpu {stretched[3]:.3f} s) against {plain} {base[0]:.3f} s "
              f"(cpu {base[3]:.3f} s): +{stretched[0] - base[0]:.3f} s wall, {stretched[0] / base[0]:.2f}x")
    for neb, peer, size_n, size_p in png_rows:
        print()
        print("png16: a 4096x4096 16-bit sky frame (noise and stars) written as PNG, best of "
              f"{args.runs}: nebulite open FITS -> PNG against netpbm's pnmtopng PGM -> PNG")
        print(f"  nebulite {neb[0]:.3f} s, {size_n / MIB:.1f} MiB | pnmtopng {peer[0]:.3f} s, {size_p / MIB:.1f} MiB | "
              f"time ratio {neb[0] / peer[0]:.2f}, size ratio {size_n / size_p:.3f}")
    if fz_row and not save_fz.print_row(fz_row, args.runs):
        failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
