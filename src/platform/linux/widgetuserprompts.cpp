#include "widgetuserprompts.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

namespace lumivale {

void WidgetUserPrompts::activateApplication()
{
    // There is no application-wide "bring to front" on X11 or Wayland; the
    // dialogs ask for activation themselves, and a shown gallery comes along.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowType() == Qt::Window) {
            window->raise();
            window->activateWindow();
        }
    }
}

void WidgetUserPrompts::presentAlert(const QString &message, const QString &informativeText)
{
    QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(), message,
                    QMessageBox::NoButton);
    box.setInformativeText(informativeText);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

bool WidgetUserPrompts::askQuestion(const QString &message, const QString &informativeText,
                                    const QString &acceptTitle, const QString &rejectTitle)
{
    QMessageBox box(QMessageBox::Information, QCoreApplication::applicationName(), message,
                    QMessageBox::NoButton);
    box.setInformativeText(informativeText);
    QPushButton *accept = box.addButton(acceptTitle, QMessageBox::AcceptRole);
    box.addButton(rejectTitle, QMessageBox::RejectRole);
    box.setDefaultButton(accept);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
    return box.clickedButton() == accept;
}

void WidgetUserPrompts::revealFile(const QString &path)
{
    const QUrl file = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace lumivale
