#pragma once

#include "platform/error.h"

#include <optional>

namespace lumivale {

// The error of a failed result, or nothing: a test compares an outcome in one
// line, and a failure prints the error.
template<typename T> std::optional<Error> errorOf(const Result<T> &result)
{
    if (result)
        return std::nullopt;
    return result.error();
}

} // namespace lumivale
