#pragma once

#include "recordermodel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Simulator::Test {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A request as the service sends it: checksum field FF FF.
inline Bytes request(uint8_t code, const Bytes& data = {})
{
    Bytes f;
    f.reserve(data.size() + 7);
    f.push_back(0x7E);
    f.push_back(static_cast<uint8_t>(data.size()));
    f.push_back(static_cast<uint8_t>(data.size() >> 8));
    f.push_back(code);
    for (uint8_t b : data)
        f.push_back(b);
    f.push_back(0xFF);
    f.push_back(0xFF);
    f.push_back(0xBD);
    return f;
}

inline uint64_t le(const Bytes& b, std::size_t at, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<uint64_t>(b.at(at + i)) << (8 * i);
    return v;
}

inline int32_t sample24(const Bytes& b, std::size_t at)
{
    int32_t v = static_cast<int32_t>(le(b, at, 3));
    return (v & 0x800000) ? v - 0x1000000 : v;
}

// The value of a numeric member of stateJson(), or -1 when it is missing.
inline long long jsonNumber(const std::string& json, const std::string& key)
{
    const std::string needle = "\"" + key + "\":";
    const auto at = json.find(needle);
    if (at == std::string::npos)
        return -1;
    return std::stoll(json.substr(at + needle.size()));
}

// Cuts frames out of a byte stream by their declared length, as the
// service's parser does; counts bytes outside frames.
struct FrameCutter {
    Bytes pending;
    std::size_t skipped = 0;
    std::vector<Bytes> put(const Bytes& bytes)
    {
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        std::vector<Bytes> frames;
        std::size_t i = 0;
        while (i < pending.size()) {
            if (pending[i] != 0x7E) {
                ++skipped;
                ++i;
                continue;
            }
            if (pending.size() - i < 3)
                break;
            const std::size_t len = pending[i + 1] | (pending[i + 2] << 8);
            if (pending.size() - i < len + 7)
                break;
            if (pending[i + len + 6] == 0xBD) {
                frames.emplace_back(pending.begin() + static_cast<long>(i), pending.begin() + static_cast<long>(i + len + 7));
                i += len + 7;
            } else {
                ++skipped;
                ++i;
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(i));
        return frames;
    }
};

class ModelTest : public ::testing::Test {
protected:
    explicit ModelTest(uint16_t type = 21)
        : model(type)
    {
    }

    // Sends one request and returns everything readable on 0x85 right after.
    Bytes ask(const Bytes& frame)
    {
        model.writeCommand(frame, now);
        return model.read(Endpoint::Answer, 65535, now);
    }
    Bytes ask(uint8_t code, const Bytes& data = {}) { return ask(request(code, data)); }

    // Reads the signal endpoint in 128-byte pieces, as the service does,
    // until nothing more is ready at `now`.
    std::vector<Bytes> signalFrames()
    {
        std::vector<Bytes> frames;
        for (;;) {
            const Bytes piece = model.read(Endpoint::Signal, 128, now);
            if (piece.empty())
                break;
            for (auto& f : cutter.put(piece))
                frames.push_back(std::move(f));
        }
        return frames;
    }

    RecorderModel model;
    Clock::time_point now = Clock::time_point{} + 3600s;
    FrameCutter cutter;
};

} // namespace Tavrix::Simulator::Test
