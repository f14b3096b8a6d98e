#!/usr/bin/env python3
"""Reads a BDF/EDF file with MNE (an EDF reader that shares no code with
EDFlib) and prints what the tests compare as one JSON object:
channel names and units, sampling rate, sample count, the samples of the
channels in the file's physical units, the annotations and the patient
fields.

Usage: read_bdf_with_mne.py FILE [PREFIX]
Only channels whose names start with PREFIX carry their samples (all when
it is not given); the others are listed with an empty sample list.
Exit status 77 when MNE is not installed, so the calling test can skip."""
import json
import sys

try:
    import mne
except ImportError:
    sys.exit(77)


def subject_of(raw):
    """The patient fields as MNE read them: code, sex ("M"/"F"), birthday
    (ISO date) and name. Newer MNE puts them into raw.info; older ones
    (Debian's 1.3) keep what they parsed from the header beside it."""
    info = raw.info.get("subject_info") or {}
    if info:
        sex = {1: "M", 2: "F"}.get(info.get("sex"))
        birthday = info.get("birthday")
        name = " ".join(p for p in (info.get("last_name"), info.get("first_name")) if p)
        return {"code": info.get("his_id"), "sex": sex,
                "birthday": birthday.isoformat()[:10] if birthday else None, "name": name or None}
    extras = raw._raw_extras[0].get("subject_info", {}) if getattr(raw, "_raw_extras", None) else {}
    birthday = extras.get("birthday")
    return {"code": extras.get("id"), "sex": extras.get("sex"),
            "birthday": birthday.date().isoformat() if hasattr(birthday, "date") else None,
            "name": extras.get("name")}


def main(path, prefix=""):
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
            "samples": [round(float(v) * factor, 6) for v in data[index]] if name.startswith(prefix) else [],
        })
    result = {
        "sfreq": float(raw.info["sfreq"]),
        "n_times": int(raw.n_times),
        "channels": out_channels,
        "annotations": [{"onset": float(a["onset"]), "description": a["description"]}
                        for a in raw.annotations],
        "meas_date": raw.info["meas_date"].isoformat() if raw.info["meas_date"] else None,
        "subject": subject_of(raw),
    }
    json.dump(result, sys.stdout)


if __name__ == "__main__":
    main(*sys.argv[1:3])
