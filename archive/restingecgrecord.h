#pragma once

#include "archive/ecgleadset.h"

#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// A point in local time with its offset from UTC, as an archive file tells it.
struct EcgDateTime
{
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int microsecond = 0;
    int utcOffsetMinutes = 0;
};

struct EcgPatient
{
    std::string id;
    std::string surname;
    std::string name;
    std::string patronymic;
    // 'M', 'F', 'O' (other/unknown, given as such) or 0 for not given.
    char sex = 0;
    struct Date
    {
        int year;
        int month;
        int day;
    };
    std::optional<Date> birthDate;
};

// The recorder as the equipment that acquired the ECG.
struct EcgEquipment
{
    std::string manufacturer;
    std::string model;
    std::string serialNumber;
    // Firmware and hardware versions of the recorder, then this service's.
    std::vector<std::string> softwareVersions;
    std::string stationName;
    std::string institutionName;
};

// The filters the stored samples went through, in Hz; none when unknown.
struct EcgFilters
{
    std::optional<double> lowHz;
    std::optional<double> highHz;
    std::optional<double> notchHz;
};

// Everything a resting ECG file says: who, when, with what, and the leads.
// Plain data, so that the file can be written and checked without the
// service around it.
struct RestingEcgRecord
{
    EcgPatient patient;
    EcgEquipment equipment;
    EcgDateTime acquired;
    bool twelveLead = false;
    std::vector<EcgLead> leads;
    // One vector per lead, all equally long, in microvolts.
    std::vector<std::vector<double>> samples;
    int sampleRate = 0;
    // The recorder's own rate; differs from sampleRate when the file holds
    // the samples resampled to a rate the file type allows.
    int recorderRate = 0;
    EcgFilters filters;
    // Mean heart rate over the span, and the beats it comes from (sample
    // indices at sampleRate); both empty where no beats were detected.
    std::optional<double> heartRateBpm;
    std::vector<long> beatSamples;
    std::string studyUid;
    std::string seriesUid;
    std::string instanceUid;
};

} // namespace Tavrix::Archive
