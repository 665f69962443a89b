"""The savefz16 row of bench.py: an 8192x8192 16-bit sky frame saved as
RICE_1 through the module (`nebulite save FRAME.pgm OUT.fits.fz`, the .fz
name picking Rice, row by row) against fpack (`fpack -r`, row by row too) on
the uncompressed FITS file of the same image, in the same run.

Both start from an uncompressed file of the same size (nebulite from the
PGM, fpack from the module's own uncompressed save of it, made once outside
the clock), so both read the same bytes and compress the same samples.
Reported: best wall and CPU times and their ratio, peak RSS of each against
the image as the host holds it, and the two Rice data units (table and heap,
NAXIS1 x NAXIS2 + PCOUNT). funpack must give back the uncompressed file's
data unit from both .fz files.
"""

import os
import subprocess

import numpy as np

MIB = 1 << 20
SIZE = 8192
HOST_BYTES = SIZE * SIZE * 2


def make_input(path, rng, sky, write_pgm):
    """The frame as a PGM of maxval 32768 (the host's 16-bit range), so that
    the host holds its values as they are."""
    if not os.path.exists(path):
        frame = (sky(rng, SIZE).astype(np.uint32) + 1) // 2
        write_pgm(path, np.minimum(frame, 32768).astype(np.uint16), 32768)
    return path


def _cards(data, at):
    """The header cards from `at` to END, and where the header's blocks end."""
    cards = {}
    while at + 80 <= len(data):
        card = data[at:at + 80].decode("ascii", "replace")
        at += 80
        if card.startswith("END     "):
            break
        if card[8:10] == "= ":
            cards[card[:8].rstrip()] = card[10:].split("/")[0].strip()
    return cards, (at + 2879) // 2880 * 2880


def rice_data_bytes(path):
    """The compressed image's data unit: table rows and heap."""
    with open(path, "rb") as f:
        data = f.read(2880 * 64)
    _, at = _cards(data, 0)  # the primary: NAXIS 0, no data
    table, _ = _cards(data, at)
    if table.get("ZCMPTYPE", "").strip("' ") != "RICE_1":
        raise RuntimeError(f"{path}: not a RICE_1 image ({table.get('ZCMPTYPE')})")
    return int(table["NAXIS1"]) * int(table["NAXIS2"]) + int(table["PCOUNT"])


def _unpacks_to(fz, plain, data_unit, work):
    out = os.path.join(work, "savefz16-funpacked.fits")
    if os.path.exists(out):
        os.unlink(out)
    subprocess.run(["funpack", "-O", out, fz], check=True)
    try:
        return data_unit(out) == data_unit(plain)
    finally:
        os.unlink(out)


def run_row(nebulite, pgm, work, runs, best_of, data_unit):
    """(nebulite, fpack, our data bytes, fpack's, check) or None without fpack."""
    if subprocess.run(["sh", "-c", "command -v fpack && command -v funpack"], stdout=subprocess.DEVNULL).returncode:
        return None
    plain = os.path.join(work, "savefz16-plain.fits")
    if not os.path.exists(plain):
        subprocess.run([nebulite, "save", pgm, plain + ".part.fits"], check=True, stdout=subprocess.DEVNULL)
        os.replace(plain + ".part.fits", plain)
    ours = os.path.join(work, "savefz16-nebulite.fits.fz")
    theirs = os.path.join(work, "savefz16-fpack.fits.fz")
    neb = best_of([nebulite, "save", pgm, ours], runs, ours)
    peer = best_of(["fpack", "-r", "-O", theirs, plain], runs, theirs)
    same = _unpacks_to(ours, plain, data_unit, work) and _unpacks_to(theirs, plain, data_unit, work)
    check = "both funpack to the same data unit" if same else "DATA UNITS DIFFER"
    return neb, peer, rice_data_bytes(ours), rice_data_bytes(theirs), check


def print_row(result, runs):
    neb, peer, ours, fpacks, check = result
    print()
    print(f"savefz16: a {SIZE}x{SIZE} 16-bit sky frame (noise and stars) saved as RICE_1, row by row, best of {runs}:")
    print("  nebulite save FRAME.pgm OUT.fits.fz (module) against fpack -r on the module's uncompressed save")
    print(f"  nebulite {neb[0]:.3f} s (cpu {neb[3]:.3f}) | fpack {peer[0]:.3f} s (cpu {peer[3]:.3f}) | "
          f"time ratio {neb[0] / peer[0]:.2f}")
    print(f"  peak RSS: nebulite {neb[1] / MIB:.0f} MiB ({neb[1] / HOST_BYTES:.2f} x host {HOST_BYTES / MIB:.0f} MiB) | "
          f"fpack {peer[1] / MIB:.0f} MiB ({peer[1] / HOST_BYTES:.2f} x host)")
    print(f"  Rice data unit: nebulite {ours} bytes, fpack {fpacks} bytes, ratio {ours / fpacks:.4f} | {check}")
    return check.startswith("both")
