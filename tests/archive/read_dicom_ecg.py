#!/usr/bin/env python3
"""Reads a DICOM ECG file with pydicom (a reader that shares no code with
DCMTK) and prints what the tests check, as JSON: the SOP class, patient and
equipment fields, each channel's label, code and resolution, the sampling
rate, the samples in microvolts and the annotations.

Exit status 77 when pydicom or numpy is not installed."""

import json
import sys

try:
    import numpy
    import pydicom
except ImportError:
    sys.exit(77)


def text(value):
    return "" if value is None else str(value)


def versions(value):
    if value is None:
        return []
    return [text(value)] if isinstance(value, str) else [text(v) for v in value]


def main(path):
    ds = pydicom.dcmread(path)
    group = ds.WaveformSequence[0]
    channels = int(group.NumberOfWaveformChannels)
    samples = int(group.NumberOfWaveformSamples)
    raw = numpy.frombuffer(group.WaveformData, dtype="<i2").reshape(samples, channels)
    leads = []
    for index, definition in enumerate(group.ChannelDefinitionSequence):
        source = definition.ChannelSourceSequence[0]
        sensitivity = float(definition.ChannelSensitivity)
        factor = float(definition.ChannelSensitivityCorrectionFactor)
        baseline = float(definition.ChannelBaseline)
        leads.append({
            "label": text(definition.get("ChannelLabel")),
            "code": text(source.CodeValue),
            "scheme": text(source.CodingSchemeDesignator),
            "meaning": text(source.CodeMeaning),
            "unit": text(definition.ChannelSensitivityUnitsSequence[0].CodeValue),
            "resolution": sensitivity * factor,
            "filterHigh": float(definition.FilterHighFrequency) if "FilterHighFrequency" in definition else None,
            "microvolts": [round(float(v) * sensitivity * factor + baseline, 3) for v in raw[:, index]],
        })
    annotations = []
    for item in ds.get("WaveformAnnotationSequence", []):
        entry = {}
        if "UnformattedTextValue" in item:
            entry["text"] = text(item.UnformattedTextValue)
        if "ConceptNameCodeSequence" in item:
            entry["concept"] = text(item.ConceptNameCodeSequence[0].CodeMeaning)
            entry["value"] = float(item.NumericValue)
            entry["unit"] = text(item.MeasurementUnitsCodeSequence[0].CodeValue)
        annotations.append(entry)
    name = ds.PatientName
    print(json.dumps({
        "sopClass": text(ds.SOPClassUID),
        "sopInstance": text(ds.SOPInstanceUID),
        "studyInstance": text(ds.StudyInstanceUID),
        "characterSet": text(ds.SpecificCharacterSet),
        "patientName": {"family": name.family_name, "given": name.given_name, "middle": name.middle_name},
        "patientId": text(ds.PatientID),
        "patientSex": text(ds.PatientSex),
        "birthDate": text(ds.PatientBirthDate),
        "modality": text(ds.Modality),
        "model": text(ds.get("ManufacturerModelName")),
        "serialNumber": text(ds.get("DeviceSerialNumber")),
        "softwareVersions": versions(ds.get("SoftwareVersions")),
        "acquisitionDateTime": text(ds.get("AcquisitionDateTime")),
        "originality": text(group.WaveformOriginality),
        "samplingFrequency": float(group.SamplingFrequency),
        "samples": samples,
        "leads": leads,
        "annotations": annotations,
    }, ensure_ascii=False))


if __name__ == "__main__":
    main(sys.argv[1])
