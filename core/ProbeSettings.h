#pragma once

#include <cstdint>

// How a pass probes each entry, and when an entry that answered reads as degraded. The list file
// holds none of it: the window keeps it in the user's settings, the companion takes options.
// The defaults probe exactly as a single echo (or connect) always has.
struct ProbeSettings {
    static constexpr std::int32_t kOff = -1;
    static constexpr std::int32_t kMinEchoes = 1;
    static constexpr std::int32_t kMaxEchoes = 100;
    // One echo a second to a host, as ping and fping send unless told otherwise: a host (or a
    // firewall before it) that limits its echo replies counts no loss at that pace.
    static constexpr std::int32_t kDefaultEchoIntervalMs = 1000;
    // The least gap between one host's attempts for a user without privileges, as ping allows:
    // the programs may hold CAP_NET_RAW, and must not become every user's flooding tool.
    static constexpr std::int32_t kMinUserEchoIntervalMs = 200;
    static constexpr std::int32_t kMinRootEchoIntervalMs = 1;
    static constexpr std::int32_t kMaxEchoIntervalMs = 60000;
    static constexpr std::int32_t kMaxTcpTimeoutS = 600;
    static constexpr std::int32_t kMaxDegradedLossPercent = 99;
    static constexpr std::int32_t kMaxDegradedRttMs = 600000;

    std::int32_t echoes = 1;                              // attempts per entry and pass
    std::int32_t echoIntervalMs = kDefaultEchoIntervalMs; // from one attempt of an entry to its next
    std::int32_t tcpTimeoutS = 0;                         // 0: a connect waits as long as the kernel tries
    std::int32_t degradedLossPercent = kOff;              // degraded above this share of attempts lost
    std::int32_t degradedRttMs = kOff;                    // degraded above this median round trip

    // Results carry the loss, the spread of round trips and the degraded state; without it every
    // output reads as it does for a single echo.
    bool MeasuresLink() const { return echoes > 1 || degradedLossPercent != kOff || degradedRttMs != kOff; }
};

// The least echo interval this process may ask for: root's, or a user's.
std::int32_t MinEchoIntervalMs();
