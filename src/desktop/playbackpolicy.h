#pragma once

namespace lumivale {

// Whether the wallpaper video plays, from the reasons to pause it.
//
// There are two kinds of reason, kept apart:
// - the user's choice ("Pause / Resume", the command line, the desktop
//   entry's actions), which only the user undoes;
// - the automatic ones: the main screen covered by another application's
//   window, and the power saver. They come and go with the machine's state.
//
// The video plays only when neither asks for a pause. A resume chosen by the
// user while an automatic reason holds overrides that reason until the
// automatic reasons next change; a change of the automatic reasons never
// undoes a pause the user chose.
//
// A plain value: no clock, no signals, any thread.
class PlaybackPolicy
{
public:
    bool shouldPlay() const { return !m_userPaused && (!isAutomaticallyPaused() || m_overridden); }
    bool isUserPaused() const { return m_userPaused; }
    // An automatic reason asks for a pause (whether or not the user overrode it).
    bool isAutomaticallyPaused() const { return m_covered || m_powerSaver; }
    bool isCovered() const { return m_covered; }
    bool isPowerSaverOn() const { return m_powerSaver; }

    void userPause() { m_userPaused = true; }
    void userResume()
    {
        m_userPaused = false;
        m_overridden = isAutomaticallyPaused();
    }
    // The machine's present state; an unchanged state keeps a user override.
    void setAutomaticReasons(bool covered, bool powerSaver)
    {
        if (covered == m_covered && powerSaver == m_powerSaver)
            return;
        m_covered = covered;
        m_powerSaver = powerSaver;
        m_overridden = false;
    }

    friend bool operator==(const PlaybackPolicy &, const PlaybackPolicy &) = default;

private:
    bool m_userPaused = false;
    bool m_covered = false;
    bool m_powerSaver = false;
    bool m_overridden = false;
};

} // namespace lumivale
