"""The host's side of the rig: boots Debian's own kernel in qemu with the host's / as the
guest's root (read-only, under a tmpfs overlay), runs the named cases there and brings back
what they wrote. No side effects on the host beyond a temporary folder."""
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

from tests import tools

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
# What the initramfs needs to reach the shares; everything else loads from the 9p share.
INITRAMFS_MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay"]


# systemd as PID 1 boots to this target: the cases run once udev is up, then power off.
RIG_TARGET = """[Unit]
Description=The kernel rig's cases
Requires=basic.target brenvik-rig.service
After=basic.target
AllowIsolate=yes
"""
RIG_SERVICE = """[Unit]
Description=The kernel rig's cases
Wants=systemd-udevd.service systemd-journald.service
After=basic.target systemd-udevd.service systemd-journald.service

[Service]
Type=oneshot
Environment=PYTHONPATH=%s
ExecStart=/usr/bin/python3 -m tests.kernel.guest
StandardOutput=journal+console
SuccessAction=poweroff-immediate
FailureAction=poweroff-immediate
"""


def kernel_dir():
    cache = os.environ.get("BRENVIK_KERNEL_CACHE", "/var/cache/brenvik-kernel")
    root = os.path.join(cache, "current", "root")
    if not os.path.isdir(os.path.join(root, "lib", "modules")) or not glob.glob(root + "/boot/vmlinux-*"):
        sys.exit("no kernel in %s: run scripts/install-deps.sh all first" % cache)
    return root


def module_order(modules_dir, wanted):
    """Each wanted module after the ones it needs, as modules.dep lists them."""
    deps = {}
    with open(os.path.join(modules_dir, "modules.dep")) as f:
        for line in f:
            path, _, needs = line.partition(":")
            deps[os.path.basename(path).split(".ko")[0].replace("-", "_")] = (path, needs.split())
    order = []

    def add(path):
        name = os.path.basename(path).split(".ko")[0].replace("-", "_")
        for need in deps[name][1]:
            add(need)
        if path not in order:
            order.append(path)

    for name in wanted:
        add(deps[name][0])
    return order


def build_initramfs(root, release, folder):
    tree = os.path.join(folder, "initramfs")
    os.makedirs(os.path.join(tree, "bin"))
    os.makedirs(os.path.join(tree, "modules"))
    shutil.copy("/bin/busybox", os.path.join(tree, "bin", "busybox"))
    shutil.copy(os.path.join(HERE, "init.sh"), os.path.join(tree, "init"))
    os.chmod(os.path.join(tree, "init"), 0o755)
    modules_dir = os.path.join(root, "lib", "modules", release)
    order = module_order(modules_dir, INITRAMFS_MODULES)
    for path in order:
        shutil.copy(os.path.join(modules_dir, path), os.path.join(tree, "modules", os.path.basename(path)))
    with open(os.path.join(tree, "modules.order"), "w") as f:
        f.write("\n".join(os.path.basename(p) for p in order) + "\n")
    image = os.path.join(folder, "initramfs.cpio")
    files = subprocess.run(["find", "."], cwd=tree, capture_output=True, text=True, check=True).stdout
    with open(image, "wb") as out:
        subprocess.run(["/bin/busybox", "cpio", "-o", "-H", "newc"], cwd=tree, input=files.encode(),
                       stdout=out, stderr=subprocess.DEVNULL, check=True)
    return image


def boot(config, timeout):
    """Boots once, runs config["cases"] in the guest and returns (results, console text).
    results is what the guest wrote to results.json, or None when it wrote nothing."""
    tools.need("qemu-system-x86_64", "qemu-system-x86", SystemExit)
    root = kernel_dir()
    release = os.listdir(os.path.join(root, "lib", "modules"))[0]
    folder = tempfile.mkdtemp(prefix="brenvik-kernel-")
    try:
        results = os.path.join(folder, "results")
        os.makedirs(results)
        config = dict(config, release=release, rig=HERE)
        with open(os.path.join(results, "config.json"), "w") as f:
            json.dump(config, f)
        with open(os.path.join(results, "init"), "w") as f:
            f.write("/lib/systemd/systemd" if config.get("systemd") else
                    "/usr/bin/env PYTHONPATH=%s /usr/bin/python3 -m tests.kernel.guest" % ROOT)
        if config.get("systemd"):
            units = os.path.join(results, "units")
            os.makedirs(units)
            with open(os.path.join(units, "brenvik-rig.target"), "w") as f:
                f.write(RIG_TARGET)
            with open(os.path.join(units, "brenvik-rig.service"), "w") as f:
                f.write(RIG_SERVICE % ROOT)
        accel = "kvm" if os.environ.get("BRENVIK_KERNEL_KVM") == "1" else "tcg"
        command = [
            "qemu-system-x86_64", "-machine", "pc,accel=" + accel] + (["-cpu", "host"] if accel == "kvm" else []) + [
            "-m", "1536", "-smp", "2", "-nographic", "-no-reboot", "-nodefaults", "-serial", "stdio",
            "-kernel", os.path.join(root, "boot", "vmlinux-" + release),
            "-initrd", build_initramfs(root, release, folder),
            "-append", "console=ttyS0 panic=-1 quiet loglevel=2 rdinit=/init systemd.show_status=0"
                       " systemd.unit=brenvik-rig.target",
            "-virtfs", "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap",
            "-virtfs", "local,path=%s,mount_tag=modules,security_model=none,readonly=on"
                       % os.path.join(root, "lib", "modules"),
            "-virtfs", "local,path=%s,mount_tag=results,security_model=none" % results,
        ]
        try:
            run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
            console = run.stdout.decode(errors="replace")
        except subprocess.TimeoutExpired as e:
            console = (e.stdout or b"").decode(errors="replace") + "\nrig: the VM did not power off in %d s" % timeout
        try:
            with open(os.path.join(results, "results.json")) as f:
                return json.load(f), console
        except (OSError, ValueError):
            return None, console
    finally:
        shutil.rmtree(folder, ignore_errors=True)
