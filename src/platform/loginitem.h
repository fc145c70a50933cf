#pragma once

#include "error.h"

#include <optional>

namespace lumivale {

// Starting this application when the user logs in. Main thread only.
class LoginItemService
{
public:
    enum class Status { NotRegistered, Enabled, RequiresApproval, NotFound };

    virtual ~LoginItemService() = default;

    virtual Status status() const = 0;
    // Each returns the platform's error and leaves the registration as it was
    // when it fails.
    virtual Result<> registerLoginItem() = 0;
    virtual Result<> unregisterLoginItem() = 0;
};

} // namespace lumivale
