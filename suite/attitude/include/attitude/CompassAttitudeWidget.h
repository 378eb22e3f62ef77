// A compass card with an attitude indicator: the card turns so that the heading stands
// under the lubber line at the top; inside it an artificial horizon tilts with the roll
// and moves with the pitch behind a fixed vessel symbol; the values are printed below.
#pragma once

#include <QWidget>

class CCompassAttitudeWidget : public QWidget {
    Q_OBJECT
public:
    explicit CCompassAttitudeWidget(QWidget* parent = nullptr);

    // Degrees; the heading is brought into [0, 360). False (and nothing changes) for a
    // value that is not finite.
    bool SetAttitude(float heading, float roll, float pitch);
    float Heading() const { return m_heading; }
    float Roll() const { return m_roll; }
    float Pitch() const { return m_pitch; }

    // The middle of the instrument, above the line of values when there is room for it.
    QPointF InstrumentCentre() const;

    // Degrees of pitch between the horizon's rest position and the instrument's edge.
    static constexpr float kPitchRange = 30.0f;

    QSize sizeHint() const override { return {260, 300}; }
    QSize minimumSizeHint() const override { return {120, 140}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int ValuesBand() const;

    float m_heading = 0.0f;
    float m_roll = 0.0f;
    float m_pitch = 0.0f;
};
