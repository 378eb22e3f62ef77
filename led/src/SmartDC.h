// An off-screen surface for one paint: the drawing goes into an image the size of the
// area being painted, with window coordinates unchanged, and is copied to the widget in
// one step when the surface goes, so the lamp never shows half drawn.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

class CSmartDC {
public:
    CSmartDC(QPainter& target, const QRect& area)
        : m_target(target),
          m_area(area),
          m_image(area.isValid() ? area.size() : QSize(), QImage::Format_ARGB32_Premultiplied) {
        if (!m_image.isNull()) {
            m_painter.begin(&m_image);
            m_painter.translate(-m_area.topLeft());
            m_painter.setClipRect(m_area);
        }
    }
    ~CSmartDC() {
        if (m_painter.isActive()) {
            m_painter.end();
            m_target.drawImage(m_area.topLeft(), m_image);
        }
    }
    CSmartDC(const CSmartDC&) = delete;
    CSmartDC& operator=(const CSmartDC&) = delete;

    // False when the area is empty or the image could not be made: nothing is drawn.
    bool IsValid() const { return m_painter.isActive(); }
    QPainter& Painter() { return m_painter; }

private:
    QPainter& m_target;
    QRect m_area;
    QImage m_image;
    QPainter m_painter;
};
