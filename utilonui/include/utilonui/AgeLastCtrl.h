// A static text that shows how long ago something was last updated and when, for
// example "2.5 min / 14:03:27 07 Dec 2026". The owner hands it the PC time of the last
// update (milliseconds on the PC clock); the control renews its text every 6 seconds
// while it holds a valid time.
#pragma once

#include <QLabel>
#include <QTimer>
#include <string>

class CAgeLastCtrl : public QLabel {
    Q_OBJECT
public:
    static constexpr int kUpdatePeriodMs = 6000;

    explicit CAgeLastCtrl(QWidget* parent = nullptr);
    ~CAgeLastCtrl() override;

    double GetUpdateTime() const { return m_dfUpdateTime; }
    // 0 (or not a number) shows "Unknown"; otherwise only a later time than the one held
    // is taken. Always 1.
    int SetUpdateTime(double updateTime);
    bool IsTimerRunning() const { return m_timer.isActive(); }
    const std::string& GetStoredText() const { return m_sText; }

    // "%.1f min / when" up to an hour, then hours, then above a day days; "Unknown" for
    // no time and an empty text for a negative one.
    std::string FormatString(double now, double updateTime) const;

protected:
    void Initialise();
    void Update();
    int StartTimer();

private:
    QTimer m_timer{this};
    std::string m_sText;
    double m_dfUpdateTime = 0.0;
};
