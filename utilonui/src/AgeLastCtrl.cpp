#include "utilonui/AgeLastCtrl.h"

#include <cmath>
#include <cstdio>

#include "interfaces/Tickwise.h"
#include "platform/OleDateTime.h"

CAgeLastCtrl::CAgeLastCtrl(QWidget* parent) : QLabel(parent) {
    m_timer.setInterval(kUpdatePeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Update(); });
    Initialise();
}

// The timer is a member: it stops with the control.
CAgeLastCtrl::~CAgeLastCtrl() = default;

void CAgeLastCtrl::Initialise() {
    if (!(m_dfUpdateTime > 0.0)) {
        setText(QString::fromStdString(m_sText));
        return;
    }
    Update();
    StartTimer();
}

void CAgeLastCtrl::Update() {
    m_sText = FormatString(CTickwise::GetPCMilliSecs(), m_dfUpdateTime);
    setText(QString::fromStdString(m_sText));
}

int CAgeLastCtrl::StartTimer() {
    if (m_dfUpdateTime > 0.0 && !m_timer.isActive()) {
        m_timer.start();
    }
    return m_timer.isActive() ? 1 : 0;
}

int CAgeLastCtrl::SetUpdateTime(double updateTime) {
    if (updateTime == 0.0 || std::isnan(updateTime)) {
        m_dfUpdateTime = updateTime;
        Update();
    } else if (updateTime > m_dfUpdateTime) {
        m_dfUpdateTime = updateTime;
        Update();
        StartTimer();
    }
    return 1;
}

std::string CAgeLastCtrl::FormatString(double now, double updateTime) const {
    if (std::isnan(updateTime) || updateTime == 0.0) {
        return "Unknown";
    }
    if (updateTime < 0.0) {
        return {};
    }
    const double minutes = std::fabs(now - updateTime) * (1.0 / 60000.0);
    double date = 0.0;
    CTickwise::AdjustedPCMilliSecsToUTCDate(updateTime, date);
    const std::string when = COleDateTime(date).Format("%H:%M:%S %d %b %Y");
    char text[128];
    if (minutes > 1440.0) {
        std::snprintf(text, sizeof text, "%.1f days / %s", std::fabs(minutes * (1.0 / 1440.0)),
                      when.c_str());
    } else if (minutes > 60.0) {
        std::snprintf(text, sizeof text, "%.1f hrs / %s", std::fabs(minutes * (1.0 / 60.0)),
                      when.c_str());
    } else {
        std::snprintf(text, sizeof text, "%.1f min / %s", minutes, when.c_str());
    }
    return text;
}
