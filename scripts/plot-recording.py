#!/usr/bin/env python3
"""Plots a signal recording (BDF+/EDF+) with MNE's reader into a PNG: the
ECG leads of a stretch of the file, stacked, with its annotations marked.

    /usr/bin/python3 scripts/plot-recording.py recording.bdf out.png [start_s] [seconds]

Needs Debian's python3-mne and python3-matplotlib (scripts/setup.sh)."""
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import mne


def main(path, out, start=0.0, seconds=6.0):
    raw = mne.io.read_raw_bdf(path, preload=True, verbose="error")
    picks = [name for name in raw.ch_names if name.startswith("ECG")]
    sfreq = raw.info["sfreq"]
    first = int(start * sfreq)
    last = min(raw.n_times, first + int(seconds * sfreq))
    data, times = raw.get_data(picks=picks, start=first, stop=last, return_times=True)
    fig, axes = plt.subplots(len(picks), 1, sharex=True, figsize=(11, 1.1 * len(picks) + 1))
    for axis, name, values in zip(axes, picks, data):
        axis.plot(times, values * 1e3, linewidth=0.8, color="#1a5fb4")  # V → mV
        axis.set_ylabel(name, rotation=0, ha="right", va="center")
        axis.spines[["top", "right"]].set_visible(False)
        for annotation in raw.annotations:
            if times[0] <= annotation["onset"] <= times[-1]:
                axis.axvline(annotation["onset"], color="#d33", linewidth=1)
    for annotation in raw.annotations:
        if times[0] <= annotation["onset"] <= times[-1]:
            axes[0].annotate(annotation["description"], (annotation["onset"], 1.05),
                             xycoords=("data", "axes fraction"), color="#d33", fontsize=8)
    axes[-1].set_xlabel(f"s   ({sfreq:g} samples/s, mV; read with MNE {mne.__version__})")
    fig.suptitle(path.rsplit("/", 1)[-1])
    fig.tight_layout()
    fig.savefig(out, dpi=90)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], *(float(a) for a in sys.argv[3:5]))
