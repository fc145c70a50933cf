#pragma once

#include "platform/userprompts.h"

namespace lumivale {

// Message boxes from Qt Widgets, and the file manager over D-Bus
// (org.freedesktop.FileManager1), falling back to opening the folder.
class WidgetUserPrompts : public UserPrompts
{
public:
    void activateApplication() override;
    void presentAlert(const QString &message, const QString &informativeText) override;
    bool askQuestion(const QString &message, const QString &informativeText,
                     const QString &acceptTitle, const QString &rejectTitle) override;
    void revealFile(const QString &path) override;
};

} // namespace lumivale
