#pragma once

#include <QObject>

namespace lumivale {

// The system's energy-saving mode ("Low Power Mode"). Main thread only.
class PowerState : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // False when the system cannot tell.
    virtual bool isLowPowerModeEnabled() const = 0;

Q_SIGNALS:
    // The mode may have changed; read isLowPowerModeEnabled() again. Delivered
    // on the main thread.
    void powerStateChanged();
};

} // namespace lumivale
