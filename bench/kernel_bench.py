#!/usr/bin/env python3
"""The real kernel's figures, measured in the rig's VM (under TCG emulation unless
BRENVIK_KERNEL_KVM=1): a flash through the ipaq tty into handset-sim against a plain copy of
the same bytes through the same gadget pair (a ratio, the median of 5), and the station's
plug-to-run on real hot-plug, from UDC bind to its "started" event, when the port is open
and the PC waits for the handset's first words (median and maximum of 10 plugs).
Usage: kernel_bench.py CLI SIM"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "kernel"))
import kernel_test  # noqa: E402

if __name__ == "__main__":
    sys.argv = [sys.argv[0], "plain", sys.argv[1], sys.argv[2], "kernel_bench"]
    sys.exit(kernel_test.main())
