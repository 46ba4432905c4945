#!/usr/bin/env python3
"""The real kernel's figures, measured in the rig's VM (under TCG emulation unless
BRENVIK_KERNEL_KVM=1):
- a flash by brenvik-cli through the ipaq handset's USB interface into handset-sim behind a
  gadget, against a plain copy of the same bytes through the same gadget pair (the host's raw
  ttyUSB to the gadget's raw ttyGS, the reader started first, the exact count read): each
  round on a freshly plugged handset, the ratio's median of 5;
- the station's plug to the PC's first byte on real hot-plug: handset-sim --gadget, its
  acknowledgement already written, from its write to the UDC file (the bind) to its first
  read of the PC's bytes on the gadget's tty, as strace stamps both; median and maximum of
  10 plugs, the station with its default options.
Usage: python3 -m bench.kernel_bench CLI SIM"""
import sys

from tests.kernel import kernel_test

if __name__ == "__main__":
    sys.argv = [sys.argv[0], "plain", sys.argv[1], sys.argv[2], "kernel_bench"]
    sys.exit(kernel_test.main())
