#include "SmtpOptions.h"

#include <algorithm>

const char* SmtpSecurityName(SmtpSecurity security) {
    switch (security) {
    case SmtpSecurity::None:
        return "none";
    case SmtpSecurity::StartTls:
        return "starttls";
    case SmtpSecurity::Tls:
        return "tls";
    }
    return "none";
}

std::optional<SmtpSecurity> SmtpSecurityFromName(std::string_view name) {
    for (const SmtpSecurity security : {SmtpSecurity::None, SmtpSecurity::StartTls, SmtpSecurity::Tls}) {
        const std::string_view known = SmtpSecurityName(security);
        // ASCII only: the locale's rules (a Turkish dotless i) must not change what a name means.
        if (std::equal(name.begin(), name.end(), known.begin(), known.end(),
                       [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; }))
            return security;
    }
    return std::nullopt;
}
