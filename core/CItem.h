#pragma once

#include "CSerializable.h"
#include "ProbeFailure.h"
#include "ProbeStats.h"

#include <cstdint>
#include <string>

// One monitored connection: a host, how it is probed, and the result of the last probe.
class CItem : public CSerializable {
public:
    static const CRuntimeClass classCItem;

    CItem() = default;

    const CRuntimeClass& GetRuntimeClass() const override { return classCItem; }
    void Serialize(CObjectArchive& ar) override;

    // Probes the host once, stores the result in m_bResult and returns it (1 answered, 0 not).
    int Check();

    std::int32_t m_bResult = 0;  // non-zero: the last probe was answered
    std::int32_t m_bConnect = 1; // 0: ICMP echo; otherwise TCP connect to m_nPort
    std::string m_strAddress;    // host name, dotted IPv4 or IPv6 address, as typed
    std::int32_t m_nPort = 80;   // kept while the probe kind is ICMP

    // Round-trip time of the last probe in microseconds, -1 when it was not answered.
    // Shown to the user only; never written to a list file.
    std::int64_t m_nLastRoundTripUs = -1;
    // Why the last probe was not answered, and when it ended (seconds since the epoch, -1 when
    // not probed since the list was loaded). Shown only, never written to a list file.
    ProbeFailure m_nLastFailure = ProbeFailure::unknown;
    std::int64_t m_tLastProbe = -1;
    // What the attempts of the last probe found (loss, spread of round trips), and whether the
    // entry answered but poorly. Shown only, never written to a list file.
    ProbeStats m_lastStats;
    bool m_bLastDegraded = false;
};
