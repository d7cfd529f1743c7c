#pragma once

#include <utility>

// Gives a variable a value for the length of a scope and its old value back on every way out of
// it, an exception included: a flag or depth that holds for an operation can never stay set.
template <typename T>
class ScopedValue {
public:
    ScopedValue(T& variable, T value) : m_variable(variable), m_old(std::exchange(variable, std::move(value))) {}
    ~ScopedValue() { m_variable = std::move(m_old); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& m_variable;
    T m_old;
};
