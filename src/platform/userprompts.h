#pragma once

#include <QString>

namespace lumivale {

// Modal questions and messages to the user, and the file manager. Main thread
// only; each call returns once the user has answered.
class UserPrompts
{
public:
    virtual ~UserPrompts() = default;

    // Brings this application to the front, ahead of the others.
    virtual void activateApplication() = 0;
    // An informational alert with one button, "OK".
    virtual void presentAlert(const QString &message, const QString &informativeText) = 0;
    // A question with two buttons; true when the user chose `acceptTitle`.
    virtual bool askQuestion(const QString &message, const QString &informativeText,
                             const QString &acceptTitle, const QString &rejectTitle) = 0;
    // Shows the file selected in the user's file manager.
    virtual void revealFile(const QString &path) = 0;
};

} // namespace lumivale
