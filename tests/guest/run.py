#!/usr/bin/env python3
"""The programs on Linux's real serial drivers, in an emulated machine (QEMU, software emulation).

Builds a small initramfs (busybox, the statically linked programs, a probe helper, the USB
modules), boots the machine with a 16550 UART and an FTDI USB-serial adapter whose far ends are
sockets played here, and carries out what the guest's init script asks for: bytes and XON/XOFF
from the far end, the adapter pulled out and put back. Each check is printed; the exit status is
1 when any failed or did not run.

usage: run.py STATIC_BIN_DIR
"""

import glob
import hashlib
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
XON, XOFF = b"\x11", b"\x13"
EXPECTED_CHECKS = [
    "uart_announces", "uart_line_settings", "uart_dtr_rts_on_while_held",
    "uart_exclusive_for_others", "uart_second_receiver_refused", "uart_captures_5000_bytes",
    "uart_ctrl_c_ends_receiver", "uart_dtr_rts_dropped_when_released",
    "uart_free_for_others_after_ctrl_c", "uart_options_in_the_registers",
    "uart_captures_at_7e2_115200", "uart_rate_it_cannot_make_is_refused",
    "uart_sender_reports_held_records",
    "uart_held_records_never_arrive", "uart_records_after_xon_arrive", "usb_adapter_appears",
    "usb_captures_before_the_pull", "usb_pull_is_said", "usb_no_busy_loop_while_pulled",
    "usb_pull_said_once", "usb_taken_back_and_announced_again",
    "usb_comes_back_under_its_old_name", "usb_capture_is_exactly_before_and_after",
    "list_shows_the_real_ports", "usb_sender_reports_what_it_could_not_send",
]
RECORDS = [f"rec{i}\n".encode() + b"\0" for i in range(1, 7)]


def line_safe(count, seed):
    """Bytes without XON and XOFF, which a XON/XOFF line takes as flow control."""
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < count:
        byte = rng.randrange(256)
        if byte not in (0x11, 0x13):
            out.append(byte)
    return bytes(out)


def kernel_and_modules():
    kernels = sorted(glob.glob("/boot/vmlinuz-*"))
    if not kernels:
        sys.exit("no kernel in /boot (package linux-image-amd64)")
    kernel = kernels[-1]
    version = os.path.basename(kernel)[len("vmlinuz-"):]
    modules = []
    for name in MODULES:
        found = glob.glob(f"/lib/modules/{version}/kernel/drivers/usb/**/{name}.ko", recursive=True)
        if not found:
            sys.exit(f"module {name} not found for {version}")
        modules.append((name, found[0]))
    return kernel, modules


def build_initramfs(work, static_bin, modules):
    root = os.path.join(work, "root")
    for folder in ("bin", "lib/modules", "proc", "sys", "dev", "tmp"):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
    shutil.copy("/bin/busybox", os.path.join(root, "bin/busybox"))
    for program in ("zentavol", "zentavol-send"):
        shutil.copy(os.path.join(static_bin, program), os.path.join(root, "bin", program))
    subprocess.run(["g++", "-std=c++20", "-O2", "-static", "-o", os.path.join(root, "bin/probe"),
                    os.path.join(HERE, "probe.cpp")], check=True)
    shutil.copy(os.path.join(HERE, "init.sh"), os.path.join(root, "init"))
    os.chmod(os.path.join(root, "init"), 0o755)
    for name, path in modules:
        shutil.copy(path, os.path.join(root, "lib/modules", name + ".ko"))
    initrd = os.path.join(work, "initrd.cpio")
    files = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
    with open(initrd, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=files, stdout=out,
                       check=True)
    return initrd


def connect(path, timeout=10):
    deadline = time.monotonic() + timeout
    while True:
        try:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.connect(path)
            return sock
        except OSError:
            sock.close()
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


class FarEnd:
    """One line's far end: everything that arrives is kept, in order."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()
        self.received = bytearray()
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        while True:
            try:
                data = self.sock.recv(65536)
            except OSError:
                return
            if not data:
                return
            with self.lock:
                self.received += data

    def take(self):
        with self.lock:
            data = bytes(self.received)
            self.received.clear()
            return data

    def wait_for(self, data, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                if data in self.received:
                    return True
            time.sleep(0.005)
        return False

    def send(self, data):
        self.sock.sendall(data)


class Qmp:
    def __init__(self, path):
        self.file = connect(path).makefile("rw")
        self._read()  # greeting
        self.command("qmp_capabilities")

    def _read(self):
        return json.loads(self.file.readline())

    def command(self, name, wait_event=None, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        answered, seen = False, wait_event is None
        while not (answered and seen):
            message = self._read()
            answered = answered or "return" in message or "error" in message
            if "error" in message:
                raise RuntimeError(f"{name}: {message['error']}")
            seen = seen or message.get("event") == wait_event


def start_machine(kernel, initrd, append, memory_mib, sock, console_log, adapter=True):
    """The emulated machine both guest tiers boot: console on ttyS0, a 16550 far end on ttyS1,
    the control line on ttyS2, an xHCI controller with the FTDI adapter's far end (plugged in at
    power-on or not), and QMP for plugging."""
    return subprocess.Popen([
        "qemu-system-x86_64", "-M", "pc", "-m", str(memory_mib), "-nodefaults",
        "-no-user-config", "-display", "none", "-no-reboot", "-accel", "tcg", "-cpu", "max",
        "-kernel", kernel, "-initrd", initrd, "-append", append,
        "-chardev", f"file,id=con,path={console_log}", "-serial", "chardev:con",
        "-chardev", f"socket,id=uart,path={sock['uart']},server=on,wait=off",
        "-serial", "chardev:uart",
        "-chardev", f"socket,id=ctl,path={sock['ctl']},server=on,wait=off",
        "-serial", "chardev:ctl",
        "-device", "qemu-xhci,id=xhci",
        "-chardev", f"socket,id=usb,path={sock['usb']},server=on,wait=off",
        *(["-device", adapter] if adapter else []),
        "-qmp", f"unix:{sock['qmp']},server=on,wait=off",
    ], stdin=subprocess.DEVNULL)


def report(results, expected, tier, started, work):
    """One line a check, the tier's time, and the guest's console when a check failed; gives
    the exit status. The work folder goes."""
    failed = False
    for name in expected:
        verdict, detail = results.get(name, ("MISSING", "the check did not run"))
        failed = failed or verdict != "PASS"
        print(f"{verdict:7s} {name}" + (f"  ({detail})" if verdict != "PASS" else ""))
    print(f"{tier}: {time.monotonic() - started:.1f} s")
    if failed:
        log = os.path.join(work, "console.log")
        if os.path.exists(log):
            print("---- guest console ----")
            print(open(log, errors="replace").read()[-6000:])
    shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


def main():
    static_bin = sys.argv[1]
    started = time.monotonic()
    kernel, modules = kernel_and_modules()
    work = tempfile.mkdtemp(prefix="zentavol-guest-")
    results = {}
    qemu = None
    try:
        initrd = build_initramfs(work, static_bin, modules)
        sock = {name: os.path.join(work, name) for name in ("uart", "ctl", "usb", "qmp")}
        console_log = os.path.join(work, "console.log")
        qemu = start_machine(kernel, initrd, "console=ttyS0 panic=-1 quiet", 256, sock,
                             console_log, "usb-serial,id=ser0,bus=xhci.0,chardev=usb")
        uart = FarEnd(connect(sock["uart"]))
        usb = FarEnd(connect(sock["usb"]))
        qmp = Qmp(sock["qmp"])
        control = connect(sock["ctl"])
        control.settimeout(60)
        lines = control.makefile("rwb")
        usb_sent = b""

        def reply(text=""):
            lines.write(f"OK {text}\n".encode())
            lines.flush()

        def hold_after_first_record(hold_ms):
            if uart.wait_for(RECORDS[0], 10):
                uart.send(XOFF)
                time.sleep(hold_ms / 1000)
                uart.send(XON)

        def unplug_later(delay_ms):
            time.sleep(delay_ms / 1000)
            unplug_qmp.command("device_del", wait_event="DEVICE_DELETED", id="ser0")

        unplug_qmp = None
        while True:
            raw = lines.readline()
            if not raw:
                break
            line = raw.decode(errors="replace").rstrip("\r\n")
            words = line.split()
            if not words:
                continue
            if words[0] == "CHECK":
                results[words[1]] = (words[2], " ".join(words[3:]))
            elif words[0] == "NOTE":
                print(line)
            elif words[0] == "DONE":
                break
            elif words[0] == "ASK":
                action, args = words[1], words[2:]
                if action == "send1":
                    data = line_safe(int(args[0]), 1)
                    uart.send(data)
                    reply(hashlib.sha256(data).hexdigest())
                elif action == "send7":
                    # Seven-bit bytes, for a line of 7 data bits.
                    count = int(args[0])
                    data = bytes(b for b in (x & 0x7F for x in line_safe(2 * count, 7))
                                 if b not in (0x11, 0x13))[:count]
                    uart.send(data)
                    reply(hashlib.sha256(data).hexdigest())
                elif action == "hold1":
                    uart.take()
                    threading.Thread(target=hold_after_first_record, args=(int(args[0]),),
                                     daemon=True).start()
                    reply()
                elif action == "arrived1":
                    time.sleep(0.3)
                    arrived = uart.take()
                    failed = int(args[0])
                    # The first record, then the ones after the XON; never the held ones.
                    expected = RECORDS[0] + b"".join(RECORDS[1 + failed:])
                    held = [r for r in RECORDS[1:1 + failed] if r in arrived]
                    results["uart_held_records_never_arrive"] = (
                        "PASS" if not held else "FAIL", f"held records arrived: {held}")
                    # A hold of 2.5 s cannot have let every record through.
                    results["uart_records_after_xon_arrive"] = (
                        "PASS" if failed >= 1 and arrived == expected else "FAIL",
                        f"{failed} failed; arrived {arrived!r}, expected {expected!r}")
                    reply()
                elif action == "sendusb":
                    data = line_safe(int(args[0]), args[1])
                    usb_sent += data
                    usb.send(data)
                    reply(hashlib.sha256(usb_sent).hexdigest())
                elif action == "unplug":
                    qmp.command("device_del", wait_event="DEVICE_DELETED", id="ser0")
                    reply()
                elif action == "plug":
                    qmp.command("device_add", driver="usb-serial", id="ser0", bus="xhci.0",
                                chardev="usb")
                    reply()
                elif action == "unplug-later":
                    unplug_qmp = qmp
                    threading.Thread(target=unplug_later, args=(int(args[0]),),
                                     daemon=True).start()
                    reply()
                else:
                    reply("unknown")
        qemu.wait(timeout=60)
    except Exception as error:  # reported as a failed run, with the guest's console below
        print(f"guest run failed: {error!r}")
    finally:
        if qemu and qemu.poll() is None:
            qemu.kill()
            qemu.wait()
    return report(results, EXPECTED_CHECKS, "guest tier", started, work)


if __name__ == "__main__":
    sys.exit(main())
