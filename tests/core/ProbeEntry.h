#pragma once

#include "CItem.h"

#include <cstdint>
#include <string>

// An entry to probe whose result starts as neither answer, so a test sees that the probe wrote it.
inline CItem ProbeEntry(std::int32_t connect, const std::string& address, std::int32_t port = 0) {
    CItem item;
    item.m_bConnect = connect;
    item.m_strAddress = address;
    item.m_nPort = port;
    item.m_bResult = 7;
    return item;
}
