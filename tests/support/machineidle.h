#pragma once

#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace ServiceTesting {

// The share of the machine's CPU time that was idle between start() and
// idleShare(), read from /proc/stat. Time stolen by the hypervisor counts as
// busy. Streaming tests at the recorder's highest rate need about one core
// for the emulated USB link; when something else on a shared machine takes
// every core, frames the simulator drops say nothing about the service, and
// these tests say so instead of failing.
class MachineIdle
{
public:
    void start() { m_start = read(); }

    // -1 when /proc/stat cannot be read.
    double idleShare() const
    {
        const std::vector<unsigned long long> now = read();
        if (now.size() < 5 || m_start.size() != now.size())
            return -1.0;
        unsigned long long total = 0;
        for (size_t i = 0; i < now.size(); ++i)
            total += now[i] - m_start[i];
        // Columns 3 and 4 are idle and iowait.
        const unsigned long long idle = (now[3] - m_start[3]) + (now[4] - m_start[4]);
        return total == 0 ? -1.0 : static_cast<double>(idle) / static_cast<double>(total);
    }

private:
    static std::vector<unsigned long long> read()
    {
        std::ifstream stat("/proc/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line);
        std::string cpu;
        fields >> cpu;
        std::vector<unsigned long long> values;
        unsigned long long value = 0;
        // user nice system idle iowait irq softirq steal; guest time is
        // already inside user and nice.
        while (values.size() < 8 && fields >> value)
            values.push_back(value);
        return cpu == "cpu" ? values : std::vector<unsigned long long>{};
    }

    std::vector<unsigned long long> m_start;
};

} // namespace ServiceTesting
