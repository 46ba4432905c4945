"""A handset that speaks as soon as its port is up, on a ttyUSB index opened for the first
time: the tty's default echo must not reach it."""


def run(rig):
    image = "/tmp/first-open.img"
    rig.image(image, records=8)
    for i in range(2):
        handset = rig.plug(serial="EC40000%d" % i).serve("--expect", image)
        tty = handset.tty(raw=False)
        r = rig.cli("flash", image, "--device", tty, "--timeout", "10", timeout=60)
        summary = handset.summary()
        assert r.returncode == 0, (i, r.returncode, r.stdout, r.stderr)
        assert summary["matches_expected"] and summary["protocol_errors"] == [], summary
        rig.unplug_all()
