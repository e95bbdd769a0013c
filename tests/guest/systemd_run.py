#!/usr/bin/env python3
"""The capture service under a real systemd, in an emulated machine (QEMU, software emulation).

A minimal Debian with systemd as PID 1 and udev, built once with mmdebstrap from Debian's archive
and kept outside the clone (ZENTAVOL_GUEST_CACHE, /var/cache/zentavol-tests by default), boots
from an initramfs with a 16550 UART and an FTDI USB-serial adapter whose far ends this script
plays. The first boot installs the Debian package made from the native build and runs the
service as an administrator would; the second boots with the unit enabled and no adapter, which
is plugged in later. Prints one line a check, and the build and boot times.
usage: systemd_run.py NATIVE_BUILD_DIR
"""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import FarEnd, Qmp, connect, line_safe, report, start_machine  # noqa: E402  (the busybox machine's helpers)

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.environ.get("ZENTAVOL_GUEST_CACHE", "/var/cache/zentavol-tests")
ROOTFS = os.path.join(CACHE, "debian-bookworm-systemd.tar.zst")
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
ADAPTER = dict(driver="usb-serial", id="ser0", bus="xhci.0", chardev="usb", serial="ZT0001",
               port="1")
FIRST_CHECKS = [
    "deb_installs", "units_enabled_and_active", "conf_options_reach_the_line",
    "uart_bytes_in_its_file", "usb_bytes_in_its_file", "usb_replug_taken_back",
    "usb_replug_same_service_no_restart", "usb_capture_goes_on_after_replug",
    "usr1_rotation_splits_with_nothing_lost", "usr1_new_file_holds_what_came_after",
    "journal_has_the_messages", "security_exposure_at_most_3", "stop_is_clean_within_2s",
    "by_id_instance_captures_into_its_escaped_folder",
]
SECOND_CHECKS = [
    "booted_without_the_adapter", "unit_waits_for_its_port",
    "late_adapter_captured_without_restart", "late_adapter_same_service",
]


def cached_rootfs():
    """The Debian root, built on the first run and kept for the next ones."""
    if os.path.exists(ROOTFS):
        return 0.0
    os.makedirs(CACHE, exist_ok=True)
    started = time.monotonic()
    sources = "/etc/apt/sources.list.d/debian.sources"
    if not os.path.exists(sources):
        sources = "/etc/apt/sources.list"
    partial = ROOTFS + ".partial"
    # The merged-usr hook keeps usrmerge (and with it perl) out: 107 MB instead of 178 MB.
    subprocess.run([
        "mmdebstrap", "--variant=essential", "--include=systemd-sysv,udev,kmod,libstdc++6",
        "--hook-dir=/usr/share/mmdebstrap/hooks/merged-usr",
        "--dpkgopt=path-exclude=/usr/share/man/*", "--dpkgopt=path-exclude=/usr/share/doc/*",
        "--dpkgopt=path-exclude=/usr/share/locale/*", "--format=tar", "bookworm", partial,
        sources], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["zstd", "-q", "-T0", "--rm", "-f", partial, "-o", ROOTFS], check=True)
    return time.monotonic() - started


def kernel():
    kernels = sorted(glob.glob("/boot/vmlinuz-*"))
    if not kernels:
        sys.exit("no kernel in /boot (package linux-image-amd64)")
    return kernels[-1], os.path.basename(kernels[-1])[len("vmlinuz-"):]


def make_deb(build, work):
    out = os.path.join(work, "deb")
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-G", "DEB",
                    "-B", out], check=True, stdout=subprocess.DEVNULL)
    return glob.glob(os.path.join(out, "*.deb"))[0]


def prepare_root(work, version, deb):
    root = os.path.join(work, "root")
    os.makedirs(root)
    subprocess.run(["tar", "--zstd", "-xf", ROOTFS, "-C", root], check=True)
    # The USB modules of the guest's kernel, where modprobe and udev look for them.
    modules = f"/lib/modules/{version}"
    for name in MODULES:
        found = glob.glob(f"{modules}/kernel/**/{name}.ko*", recursive=True)
        if not found:
            sys.exit(f"module {name} not found for {version}")
        target = os.path.join(root, os.path.relpath(found[0], "/").replace("lib/", "usr/lib/", 1))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(found[0], target)
    for extra in ("modules.builtin", "modules.builtin.modinfo", "modules.order"):
        shutil.copy(f"{modules}/{extra}", os.path.join(root, "usr", modules.lstrip("/"), extra))
    subprocess.run(["depmod", "-b", os.path.join(root, "usr"), version], check=True)
    shutil.copy(deb, os.path.join(root, "root/zentavol.deb"))
    # The test, started by systemd once the machine is up.
    shutil.copy(os.path.join(HERE, "systemd_scenario.sh"), os.path.join(root, "root/scenario"))
    os.chmod(os.path.join(root, "root/scenario"), 0o755)
    units = os.path.join(root, "etc/systemd/system")
    with open(os.path.join(units, "zentavol-test.service"), "w") as f:
        f.write("[Unit]\nDescription=zentavol service test\nAfter=multi-user.target\n"
                "[Service]\nType=simple\nExecStart=/root/scenario\n"
                "[Install]\nWantedBy=multi-user.target\n")
    os.makedirs(os.path.join(units, "multi-user.target.wants"), exist_ok=True)
    os.symlink("../zentavol-test.service",
               os.path.join(units, "multi-user.target.wants/zentavol-test.service"))
    # What a headless machine does not need: about half of userspace's boot time.
    for unit in ("getty@.service", "serial-getty@.service", "systemd-update-utmp.service",
                 "systemd-update-utmp-runlevel.service", "timers.target",
                 "systemd-tmpfiles-clean.timer", "e2scrub_reap.service"):
        os.symlink("/dev/null", os.path.join(units, unit))
    return root


def pack(root, work, name):
    initrd = os.path.join(work, name)
    files = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
    with open(initrd, "wb") as out:
        subprocess.run(["cpio", "-o", "-H", "newc", "--quiet"], cwd=root, input=files, stdout=out,
                       check=True)
    return initrd


def boot(work, kernel_path, initrd, adapter_at_boot, results):
    """Boots once and answers the guest's requests until it is done; gives the seconds."""
    sock = {name: os.path.join(work, name) for name in ("uart", "ctl", "usb", "qmp")}
    for path in sock.values():
        if os.path.exists(path):
            os.remove(path)
    console_log = os.path.join(work, "console.log")
    adapter = "usb-serial," + ",".join(f"{k}={v}" for k, v in ADAPTER.items() if k != "driver")
    started = time.monotonic()
    qemu = start_machine(kernel_path, initrd,
                         "console=ttyS0 rdinit=/lib/systemd/systemd panic=-1 quiet "
                         "systemd.show_status=0", 768, sock, console_log,
                         adapter if adapter_at_boot else None)
    try:
        uart = FarEnd(connect(sock["uart"]))
        usb = FarEnd(connect(sock["usb"]))
        qmp = Qmp(sock["qmp"])
        control = connect(sock["ctl"])
        control.settimeout(120)
        lines = control.makefile("rwb")
        sent = {"uart": b"", "usb": b""}
        ready_at = None
        while True:
            raw = lines.readline()
            if not raw:
                break
            words = raw.decode(errors="replace").rstrip("\r\n").split()
            if not words:
                continue
            if words[0] == "READY":
                ready_at = time.monotonic() - started
            elif words[0] == "CHECK":
                results[words[1]] = (words[2], " ".join(words[3:]))
            elif words[0] == "NOTE":
                print(" ".join(words))
            elif words[0] == "DONE":
                break
            elif words[0] == "ASK":
                action, args = words[1], words[2:]
                answer = ""
                if action in ("senduart", "sendusb"):
                    line = action[4:]
                    data = line_safe(int(args[0]), args[1] + line)
                    sent[line] += data
                    (uart if line == "uart" else usb).send(data)
                    answer = (hashlib.sha256(sent[line]).hexdigest() + " " +
                              hashlib.sha256(data).hexdigest())
                elif action == "unplug":
                    qmp.command("device_del", wait_event="DEVICE_DELETED", id="ser0")
                elif action == "plug":
                    qmp.command("device_add", **ADAPTER)
                lines.write(f"OK {answer}\n".encode())
                lines.flush()
        qemu.wait(timeout=60)
    finally:
        if qemu.poll() is None:
            qemu.kill()
            qemu.wait()
    return ready_at, time.monotonic() - started


def main():
    build = sys.argv[1]
    if os.geteuid() != 0:
        print("the systemd machine's root needs root to build: skipped")
        return 0
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="zentavol-systemd-")
    results = {}
    try:
        built = cached_rootfs()
        print(f"Debian root: {'built in %.1f s' % built if built else 'from the cache'}, "
              f"{os.path.getsize(ROOTFS) / 1e6:.0f} MB compressed")
        kernel_path, version = kernel()
        deb = make_deb(build, work)
        root = prepare_root(work, version, deb)
        with open(os.path.join(root, "etc/zentavol-test-boot"), "w") as f:
            f.write("first\n")
        first = boot(work, kernel_path, pack(root, work, "first.cpio"), True, results)
        print(f"first boot: test running after {first[0] or 0:.1f} s, whole run {first[1]:.1f} s")
        # The second machine: the package installed and the unit enabled before it boots.
        subprocess.run(["dpkg", "--root", root, "--force-script-chrootless", "-i", deb],
                       check=True, stdout=subprocess.DEVNULL)
        wants = os.path.join(root, "etc/systemd/system/multi-user.target.wants")
        os.symlink("/usr/lib/systemd/system/zentavol@.service",
                   os.path.join(wants, "zentavol@ttyUSB0.service"))
        with open(os.path.join(root, "etc/zentavol-test-boot"), "w") as f:
            f.write("second\n")
        second = boot(work, kernel_path, pack(root, work, "second.cpio"), False, results)
        print(f"second boot: test running after {second[0] or 0:.1f} s, whole run "
              f"{second[1]:.1f} s")
    except Exception as error:  # reported as a failed run, with the guest's console below
        print(f"systemd guest run failed: {error!r}")
    return report(results, FIRST_CHECKS + SECOND_CHECKS, "systemd tier", started, work)


if __name__ == "__main__":
    sys.exit(main())
