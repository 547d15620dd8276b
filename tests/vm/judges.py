"""The host's judges of a disk image an emulated PC wrote: sfdisk, fsck.fat,
mtools and the committed golden images (tests/golden/*.image)."""

import hashlib
import os
import re
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SECTOR = 512


def create_image(path, cylinders, heads, sectors):
    """A sparse image of exactly C x H x S sectors."""
    with open(path, "wb") as f:
        f.truncate(cylinders * heads * sectors * SECTOR)


def write_table(image, script):
    """An old partition table written by sfdisk, such as "start=2048,size=10000,type=83"."""
    subprocess.run(["sfdisk", "-q", image], input=script.encode(), check=True,
                   stdout=subprocess.DEVNULL)


def partitions(image):
    """The table as sfdisk reads it: [(start, size, type)], type in hex."""
    out = subprocess.run(["sfdisk", "-d", image], capture_output=True, text=True).stdout
    found = []
    for m in re.finditer(r"start=\s*(\d+), size=\s*(\d+), type=(\w+)", out):
        found.append((int(m.group(1)), int(m.group(2)), m.group(3)))
    return found


def data_extents(path):
    """The byte ranges of the file that hold data (SEEK_DATA and SEEK_HOLE)."""
    extents = []
    with open(path, "rb") as f:
        fd, end, at = f.fileno(), os.fstat(f.fileno()).st_size, 0
        while at < end:
            try:
                start = os.lseek(fd, at, os.SEEK_DATA)
            except OSError:
                break
            stop = os.lseek(fd, start, os.SEEK_HOLE)
            extents.append((start, stop))
            at = stop
    return extents


def fingerprint(image):
    """A digest of the size and of every data byte: equal images, equal digests."""
    digest = hashlib.sha256(str(os.path.getsize(image)).encode())
    with open(image, "rb") as f:
        for start, stop in data_extents(image):
            f.seek(start)
            data = f.read(stop - start)
            stripped = data.rstrip(b"\0")
            if stripped:
                digest.update(f"{start}:".encode() + stripped)
    return digest.hexdigest()


def read_sectors(image, lba, count=1):
    with open(image, "rb") as f:
        f.seek(lba * SECTOR)
        return f.read(count * SECTOR)


def extract_volume(image, start, count, volume):
    """The partition's sectors copied out into a sparse file of their own."""
    first, last = start * SECTOR, (start + count) * SECTOR
    with open(image, "rb") as src, open(volume, "wb") as dst:
        dst.truncate(last - first)
        for begin, end in data_extents(image):
            begin, end = max(begin, first), min(end, last)
            if begin >= end:
                continue
            src.seek(begin)
            dst.seek(begin - first)
            dst.write(src.read(end - begin))


def fsck_fat(image, start, count):
    """fsck.fat -n's verdict on the partition: (passed, its output)."""
    volume = image + ".volume"
    extract_volume(image, start, count, volume)
    run = subprocess.run(["fsck.fat", "-n", volume], capture_output=True, text=True)
    os.unlink(volume)
    return run.returncode == 0, (run.stdout + run.stderr).strip()


def zero_blind_fingerprint(image, block=65536):
    """A digest of the size and of every block of 64 KB that holds a byte
    other than zero, at its offset: zeros written into a hole count as the
    hole, as a card does not tell them apart."""
    digest = hashlib.sha256(str(os.path.getsize(image)).encode())
    blocks = sorted({b for start, stop in data_extents(image)
                     for b in range(start // block, (stop + block - 1) // block)})
    with open(image, "rb") as f:
        for b in blocks:
            f.seek(b * block)
            data = f.read(block)
            if data.count(0) != len(data):
                digest.update(f"{b}:".encode() + data)
    return digest.hexdigest()


def mcopy_out(image, name, target):
    """Copies a file out of the FAT volume that fills the image; True when
    it was there."""
    run = subprocess.run(["mcopy", "-n", "-i", image, "::" + name, target], capture_output=True,
                         env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    return run.returncode == 0


def mtools_read(image, start, name):
    """A file of the volume at sector start, read by mtools (None when missing)."""
    run = subprocess.run(["mtype", "-i", f"{image}@@{start * SECTOR}", "::" + name],
                         capture_output=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    return run.stdout.decode(errors="replace") if run.returncode == 0 else None


def mtools_round_trip(image, start):
    """A file copied onto the volume by mtools and read back: equal?"""
    source = image + ".host.txt"
    text = "written by mtools on the host\n" * 40
    with open(source, "w") as f:
        f.write(text)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    copy = subprocess.run(["mcopy", "-i", f"{image}@@{start * SECTOR}", source, "::HOST.TXT"],
                          capture_output=True, env=env)
    return copy.returncode == 0 and mtools_read(image, start, "HOST.TXT") == text


def golden_dump(image):
    """The image as tests/golden/*.image hold it: its size, then every
    16-byte row holding a byte other than zero, as a hex dump."""
    rows = [f"size {os.path.getsize(image)}"]
    with open(image, "rb") as f:
        for start, stop in data_extents(image):
            start -= start % 16
            f.seek(start)
            data = f.read(stop - start)
            for i in range(0, len(data) - 15, 16):
                row = data[i:i + 16]
                if not any(row):
                    continue
                hexes = " ".join(row[j:j + 2].hex() for j in range(0, 16, 2))
                text = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in row)
                rows.append(f"{start + i:012x}: {hexes}  {text}")
    return "\n".join(rows) + "\n"


def matches_golden(image, name):
    with open(os.path.join(ROOT, "tests", "golden", name + ".image")) as f:
        return golden_dump(image) == f.read()


def judge_card(image, kind):
    """One partition of sfdisk's type kind, passed by fsck.fat -n, and a file
    round trip through mtools: what failed, or nothing."""
    table = partitions(image)
    if len(table) != 1 or table[0][2] != kind:
        return [f"sfdisk reads {table}, not one partition of type {kind}"]
    start, count, _ = table[0]
    ok, output = fsck_fat(image, start, count)
    failed = [] if ok else ["fsck.fat -n: " + output]
    return failed + ([] if mtools_round_trip(image, start) else ["the mtools round trip failed"])


if __name__ == "__main__":
    import sys
    # judges.py IMAGE TYPE: the card judged by judge_card, for the shell scripts.
    failures = judge_card(sys.argv[1], sys.argv[2])
    print("\n".join(failures) or f"sfdisk: one partition of type {sys.argv[2]}; fsck.fat -n; "
          "mtools round trip")
    sys.exit(1 if failures else 0)
