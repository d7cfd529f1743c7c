#include "SmtpOptions.h"

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
        if (name == SmtpSecurityName(security))
            return security;
    }
    return std::nullopt;
}
