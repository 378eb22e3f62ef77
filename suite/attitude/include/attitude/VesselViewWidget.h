// A 3-D view of the vessel on a compass-marked sea disc, seen from a fixed point astern on
// the port quarter and above, drawn from the sensor's rotation matrix.
#pragma once

#include <QPointF>
#include <QVector3D>
#include <QWidget>
#include <array>

class CVesselViewWidget : public QWidget {
    Q_OBJECT
public:
    explicit CVesselViewWidget(QWidget* parent = nullptr);

    // Row i of the matrix is the vessel's axis i (bow, port, up) in the earth frame
    // (north, west, up). False for values that are not finite or rows spanning no rotation.
    bool SetRotationMatrix(const std::array<float, 9>& matrix);
    // The vessel is drawn turned clockwise by this many degrees; false when not finite.
    bool SetHeadingOffset(float degrees);
    float HeadingOffset() const { return m_headingOffset; }

    // Where a point of the vessel (bow forward, port, up; the hull is two units long)
    // appears in the widget with the current orientation and size.
    QPointF Project(const QVector3D& vesselPoint) const;

    QSize sizeHint() const override { return {360, 280}; }
    QSize minimumSizeHint() const override { return {120, 100}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // A point in the earth frame (north, west, up) as (right, up, depth) of the viewer.
    QVector3D ToView(const QVector3D& earth) const;
    QPointF ToScreen(const QVector3D& view) const;
    QVector3D ToEarth(const QVector3D& vesselPoint) const;

    std::array<QVector3D, 3> m_axes;  // bow, port, up in the earth frame
    float m_headingOffset = 0.0f;
};
