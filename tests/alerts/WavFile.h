#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// A mono 16-bit PCM WAV file of silence, 8000 samples a second.
inline std::vector<unsigned char> SilentWav(std::uint32_t samples) {
    const auto put = [](std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    const std::uint32_t rate = 8000;
    const std::uint32_t dataBytes = samples * 2;
    std::vector<unsigned char> out = {'R', 'I', 'F', 'F'};
    put(out, 36 + dataBytes, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(out, 16, 4);
    put(out, 1, 2); // PCM
    put(out, 1, 2); // mono
    put(out, rate, 4);
    put(out, rate * 2, 4);
    put(out, 2, 2);
    put(out, 16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put(out, dataBytes, 4);
    out.resize(out.size() + dataBytes, 0);
    return out;
}

} // namespace testsupport
