"""The emulated PC the vm stage runs dunmore in: its initramfs and its boots.

A Guest is one boot of Debian's kernel in QEMU with the stage's initramfs
(tests/vm/guest-init as /init): its first serial port carries the kernel's
console (kept in console.log), the second is the program's terminal, whose
keys the host types and whose output it keeps, and a virtio port carries the
host's commands (tests/vm/guest-lib.sh) and their answers. QEMU's monitor
unplugs devices.
"""

import os
import re
import shutil
import socket
import stat
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# Every driver the scenarios' disks and the guest's file checks need; each
# is loaded after the modules it depends on.
GUEST_MODULES = [
    "virtio_pci", "virtio_console", "sd_mod", "ata_piix", "ahci", "xhci-pci",
    "usb-storage", "vfat", "nls_cp437", "nls_ascii",
    # For the native suite's loop-device tests: loop devices, and an ext2
    # volume mounted through ext4 with the checksum its module asks for.
    "loop", "ext4", "crc32c_generic",
]


# ---- The initramfs.

def _module_files(root):
    files = {}
    for folder, _, names in os.walk(os.path.join(root, "lib", "modules")):
        for name in names:
            if name.endswith(".ko"):
                files[name[:-3].replace("-", "_")] = os.path.join(folder, name)
    return files


def _module_depends(path):
    """The modules a module names in its .modinfo "depends=" field."""
    with open(path, "rb") as f:
        data = f.read()
    match = re.search(rb"\0depends=([^\0]*)\0", data)
    if not match or not match.group(1):
        return []
    return match.group(1).decode().split(",")


def modules_in_load_order(kernel_root, wanted=GUEST_MODULES):
    """The files of the wanted modules and of those they depend on, each
    after its dependencies. Module names take "-" and "_" alike."""
    files = _module_files(kernel_root)
    order, seen = [], set()

    def visit(name):
        key = name.replace("-", "_")
        if key in seen:
            return
        if key not in files:
            raise RuntimeError(f"the kernel package has no module {name}")
        seen.add(key)
        for dependency in _module_depends(files[key]):
            visit(dependency)
        order.append(files[key])

    for name in wanted:
        visit(name)
    return order


class _Cpio:
    """An archive in the kernel's initramfs format (cpio "newc")."""

    def __init__(self):
        self.data = bytearray()
        self.inode = 1

    def _entry(self, name, mode, body=b"", rdev=(0, 0)):
        name_bytes = name.encode() + b"\0"
        fields = [self.inode, mode, 0, 0, 1, 0, len(body), 0, 0, rdev[0], rdev[1],
                  len(name_bytes), 0]
        self.inode += 1
        self.data += b"070701" + "".join(f"{v:08X}" for v in fields).encode() + name_bytes
        self.data += b"\0" * (-len(self.data) % 4) + body
        self.data += b"\0" * (-len(self.data) % 4)

    def folder(self, name):
        self._entry(name, stat.S_IFDIR | 0o755)

    def file(self, name, body, mode=0o644):
        self._entry(name, stat.S_IFREG | mode, body)

    def char_device(self, name, major, minor):
        self._entry(name, stat.S_IFCHR | 0o600, rdev=(major, minor))

    def finish(self):
        self._entry("TRAILER!!!", 0)
        return bytes(self.data)


def _terminfo_entry(term):
    for base in ("/etc/terminfo", "/lib/terminfo", "/usr/share/terminfo"):
        path = os.path.join(base, term[0], term)
        if os.path.exists(path):
            return path
    raise RuntimeError(f"no terminfo entry for {term}")


def _libraries(program):
    """The shared libraries ldd names for a program, the loader included."""
    out = subprocess.run(["ldd", program], capture_output=True, text=True, check=True).stdout
    return sorted(set(re.findall(r"(/\S+\.so[.\d]*) \(0x", out)))


# The host's tools that the bench (sfdisk, mkfs.fat, and coreutils' dd for
# its O_DIRECT write, called by its path: busybox's shell prefers its own dd)
# and the native suite's loop-device tests (strace for the traced one, flock
# for a lock held on the card by another program: Debian's busybox has no
# flock) run in the guest.
GUEST_TOOLS = ["sfdisk", "mkfs.fat", "fsck.fat", "losetup", "mcopy", "mkfs.ext2", "dd", "strace",
               "flock"]


def build_initramfs(output, kernel_root, dunmore, busybox="/bin/busybox", extra_files=()):
    """extra_files: (path in the guest, file on the host) pairs."""
    archive = _Cpio()
    made = set()

    def add(guest_path, host_path, mode=0o755):
        parts = guest_path.split("/")
        for i in range(1, len(parts)):
            folder = "/".join(parts[:i])
            if folder not in made:
                made.add(folder)
                archive.folder(folder)
        with open(host_path, "rb") as f:
            archive.file(guest_path, f.read(), mode)

    for folder in ("dev", "proc", "sys", "tmp", "mnt"):
        made.add(folder)
        archive.folder(folder)
    # The kernel opens the console for /init before any file system is up.
    archive.char_device("dev/console", 5, 1)
    add("init", os.path.join(HERE, "guest-init"))
    add("guest-lib.sh", os.path.join(HERE, "guest-lib.sh"), 0o644)
    add("bin/busybox", busybox)
    # The shell of popen() and system(): dash, which runs the host's tools
    # named on PATH where busybox's own shell prefers its applets.
    add("bin/sh", "/bin/dash")
    add("bin/dunmore", dunmore)
    # Where the static ncurses looks for its terminal descriptions.
    add("lib/terminfo/x/xterm", _terminfo_entry("xterm"), 0o644)
    libraries = set(_libraries("/bin/dash"))
    for tool in GUEST_TOOLS:
        path = shutil.which(tool, path="/usr/sbin:/sbin:/usr/bin:/bin")
        if path is None:
            raise RuntimeError(f"{tool} is not installed")
        add("usr/sbin/" + tool, path)
        libraries.update(_libraries(path))
    for library in sorted(libraries):
        add(library.lstrip("/"), os.path.realpath(library))
    # mtools converts names through codepage 850 with the C library's iconv.
    libc = os.path.realpath(next(l for l in libraries if "/libc.so" in l))
    gconv = os.path.join(os.path.dirname(libc), "gconv")
    for name in ("gconv-modules", "gconv-modules.d/gconv-modules-extra.conf", "IBM850.so"):
        add(os.path.join(gconv, name).lstrip("/"), os.path.join(gconv, name), 0o644)
    names = []
    for path in modules_in_load_order(kernel_root):
        names.append(os.path.basename(path))
        add("modules/" + names[-1], path, 0o644)
    archive.file("modules.order", ("\n".join(names) + "\n").encode())
    for guest_path, host_path in extra_files:
        add(guest_path.strip("/"), host_path)
    with open(output, "wb") as f:
        f.write(archive.finish())


# ---- One boot.

class GuestError(Exception):
    pass


def _connect(path, deadline):
    while True:
        try:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            s.connect(path)
            return s
        except OSError:
            s.close()
            if time.monotonic() > deadline:
                raise GuestError(f"QEMU never opened {path}")
            time.sleep(0.05)


class Guest:
    """One boot of the emulated PC, with its disks as QEMU arguments."""

    def __init__(self, work, kernel, initrd, accel, disk_args, memory=512, limit=240):
        self.work = work
        os.makedirs(work, exist_ok=True)
        self.sockets = {n: os.path.join(work, n + ".sock") for n in ("term", "control", "monitor")}
        for path in self.sockets.values():
            if os.path.exists(path):
                os.unlink(path)
        self.console_log = os.path.join(work, "console.log")
        command = [
            # The limit ends QEMU even when this script dies first.
            "timeout", "-k", "5", str(limit),
            "qemu-system-x86_64", "-accel", accel, "-machine", "pc", "-m", str(memory),
            "-nodefaults", "-display", "none", "-no-reboot",
            "-kernel", kernel, "-initrd", initrd,
            "-append", "console=ttyS0 panic=-1 quiet",
            "-chardev", f"file,id=console,path={self.console_log}", "-serial", "chardev:console",
            "-chardev", f"socket,id=term,path={self.sockets['term']},server=on,wait=off",
            "-serial", "chardev:term",
            "-device", "virtio-serial-pci",
            "-chardev", f"socket,id=control,path={self.sockets['control']},server=on,wait=off",
            "-device", "virtserialport,chardev=control,name=control",
            "-monitor", f"unix:{self.sockets['monitor']},server=on,wait=off",
        ] + disk_args
        self.qemu_log = open(os.path.join(work, "qemu.log"), "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.qemu_log,
                                        stderr=subprocess.STDOUT)
        self.terminal_output = bytearray()
        self._arrivals = []  # (when, the output's length then)
        self._lock = threading.Lock()
        self._control_buffer = b""
        deadline = time.monotonic() + 10
        try:
            self.term = _connect(self.sockets["term"], deadline)
            self.control = _connect(self.sockets["control"], deadline)
            self.monitor_socket = _connect(self.sockets["monitor"], deadline)
        except GuestError:
            self.close()
            raise GuestError("QEMU did not start: " + self.qemu_output()) from None
        self._reader = threading.Thread(target=self._read_terminal, daemon=True)
        self._reader.start()

    def _read_terminal(self):
        while True:
            try:
                data = self.term.recv(4096)
            except OSError:
                return
            if not data:
                return
            with self._lock:
                self.terminal_output += data
                self._arrivals.append((time.monotonic(), len(self.terminal_output)))

    def qemu_output(self):
        with open(os.path.join(self.work, "qemu.log"), "rb") as f:
            return f.read().decode(errors="replace").strip()

    def console(self):
        try:
            with open(self.console_log, "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def _read_control_line(self, deadline):
        while b"\n" not in self._control_buffer:
            remaining = deadline - time.monotonic()
            if self.process.poll() is not None:
                raise GuestError(f"QEMU ended ({self.qemu_output()[-500:]}); the guest's "
                                 "console said:\n" + self.console()[-2000:])
            if remaining <= 0:
                raise GuestError("the guest did not answer in time; its console said:\n" +
                                 self.console()[-2000:])
            self.control.settimeout(min(remaining, 0.5))
            try:
                data = self.control.recv(4096)
            except socket.timeout:
                continue
            if not data:
                raise GuestError("the guest closed its control port")
            self._control_buffer += data
        line, self._control_buffer = self._control_buffer.split(b"\n", 1)
        return line.decode(errors="replace")

    def wait_ready(self, timeout):
        """The kernel's release once /init serves commands."""
        deadline = time.monotonic() + timeout
        while True:
            line = self._read_control_line(deadline)
            if line.startswith("@@READY "):
                return line.split(" ", 1)[1]

    def run(self, command, timeout=60):
        """A shell command in the guest: (exit code, output)."""
        if "\n" in command:
            raise ValueError("one line a command")
        self.control.sendall(command.encode() + b"\n")
        deadline = time.monotonic() + timeout
        lines = []
        while True:
            line = self._read_control_line(deadline)
            match = re.fullmatch(r"@@END (\d+)", line)
            if match:
                return int(match.group(1)), "\n".join(lines)
            lines.append(line)

    def check(self, command, timeout=60):
        status, output = self.run(command, timeout)
        if status != 0:
            raise GuestError(f"`{command}` failed with {status} in the guest: {output}")
        return output

    def type(self, keys):
        self.term.sendall(keys.encode() if isinstance(keys, str) else keys)

    def terminal_text(self):
        with self._lock:
            return bytes(self.terminal_output)

    def clear_terminal(self):
        """Forgets what the terminal showed so far."""
        with self._lock:
            self.terminal_output.clear()
            self._arrivals.clear()

    def terminal_arrival(self, text, start, timeout):
        """When the terminal output from offset start on first held text
        (the host's monotonic clock), waiting up to timeout seconds."""
        deadline = time.monotonic() + timeout
        needle = text.encode()
        while True:
            with self._lock:
                at = self.terminal_output.find(needle, start)
                if at >= 0:
                    end = at + len(needle)
                    return next(when for when, length in self._arrivals if length >= end)
            if time.monotonic() > deadline:
                raise GuestError(f"{text!r} never reached the terminal")
            time.sleep(0.005)

    def monitor(self, command):
        self.monitor_socket.sendall(command.encode() + b"\n")

    def close(self):
        """Ends the QEMU process this Guest started (its timeout wrapper,
        which passes the signal on), and waits for it."""
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for name in ("term", "control", "monitor_socket"):
            s = getattr(self, name, None)
            if s is not None:
                s.close()
        self.qemu_log.close()

    def power_off(self):
        """Asks the guest to power off and waits for QEMU to end."""
        try:
            self.control.sendall(b"sync; poweroff -f\n")
            self.process.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            pass
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()
