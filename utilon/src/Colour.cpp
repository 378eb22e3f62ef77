#include "utilon/Colour.h"

#include <strings.h>
#include <cmath>

#include "XmlValues.h"

IMPLEMENT_DYNCREATE(CRGBColour, CObject)

namespace {
struct NamedColour {
    const char* name;
    COLORREF packed;
};
constexpr NamedColour kNamedColours[] = {
    {"BLACK", 0x000000},  {"WHITE", 0xFFFFFF},     {"RED", 0x0000FF},     {"BLUE", 0xFF0000},
    {"GREEN", 0x00FF00},  {"YELLOW", 0x00FFFF},    {"CYAN", 0xFFFF00},    {"MAGENTA", 0xFF00FF},
    {"DKRED", 0x000080},  {"DKBLUE", 0x800000},    {"DKGREEN", 0x008000}, {"DKYELLOW", 0x008080},
    {"DKCYAN", 0x808000}, {"DKMAGENTA", 0x800080}, {"GRAY", 0xC0C0C0},    {"DKGRAY", 0x808080},
};

// One channel of the packed value. A non-finite channel packs as 0; far out-of-range
// values are held to a range the cut can represent before masking.
unsigned long Channel(double c) {
    if (!std::isfinite(c)) {
        return 0;
    }
    const double scaled = std::fmin(std::fmax(c * 255.0, -1e15), 1e15);
    return static_cast<unsigned long>(static_cast<long long>(scaled)) & 0xFF;
}
}  // namespace

COLORREF NameToCOLORREF(const std::string& name) {
    for (const NamedColour& c : kNamedColours) {
        if (strcasecmp(name.c_str(), c.name) == 0) {
            return c.packed;
        }
    }
    return 0xFFFFFF;
}

int CRGBColour::SetColour(double red, double green, double blue, double alpha) {
    m_red = red;
    m_green = green;
    m_blue = blue;
    m_alpha = alpha;
    return 1;
}

int CRGBColour::SetColour(unsigned long packed) {
    m_red = static_cast<double>(packed & 0xFF) / 255.0;
    m_green = static_cast<double>((packed >> 8) & 0xFF) / 255.0;
    m_blue = static_cast<double>((packed >> 16) & 0xFF) / 255.0;
    return 1;
}

CRGBColour::operator unsigned long() const {
    return Channel(m_red) + 256 * Channel(m_green) + 65536 * Channel(m_blue);
}

void CRGBColour::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << ARCHIVE_VERSION << m_red << m_green << m_blue << m_alpha;
        return;
    }
    BYTE version = 0;
    ar >> version;
    if (!ar.IsGood() || version != ARCHIVE_VERSION) {
        ar.SetBad();
        return;
    }
    double r = 0, g = 0, b = 0, a = 0;
    ar >> r >> g >> b >> a;
    if (ar.IsGood()) {
        SetColour(r, g, b, a);
    }
}

BOOL CRGBColour::SaveXML(xmlDocPtr doc, xmlNodePtr parent) const {
    if (doc == nullptr || parent == nullptr) {
        return FALSE;
    }
    xmlNodePtr element =
        xmlNewChild(parent, nullptr, reinterpret_cast<const xmlChar*>("Colour"), nullptr);
    if (element == nullptr) {
        return FALSE;
    }
    utilon::xml::SetNumber(element, "Red", m_red);
    utilon::xml::SetNumber(element, "Green", m_green);
    utilon::xml::SetNumber(element, "Blue", m_blue);
    utilon::xml::SetNumber(element, "Alpha", m_alpha);
    return TRUE;
}

BOOL CRGBColour::LoadXML(xmlNodePtr element) {
    xmlNodePtr colour = utilon::xml::FindElement(element, "Colour");
    if (colour == nullptr) {
        return FALSE;
    }
    double v[4] = {0, 0, 0, 0};
    const char* names[4] = {"Red", "Green", "Blue", "Alpha"};
    for (int i = 0; i < 4; ++i) {
        if (utilon::xml::GetNumber(colour, names[i], v[i]) != 1) {
            return FALSE;
        }
    }
    SetColour(v[0], v[1], v[2], v[3]);
    return TRUE;
}
