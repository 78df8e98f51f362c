#pragma once

#include <utility>

// Runs a function when the scope is left, however it is left: for a flag or a count that must
// be undone even when a handler fails or an event runs a nested loop.
template <class Function> class [[nodiscard]] ScopeExit {
public:
    explicit ScopeExit(Function function) : m_function(std::move(function)) { }
    ~ScopeExit() { m_function(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Function m_function;
};
