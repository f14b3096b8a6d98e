#include "wfdbrecord.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace Tavrix::Analysis {

namespace {

bool readWholeFile(const std::string &path, std::string &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool parseInt(const std::string &text, long long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool parseDouble(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(value);
}

// The leading number of a field such as "360/2" or "200(0)/mV".
std::string leadingNumber(const std::string &field, size_t &end)
{
    end = 0;
    while (end < field.size() && (std::isdigit(static_cast<unsigned char>(field[end])) || field[end] == '.'
                                  || field[end] == '-' || field[end] == '+' || field[end] == 'e'))
        ++end;
    return field.substr(0, end);
}

} // namespace

bool WfdbRecord::fail(const std::string &message)
{
    m_error = message;
    m_signals.clear();
    m_samples.clear();
    m_sampleCount = 0;
    return false;
}

bool WfdbRecord::load(const std::string &basePath)
{
    std::string text;
    const std::string headerPath = basePath + ".hea";
    if (!readWholeFile(headerPath, text))
        return fail("cannot read WFDB header " + headerPath);
    const size_t slash = basePath.find_last_of('/');
    const std::string directory = slash == std::string::npos ? std::string(".") : basePath.substr(0, slash);
    return loadFromHeaderText(text, directory);
}

bool WfdbRecord::loadFromHeaderText(const std::string &headerText, const std::string &directory)
{
    m_error.clear();
    if (!parseHeader(headerText))
        return false;
    return readSignalFiles(directory);
}

bool WfdbRecord::parseHeader(const std::string &text)
{
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> meaningful;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        meaningful.push_back(line.substr(first));
    }
    if (meaningful.empty())
        return fail("WFDB header has no record line");

    std::istringstream recordLine(meaningful[0]);
    std::vector<std::string> fields{std::istream_iterator<std::string>(recordLine), {}};
    if (fields.size() < 2)
        return fail("WFDB record line needs a name and a signal count: '" + meaningful[0] + "'");
    m_name = fields[0];
    if (m_name.find('/') != std::string::npos)
        return fail("multi-segment WFDB records are not supported: '" + m_name + "'");
    long long signalCount = 0;
    if (!parseInt(fields[1], signalCount) || signalCount < 1 || signalCount > 64)
        return fail("WFDB record line has a bad signal count '" + fields[1] + "'");
    m_samplingFrequency = 250.0;
    if (fields.size() > 2) {
        size_t end = 0;
        const std::string number = leadingNumber(fields[2], end);
        if (!parseDouble(number, m_samplingFrequency) || m_samplingFrequency <= 0.0 || m_samplingFrequency > 1e6)
            return fail("WFDB record line has a bad sampling frequency '" + fields[2] + "'");
    }
    m_sampleCount = -1;
    if (fields.size() > 3) {
        long long count = 0;
        if (!parseInt(fields[3], count) || count < 0)
            return fail("WFDB record line has a bad sample count '" + fields[3] + "'");
        m_sampleCount = count;
    }
    if (static_cast<long long>(meaningful.size()) < signalCount + 1)
        return fail("WFDB header announces " + std::to_string(signalCount) + " signals but describes "
                    + std::to_string(meaningful.size() - 1));

    m_signals.clear();
    for (long long i = 0; i < signalCount; ++i) {
        std::istringstream signalLine(meaningful[static_cast<size_t>(i) + 1]);
        std::vector<std::string> f{std::istream_iterator<std::string>(signalLine), {}};
        const std::string where = "WFDB signal " + std::to_string(i) + ": ";
        if (f.size() < 2)
            return fail(where + "needs a file name and a format");
        WfdbSignal s;
        s.fileName = f[0];
        if (s.fileName.find('/') != std::string::npos || s.fileName == "-" || s.fileName == "..")
            return fail(where + "signal file '" + s.fileName + "' must be a plain file name");
        size_t end = 0;
        long long format = 0;
        if (!parseInt(leadingNumber(f[1], end), format))
            return fail(where + "bad format '" + f[1] + "'");
        if (format != 212 && format != 16)
            return fail(where + "format " + std::to_string(format) + " is not supported (212 and 16 are)");
        if (end != f[1].size())
            return fail(where + "format modifiers (skew, offset) are not supported: '" + f[1] + "'");
        s.format = static_cast<int>(format);
        if (f.size() > 2) {
            const std::string &g = f[2];
            const std::string number = leadingNumber(g, end);
            if (!parseDouble(number, s.gain))
                return fail(where + "bad gain '" + g + "'");
            if (s.gain == 0.0)
                s.gain = 200.0; // header(5): a gain of 0 means uncalibrated, 200 adu per unit by default
            if (s.gain < 0.0)
                return fail(where + "negative gain '" + g + "'");
            std::string rest = g.substr(end);
            bool baselineGiven = false;
            if (!rest.empty() && rest[0] == '(') {
                const size_t close = rest.find(')');
                long long baseline = 0;
                if (close == std::string::npos || !parseInt(rest.substr(1, close - 1), baseline))
                    return fail(where + "bad baseline in '" + g + "'");
                s.baseline = static_cast<int>(baseline);
                baselineGiven = true;
                rest = rest.substr(close + 1);
            }
            if (!rest.empty() && rest[0] == '/')
                s.units = rest.substr(1);
            if (f.size() > 3) {
                long long resolution = 0;
                if (!parseInt(f[3], resolution) || resolution < 1 || resolution > 32)
                    return fail(where + "bad ADC resolution '" + f[3] + "'");
                s.adcResolution = static_cast<int>(resolution);
            }
            if (f.size() > 4) {
                long long zero = 0;
                if (!parseInt(f[4], zero))
                    return fail(where + "bad ADC zero '" + f[4] + "'");
                s.adcZero = static_cast<int>(zero);
            }
            if (!baselineGiven)
                s.baseline = s.adcZero; // header(5): the baseline defaults to the ADC zero
        }
        // Fields 5-7 (initial value, checksum, block size) are not needed to read
        // the samples; the description is everything after them.
        if (f.size() > 8) {
            std::string description;
            for (size_t k = 8; k < f.size(); ++k)
                description += (k > 8 ? " " : "") + f[k];
            s.description = description;
        }
        m_signals.push_back(s);
    }
    return true;
}

bool WfdbRecord::readSignalFiles(const std::string &directory)
{
    // Signals sharing a file are stored frame-interleaved in header order.
    std::vector<std::string> files;
    std::map<std::string, std::vector<int>> signalsOfFile;
    for (size_t i = 0; i < m_signals.size(); ++i) {
        const std::string &file = m_signals[i].fileName;
        if (!signalsOfFile.count(file))
            files.push_back(file);
        signalsOfFile[file].push_back(static_cast<int>(i));
    }

    const size_t signalCount = m_signals.size();
    std::vector<std::vector<int>> perFile; // decoded, per file, interleaved
    int64_t framesAvailable = -1;
    for (const std::string &file : files) {
        const std::vector<int> &members = signalsOfFile[file];
        int format = m_signals[static_cast<size_t>(members[0])].format;
        for (int m : members)
            if (m_signals[static_cast<size_t>(m)].format != format)
                return fail("WFDB file " + file + " mixes formats, which is not supported");
        std::string bytes;
        const std::string path = directory + "/" + file;
        if (!readWholeFile(path, bytes))
            return fail("cannot read WFDB signal file " + path);
        const size_t width = members.size();
        std::vector<int> values;
        if (format == 16) {
            const size_t count = bytes.size() / 2;
            values.resize(count);
            for (size_t k = 0; k < count; ++k) {
                const auto lo = static_cast<uint8_t>(bytes[2 * k]);
                const auto hi = static_cast<uint8_t>(bytes[2 * k + 1]);
                values[k] = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
            }
        } else {
            // Two 12-bit two's-complement samples in three bytes.
            const size_t pairs = bytes.size() / 3;
            values.resize(pairs * 2);
            for (size_t k = 0; k < pairs; ++k) {
                const auto b0 = static_cast<uint8_t>(bytes[3 * k]);
                const auto b1 = static_cast<uint8_t>(bytes[3 * k + 1]);
                const auto b2 = static_cast<uint8_t>(bytes[3 * k + 2]);
                int first = b0 | ((b1 & 0x0f) << 8);
                int second = b2 | ((b1 & 0xf0) << 4);
                if (first & 0x800)
                    first -= 0x1000;
                if (second & 0x800)
                    second -= 0x1000;
                values[2 * k] = first;
                values[2 * k + 1] = second;
            }
            if (bytes.size() % 3 == 2) { // a trailing odd sample
                const auto b0 = static_cast<uint8_t>(bytes[bytes.size() - 2]);
                const auto b1 = static_cast<uint8_t>(bytes[bytes.size() - 1]);
                int first = b0 | ((b1 & 0x0f) << 8);
                if (first & 0x800)
                    first -= 0x1000;
                values.push_back(first);
            }
        }
        const int64_t frames = static_cast<int64_t>(values.size() / width);
        if (m_sampleCount >= 0 && frames < m_sampleCount)
            return fail("WFDB signal file " + path + " is short: " + std::to_string(frames) + " of "
                        + std::to_string(m_sampleCount) + " samples");
        framesAvailable = framesAvailable < 0 ? frames : std::min(framesAvailable, frames);
        perFile.push_back(std::move(values));
    }
    if (m_sampleCount < 0)
        m_sampleCount = framesAvailable;
    if (m_sampleCount == 0)
        return fail("WFDB record " + m_name + " has no samples");

    m_samples.assign(static_cast<size_t>(m_sampleCount) * signalCount, 0);
    for (size_t fi = 0; fi < files.size(); ++fi) {
        const std::vector<int> &members = signalsOfFile[files[fi]];
        const size_t width = members.size();
        const std::vector<int> &values = perFile[fi];
        for (int64_t n = 0; n < m_sampleCount; ++n)
            for (size_t m = 0; m < width; ++m)
                m_samples[static_cast<size_t>(n) * signalCount + static_cast<size_t>(members[m])] =
                    values[static_cast<size_t>(n) * width + m];
    }
    return true;
}

double WfdbRecord::adcPerMillivolt(int signal) const
{
    const WfdbSignal &s = m_signals[static_cast<size_t>(signal)];
    const std::string units = lowerCase(s.units);
    if (units == "uv" || units == "µv")
        return s.gain * 1000.0;
    if (units == "v")
        return s.gain / 1000.0;
    return s.gain;
}

double WfdbRecord::millivolts(int signal, int64_t sample) const
{
    const WfdbSignal &s = m_signals[static_cast<size_t>(signal)];
    return (adc(signal, sample) - s.baseline) / adcPerMillivolt(signal);
}

int WfdbRecord::findSignal(const std::string &leadName) const
{
    const std::string wanted = lowerCase(leadName);
    for (size_t i = 0; i < m_signals.size(); ++i)
        if (lowerCase(m_signals[i].description) == wanted)
            return static_cast<int>(i);
    return -1;
}

bool WfdbAnnotations::load(const std::string &path)
{
    std::string text;
    if (!readWholeFile(path, text)) {
        m_error = "cannot read annotation file " + path;
        return false;
    }
    return parse(std::vector<uint8_t>(text.begin(), text.end()));
}

bool WfdbAnnotations::parse(const std::vector<uint8_t> &bytes)
{
    // annot(5), MIT format: 16-bit little-endian words, code in the top 6 bits,
    // time difference (or payload length) in the low 10 bits.
    constexpr int kSkip = 59, kNum = 60, kSub = 61, kChn = 62, kAux = 63;
    m_annotations.clear();
    m_error.clear();
    int64_t time = 0;
    size_t i = 0;
    while (i + 1 < bytes.size()) {
        const int word = bytes[i] | (bytes[i + 1] << 8);
        i += 2;
        const int code = word >> 10;
        const int value = word & 0x3ff;
        if (code == 0 && value == 0)
            return true; // end of file
        if (code == kSkip) {
            if (i + 4 > bytes.size())
                return failTruncated();
            // The interval is a 32-bit value stored as two words, high word first.
            const uint32_t high = bytes[i] | (bytes[i + 1] << 8);
            const uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            time += static_cast<int32_t>((high << 16) | low);
            i += 4;
        } else if (code == kAux) {
            i += static_cast<size_t>(value + (value & 1));
            if (i > bytes.size())
                return failTruncated();
        } else if (code == kNum || code == kSub || code == kChn) {
            // Field of the previous annotation; beat positions do not need it.
        } else {
            time += value;
            m_annotations.push_back({time, code});
        }
    }
    if (i != bytes.size())
        return failTruncated(); // half a word left over
    // No end mark: accept what was read if anything was.
    if (m_annotations.empty()) {
        m_error = "annotation file holds no annotations";
        return false;
    }
    return true;
}

bool WfdbAnnotations::failTruncated()
{
    m_error = "annotation file ends inside an entry";
    m_annotations.clear();
    return false;
}

bool WfdbAnnotations::isBeatCode(int code)
{
    // N L R a V F J A S E j / Q B ? e n f r: the beat labels of the MIT code table.
    switch (code) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10:
    case 11: case 12: case 13: case 25: case 30: case 34: case 35: case 38: case 41:
        return true;
    default:
        return false;
    }
}

std::vector<int64_t> WfdbAnnotations::beatSamples() const
{
    std::vector<int64_t> out;
    for (const Annotation &a : m_annotations)
        if (isBeatCode(a.code))
            out.push_back(a.sample);
    return out;
}

} // namespace Tavrix::Analysis
