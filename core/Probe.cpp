#include "Probe.h"

#include "CItem.h"
#include "IcmpProbe.h"
#include "TcpProbe.h"

ProbeOutcome ProbeConnection(std::int32_t bConnect, const std::string& address, std::int32_t port) {
    return bConnect != 0 ? ProbeTcp(address, port) : ProbeIcmp(address);
}

int CItem::Check() {
    const ProbeOutcome outcome = ProbeConnection(m_bConnect, m_strAddress, m_nPort);
    m_bResult = outcome.result;
    m_nLastRoundTripUs = outcome.roundTripUs;
    return m_bResult;
}
