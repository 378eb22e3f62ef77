// A colour of four components from 0 to 1, and its packed red-green-blue value
// (red in the low byte; alpha is not packed).
#pragma once

#include <string>

#include <libxml/tree.h>

#include "platform/RuntimeClass.h"
#include "platform/Types.h"
#include "utilon/Archive.h"

// The packed value of a colour name, in any case; white for a name not known.
COLORREF NameToCOLORREF(const std::string& name);

class CRGBColour : public CObject {
    DECLARE_DYNCREATE(CRGBColour)
public:
    static constexpr BYTE ARCHIVE_VERSION = 1;

    CRGBColour() = default;
    CRGBColour(const CRGBColour&) = default;
    explicit CRGBColour(unsigned long packed) { SetColour(packed); }
    explicit CRGBColour(const std::string& name) { SetColour(name); }
    CRGBColour(double red, double green, double blue, double alpha) {
        SetColour(red, green, blue, alpha);
    }
    ~CRGBColour() override = default;

    int SetColour(double red, double green, double blue, double alpha);
    // The three channels from the packed value; alpha is kept.
    int SetColour(unsigned long packed);
    int SetColour(const std::string& name) { return SetColour(NameToCOLORREF(name)); }
    CRGBColour& operator=(const CRGBColour&) = default;
    CRGBColour& operator=(unsigned long packed) {
        SetColour(packed);
        return *this;
    }
    CRGBColour& operator=(const std::string& name) {
        SetColour(name);
        return *this;
    }

    double Red() const { return m_red; }
    double Green() const { return m_green; }
    double Blue() const { return m_blue; }
    double Alpha() const { return m_alpha; }
    // Each channel × 255 cut to a whole number and masked to 8 bits.
    operator unsigned long() const;

    // Version byte, then red, green, blue, alpha. A damaged or newer archive leaves the
    // colour unchanged and the archive bad.
    virtual void Serialize(CArchive& ar);
    // Adds a "Colour" element with the attributes "Red", "Green", "Blue", "Alpha".
    virtual BOOL SaveXML(xmlDocPtr doc, xmlNodePtr parent) const;
    // Reads a "Colour" element (the element itself or its first "Colour" child); on
    // failure the colour is unchanged.
    virtual BOOL LoadXML(xmlNodePtr element);

private:
    double m_red = 1.0;
    double m_green = 1.0;
    double m_blue = 1.0;
    double m_alpha = 1.0;
};
