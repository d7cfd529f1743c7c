#pragma once

#include <stdexcept>
#include <string>

// A failure reported by the serial-communications control; what() is the control's own
// description, shown to the user by the alert dispatch.
class CCommError : public std::runtime_error {
public:
    explicit CCommError(const std::string& description) : std::runtime_error(description) {}
};
