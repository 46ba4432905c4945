"""What the pty sweeps share: their images, and one flash through brenvik-cli into a
handset-sim of its own on a new pty."""
import os
import struct
import subprocess
import time

BOOT = 0x20000
BOUND = 20  # seconds one faulted run may take, all waits included


def pattern(n, seed):
    return (bytes(range(256)) * (n // 256 + 1))[seed % 256:][:n]


def stream(records):
    body = b"".join(struct.pack("<III", a, len(d), sum(d) & 0xFFFFFFFF) + d for a, d in records)
    return b"B000FF\n" + struct.pack("<II", 0x80001000, len(body)) + body + struct.pack("<III", 0, 0x80001000, 0)


def flash(cli, sim, tmp, tag, image, sim_args, cli_args, timeout, capture=False):
    """handset-sim with `sim_args`, then `brenvik-cli flash --timeout TIMEOUT` with `cli_args`
    into it. Returns (the CLI's completed process, the seconds it took, handset-sim's exit code);
    with `capture`, the CLI's output as text."""
    path_file = os.path.join(tmp, "pty-" + tag)
    proc = subprocess.Popen([sim, "--path-file", path_file, *sim_args],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(1000):
            if os.path.exists(path_file) and os.path.getsize(path_file):
                break
            time.sleep(0.005)
        with open(path_file) as f:
            device = f.read().split()[0]
        output = subprocess.PIPE if capture else subprocess.DEVNULL
        start = time.monotonic()
        r = subprocess.run([cli, "flash", "--device", device, "--timeout", timeout, *cli_args, image],
                           stdout=output, stderr=output, text=True, timeout=BOUND * 3)
        took = time.monotonic() - start
        sim_code = proc.wait(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return r, took, sim_code
