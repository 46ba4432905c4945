"""Handsets in a sysfs tree laid out as the kernel lays it out, for SYSFS_PATH: the tests,
the station's benchmark and its screenshot plug and unplug them here. No side effects."""
import os
import shutil
import time

HUB = "devices/pci0000:00/0000:00:14.0/usb1"  # the USB devices' folders, named by port


def fake_tty(root, name, driver, usb_id, serial, port, devname=None):
    """A tty as sysfs shows it: the class link, the USB device above it with its ids and
    serial, the driver link; DEVNAME may point at a pty under /dev. The class link comes
    last: from there on the entry is whole."""
    usb = os.path.join(root, HUB, port)
    interface = os.path.join(usb, port + ":1.0")
    device = os.path.join(interface, name) if name.startswith("ttyUSB") else interface
    node = os.path.join(device, "tty", name)
    os.makedirs(node)
    # A device without a serial number has no serial attribute at all, as on the kernel.
    for attribute, value in zip(("idVendor", "idProduct", "serial"), usb_id.split(":") + [serial]):
        if value:
            with open(os.path.join(usb, attribute), "w") as f:
                f.write(value + "\n")
    bus = "usb-serial" if name.startswith("ttyUSB") else "usb"
    driver_dir = os.path.join(root, "bus", bus, "drivers", driver)
    os.makedirs(driver_dir, exist_ok=True)
    os.symlink(os.path.relpath(driver_dir, device), os.path.join(device, "driver"))
    os.symlink(os.path.relpath(device, node), os.path.join(node, "device"))
    with open(os.path.join(node, "uevent"), "w") as f:
        f.write("MAJOR=188\nMINOR=0\nDEVNAME=%s\n" % (devname or name))
    os.makedirs(os.path.join(root, "class/tty"), exist_ok=True)
    os.symlink(os.path.relpath(node, os.path.join(root, "class/tty")), os.path.join(root, "class/tty", name))


def unplug(root, name, port, between=0):
    """In the kernel's order: the USB device's attributes first (its serial before its ids),
    then the tty's class link, then the device's folders. `between` seconds pass after the
    serial and after the ids, for the polls that fall there on a real unplug."""
    usb = os.path.join(root, HUB, port)
    for attributes in (("serial",), ("idVendor", "idProduct")):
        for attribute in attributes:
            if os.path.lexists(os.path.join(usb, attribute)):
                os.unlink(os.path.join(usb, attribute))
        time.sleep(between)
    os.unlink(os.path.join(root, "class/tty", name))
    shutil.rmtree(usb)
