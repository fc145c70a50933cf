#pragma once

#include "catalogue/wallpaper.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <optional>
#include <qcoro/qcorotask.h>

namespace lumivale {

class ContentView;
class ScreenSystem;

// What a wallpaper's page shows and does: the fact line (resolution, file
// size, duration), the main action (turn the wallpaper off when it is the one
// on the desktop, else open the display picker), the picker's screens and
// selection, the confirm flow (download through the video cache, apply to the
// ticked screens, install the lock-screen still) and the like toggle.
//
// The page follows `content`'s selected wallpaper and keeps the last one
// while the page fades out. Failures of the flows are shown, verbatim, as
// `applyError`. The apply goes to the screens ticked when the download ends,
// or to those confirmed when none is ticked then (an empty choice would mean
// every screen). An apply that runs when the page goes away finishes on its
// own: the desktop gets the wallpaper the user confirmed.
//
// The display options are read afresh from the screen system every time they
// are asked for, and `displayOptionsChanged` follows the screens' changes.
//
// Main thread only. `content` and the screen system must outlive the model
// (the screen system is the installed platform's unless one is set).
class WallpaperDetailModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumivale::ContentView *content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(QString wallpaperID READ wallpaperID NOTIFY wallpaperChanged)
    Q_PROPERTY(QString name READ name NOTIFY wallpaperChanged)
    Q_PROPERTY(QString resolution READ resolution NOTIFY wallpaperChanged)
    Q_PROPERTY(bool hasVideo READ hasVideo NOTIFY wallpaperChanged)
    Q_PROPERTY(QUrl video READ video NOTIFY wallpaperChanged)
    Q_PROPERTY(QVariantList gradient READ gradient NOTIFY wallpaperChanged)
    Q_PROPERTY(QString sizeText READ sizeText NOTIFY sizeTextChanged)
    Q_PROPERTY(QString durationText READ durationText NOTIFY durationTextChanged)
    Q_PROPERTY(bool isCurrent READ isCurrent NOTIFY isCurrentChanged)
    Q_PROPERTY(bool isLiked READ isLiked NOTIFY isLikedChanged)
    Q_PROPERTY(QString mainButtonTitle READ mainButtonTitle NOTIFY mainButtonChanged)
    Q_PROPERTY(QString mainButtonSymbol READ mainButtonSymbol NOTIFY mainButtonChanged)
    Q_PROPERTY(bool isMainButtonEnabled READ isMainButtonEnabled NOTIFY mainButtonChanged)
    Q_PROPERTY(bool isApplying READ isApplying NOTIFY isApplyingChanged)
    Q_PROPERTY(QString applyError READ applyError NOTIFY applyErrorChanged)
    Q_PROPERTY(bool isDisplayPickerPresented READ isDisplayPickerPresented NOTIFY
                   isDisplayPickerPresentedChanged)
    // One map per connected screen, in the platform's order: "id", "name",
    // "isMain", "isSelected".
    Q_PROPERTY(QVariantList displayOptions READ displayOptions NOTIFY displayOptionsChanged)
    Q_PROPERTY(int pickerColumns READ pickerColumns NOTIFY displayOptionsChanged)
    Q_PROPERTY(bool isEveryScreenSelected READ isEveryScreenSelected NOTIFY displayOptionsChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY displayOptionsChanged)
    Q_PROPERTY(bool canConfirm READ canConfirm NOTIFY canConfirmChanged)
    // The video's download while an apply waits for it: 0…1, or -1 while its
    // size is unknown or nothing downloads.
    Q_PROPERTY(double downloadFraction READ downloadFraction NOTIFY downloadChanged)
    Q_PROPERTY(QString confirmTitle READ confirmTitle NOTIFY downloadChanged)

public:
    struct DisplayOption
    {
        QString id;
        QString name;
        bool isMain = false;
        friend bool operator==(const DisplayOption &, const DisplayOption &) = default;
    };

    explicit WallpaperDetailModel(QObject *parent = nullptr);
    ~WallpaperDetailModel() override;

    // "m:ss" of the seconds rounded half away from zero; "--" unless finite
    // and positive.
    static QString formatDuration(double seconds);

    ContentView *content() const { return m_content; }
    void setContent(ContentView *content);
    // The screens the picker offers; the installed platform's by default.
    void setScreenSystem(ScreenSystem *screens);

    QString wallpaperID() const;
    QString name() const;
    QString resolution() const;
    bool hasVideo() const;
    QUrl video() const;
    QVariantList gradient() const;
    QString sizeText() const;
    const QString &durationText() const { return m_durationText; }
    bool isCurrent() const;
    bool isLiked() const;
    QString mainButtonTitle() const;
    QString mainButtonSymbol() const;
    bool isMainButtonEnabled() const { return !m_isApplying && hasVideo(); }
    bool isApplying() const { return m_isApplying; }
    const QString &applyError() const { return m_applyError; }
    bool isDisplayPickerPresented() const { return m_isDisplayPickerPresented; }
    QList<DisplayOption> options() const;
    QVariantList displayOptions() const;
    int pickerColumns() const;
    const QSet<QString> &selectedScreenIDs() const { return m_selectedScreenIDs; }
    bool isEveryScreenSelected() const;
    bool hasSelection() const { return !m_selectedScreenIDs.isEmpty(); }
    bool canConfirm() const { return !m_isApplying && hasSelection() && hasVideo(); }
    double downloadFraction() const;
    QString confirmTitle() const;

    // Turn off, or open the picker.
    Q_INVOKABLE void mainAction();
    Q_INVOKABLE void toggleScreen(const QString &screenID);
    Q_INVOKABLE void selectAllScreens();
    Q_INVOKABLE void cancelPicker();
    // Starts the apply and returns; `applyFinished` tells how it ended.
    Q_INVOKABLE void confirm();
    Q_INVOKABLE void toggleLike();
    Q_INVOKABLE void back();

    // The confirm flow; confirm() starts it without waiting.
    QCoro::Task<> confirmAndWait();

Q_SIGNALS:
    void contentChanged();
    void wallpaperChanged();
    void sizeTextChanged();
    void durationTextChanged();
    void isCurrentChanged();
    void isLikedChanged();
    void mainButtonChanged();
    void isApplyingChanged();
    void applyErrorChanged();
    void isDisplayPickerPresentedChanged();
    void displayOptionsChanged();
    void canConfirmChanged();
    void downloadChanged();
    void applyFinished(bool succeeded);

private:
    void followSelection();
    void startPageTask();
    QCoro::Task<> loadDuration(quint64 generation);
    QSet<QString> allScreenIDs() const;
    ScreenSystem &screens() const;
    void attachScreens(ScreenSystem *screens) const;
    void setApplying(bool applying);
    void setApplyError(const QString &error);
    void setPickerPresented(bool presented);
    void setSelection(QSet<QString> ids);
    void setDurationText(const QString &text);

    QPointer<ContentView> m_content;
    QList<QMetaObject::Connection> m_connections;
    mutable QPointer<ScreenSystem> m_screens;
    mutable QMetaObject::Connection m_screensConnection;
    std::optional<Wallpaper> m_wallpaper;
    QString m_durationText = QStringLiteral("--");
    quint64 m_durationGeneration = 0;
    bool m_isApplying = false;
    QString m_applyError;
    bool m_isDisplayPickerPresented = false;
    QSet<QString> m_selectedScreenIDs;
};

} // namespace lumivale
