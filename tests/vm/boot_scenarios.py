"""The card written with --boot started by the emulated PC's own BIOS.

Each scenario writes a card image with the native dunmore on the host (in a
pseudo-terminal, "1", "2", "Y"), then boots QEMU from it with no kernel:
SeaBIOS on an IDE disk of the card's geometry with QEMU's bios-chs-trans
set to one BIOS translation, its console on the first serial port
(SeaBIOS's sercon). The card must start to our boot sector's message, and
a key must hand the boot back to the BIOS (INT 18h). Then a test system
sector (system_sector.asm, in place of our boot code, the BPB kept)
stands in for a system and reports on the serial port, SeaBIOS's console
off, the drive number and the BPB's heads and sectors it booted with;
they must equal the BIOS's own geometry.
"""
import os
import pty
import select
import struct
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SECTOR = 512
MESSAGE = b"This card holds no operating system yet."


class BootFailed(Exception):
    pass


def write_card(build, image, geometry, options, work):
    """dunmore --geometry ... [options] image in a pseudo-terminal: the whole
    card written; returns its standard error."""
    dump = os.path.join(work, "screen")
    err_path = os.path.join(work, "stderr")
    argv = [os.path.join(build, "dunmore"), "--geometry", geometry, "--clock", "1000000000",
            *options, image]
    import fcntl
    import termios
    pid, fd = pty.fork()
    if pid == 0:
        # The terminal's size is set before the program starts: set by the
        # parent, it could come after the program looked at it.
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
        err = os.open(err_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.dup2(err, 2)
        env = dict(os.environ, TERM="xterm", DUNMORE_SCREEN_DUMP=dump)
        os.execve(argv[0], argv, env)

    def dump_number():
        try:
            with open(dump) as f:
                return int(f.readline().split()[1])
        except (OSError, ValueError, IndexError):
            return 0

    def drain_until(condition, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if condition():
                return True
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                try:
                    os.read(fd, 65536)
                except OSError:
                    return condition()
        return condition()

    seen = 0
    for key in ("", "1", "\r", "2", "\r", "y", "\r"):
        if key:
            os.write(fd, key.encode())
        if not drain_until(lambda: dump_number() > seen, 120):
            os.kill(pid, 9)
            raise BootFailed(f"dunmore did not wait for a key after {key!r}")
        seen = dump_number()
    os.write(fd, b"\x1b")
    drain_until(lambda: False, 0.5)
    _, status = os.waitpid(pid, 0)
    os.close(fd)
    with open(err_path) as f:
        err = f.read()
    if os.waitstatus_to_exitcode(status) != 0:
        raise BootFailed(f"dunmore ended with {os.waitstatus_to_exitcode(status)}: {err}")
    return err


def boot_pc(image, geometry, translation, work, until, key_after=None, timeout=60,
            console=True):
    """SeaBIOS starts the card; returns the serial output once `until`
    appears (a key typed once key_after has appeared). Without console,
    SeaBIOS keeps off the serial port, which is then the booted code's
    alone: SeaBIOS's console sends what it has still to show ("Booting
    from Hard Disk...") when it next gets the chance, inside a disk call
    of the booted code."""
    c, h, s = geometry.split("x")
    port = os.path.join(work, "sercon-port")
    with open(port, "wb") as f:
        f.write(struct.pack("<H", 0x3F8))  # SeaBIOS reads the port as a binary integer
    sercon = ["-fw_cfg", f"name=etc/sercon-port,file={port}"] if console else []
    qemu = subprocess.Popen(
        ["qemu-system-x86_64", "-machine", "pc", "-accel", "tcg", "-m", "32", "-display", "none",
         "-vga", "none", "-net", "none", "-monitor", "none", "-serial", "stdio", "-no-reboot",
         *sercon,
         "-drive", f"file={image},format=raw,if=none,id=card",
         "-device", f"ide-hd,drive=card,cyls={c},heads={h},secs={s},bios-chs-trans={translation}",
         "-device", "isa-debug-exit,iobase=0xf4"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    done = until if callable(until) else (lambda out: until in out)
    output = b""
    typed = False
    end = time.monotonic() + timeout
    try:
        while time.monotonic() < end and not done(output):
            ready, _, _ = select.select([qemu.stdout], [], [], 0.2)
            if ready:
                chunk = os.read(qemu.stdout.fileno(), 4096)
                if not chunk:
                    break
                output += chunk
            if key_after and not typed and key_after in output:
                qemu.stdin.write(b"\r")
                qemu.stdin.flush()
                typed = True
    finally:
        qemu.kill()
        qemu.wait()
    if not done(output):
        raise BootFailed(f"not the end awaited from the PC; it said: "
                         f"{output.decode(errors='replace')[-400:]!r}")
    return output.decode(errors="replace")


def put_system_sector(image, work):
    """The test system sector in the FAT boot sector's code area, as a
    system's SYS would put its own; the BPB and the jump's target kept."""
    with open(image, "rb") as f:
        mbr = f.read(SECTOR)
        first = struct.unpack_from("<I", mbr, 446 + 8)[0]
        f.seek(first * SECTOR)
        boot = bytearray(f.read(SECTOR))
    offset = boot[1] + 2
    code_path = os.path.join(work, "system_sector.bin")
    subprocess.run(["nasm", "-f", "bin", f"-DCODE_OFFSET={offset:#x}", "-o", code_path,
                    os.path.join(HERE, "system_sector.asm")], check=True)
    with open(code_path, "rb") as f:
        code = f.read()
    boot[offset:offset + len(code)] = code
    with open(image, "r+b") as f:
        f.seek(first * SECTOR)
        f.write(boot)


def boot_scenario(geometry, options, translation, heads, sectors):
    """A card of `geometry` written with --boot and `options`, started by a
    BIOS of `translation`, which presents `heads` x `sectors`."""
    def run(stage):
        work = os.path.join(stage.work, "boot-" + translation)
        os.makedirs(work)
        image = os.path.join(work, "card.img")
        c, h, s = (int(v) for v in geometry.split("x"))
        with open(image, "wb") as f:
            f.truncate(c * h * s * SECTOR)
        note = write_card(stage.args.build, image, geometry, ["--boot", *options], work)
        if "finished with boot code" not in note:
            raise BootFailed(f"no note of the finishing step: {note!r}")
        said = boot_pc(image, geometry, translation, work, b"No bootable device",
                       key_after=MESSAGE)
        put_system_sector(image, work)
        report = boot_pc(image, geometry, translation, work,
                         lambda out: b"booted:" in out and out.endswith(b"\n"), console=False)
        line = report[report.index("booted:"):].splitlines()[0].strip()
        want = f"booted: dl=80 bpb={heads}x{sectors} bios={heads}x{sectors} entry=80"
        if line != want:
            raise BootFailed(f"the system sector said {line!r}, not {want!r}")
        return (f"{geometry} with {' '.join(['--boot', *options])}, bios-chs-trans={translation}: "
                f"our message, a key gave the boot back to the BIOS; {line}")
    return run


SCENARIOS = [
    # LBA-assist on an 8 GB card: 255 heads, where the system's own
    # translation has 256.
    ("8-boot-lba", boot_scenario("16383x16x63", ["--bios", "lba"], "lba", 255, 63)),
    ("8-boot-normal", boot_scenario("980x16x63", ["--bios", "normal"], "none", 16, 63)),
    # Bit-shift: the system's own translation, 1000 x 64 x 63, is the BIOS's.
    ("8-boot-large", boot_scenario("4000x16x63", [], "large", 64, 63)),
]
