#pragma once

#include "cache/videoposterframe.h"

#include <QtQml/qqmlregistration.h>

namespace lumivale {

// Items of other subsystems that the gallery's scene uses.
struct VideoPosterFrameForeign
{
    Q_GADGET
    QML_FOREIGN(lumivale::VideoPosterFrame)
    QML_NAMED_ELEMENT(VideoPosterFrame)
};

} // namespace lumivale
