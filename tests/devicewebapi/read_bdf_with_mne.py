#!/usr/bin/env python3
"""Reads a BDF/EDF file with MNE (an EDF reader that shares no code with
EDFlib) and prints what the tests compare as one JSON object:
channel names and units, sampling rate, sample count, the samples of every
channel in the file's physical units, the annotations and the patient fields.
Exit status 77 when MNE is not installed, so the calling test can skip."""
import json
import sys

try:
    import mne
except ImportError:
    sys.exit(77)


def main(path):
    raw = mne.io.read_raw_bdf(path, preload=True, verbose="error") if path.endswith(".bdf") \
        else mne.io.read_raw_edf(path, preload=True, verbose="error")
    # MNE holds volts for "uV" channels; the tests compare the file's own units.
    data = raw.get_data()
    out_channels = []
    for index, name in enumerate(raw.ch_names):
        unit = raw._orig_units.get(name, "") if hasattr(raw, "_orig_units") else ""
        factor = 1e6 if unit in ("uV", "µV") else 1.0
        out_channels.append({
            "name": name,
            "unit": unit,
            "samples": [round(float(v) * factor, 6) for v in data[index]],
        })
    subject = raw.info.get("subject_info") or {}
    birthday = subject.get("birthday")
    result = {
        "sfreq": float(raw.info["sfreq"]),
        "n_times": int(raw.n_times),
        "channels": out_channels,
        "annotations": [{"onset": float(a["onset"]), "description": a["description"]}
                        for a in raw.annotations],
        "meas_date": raw.info["meas_date"].isoformat() if raw.info["meas_date"] else None,
        "subject": {
            "his_id": subject.get("his_id"),
            "sex": int(subject["sex"]) if subject.get("sex") is not None else None,
            "birthday": str(birthday) if birthday is not None else None,
        },
    }
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main(sys.argv[1])
