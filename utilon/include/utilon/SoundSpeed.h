// The speed of sound in sea water from temperature, salinity and depth (or pressure)
// with one of several published empirical equations, and which inputs lay outside the
// range the chosen equation was fitted for.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

// The equation codes. Codes 100 to 104 take a depth in metres and convert it to the
// pressure their equation expects, which needs the latitude.
enum SvEq : int {
    SV_CHEN_MILLERO = 0,  // UNESCO, Chen and Millero (1977); pressure in bar
    SV_DEL_GROSSO = 1,    // Del Grosso (1974); pressure in kg/cm²
    SV_MACKENZIE = 2,     // Mackenzie (1981); depth in m
    SV_MEDWIN = 3,        // Medwin (1975); depth in m
    SV_WILSON_1 = 4,      // Wilson (1960), first equation; pressure in kg/cm²
    SV_WILSON_2 = 5,      // Wilson (1960), second equation; pressure in kg/cm²
    SV_DEL_GROSSO_DEPTH = 100,
    SV_LOVETT_DEPTH = 101,
    SV_CHEN_MILLERO_DEPTH = 102,
    SV_WILSON_1_DEPTH = 103,
    SV_WILSON_2_DEPTH = 104,
};

// Bits of the inputs that lay outside the equation's range (a limit itself is inside).
enum SvInvalid : int {
    SV_INVALID_NONE = 0,
    SV_INVALID_DEPTH = 1,  // depth or pressure
    SV_INVALID_TEMPERATURE = 4,
    SV_INVALID_SALINITY = 8,
};

class CSoundSpeed {
public:
    // The depth-to-pressure iteration gives up after this many steps (and on a value
    // that is no longer finite): a depth beyond the ocean's has no answer, and the
    // iteration must end. 10000 m needs about 210 steps.
    static constexpr int kMaxPressureIterations = 1000;
    // kg/cm² per bar.
    static constexpr double kKgPerCm2PerBar = 1.01971621298;

    CSoundSpeed();
    virtual ~CSoundSpeed() = default;

    // Stores the code and selects the form that fits the depth or pressure input.
    void SetEquation(int code);
    int GetEquation() const { return m_eEquation; }
    // 1: the second input of GetSoundSpeed is a depth in metres; 0: a pressure. Takes
    // effect at the next SetEquation.
    void AcceptDepth(int acceptDepth) { m_bAcceptDepth = acceptDepth != 0 ? TRUE : FALSE; }
    void SetLatitude(double degrees) { m_dfLatitude = degrees; }
    double GetLatitude() const { return m_dfLatitude; }
    BOOL LatitudeRequired() const { return m_bLatitudeRequired; }

    // Clears the invalid bits and computes with the equation in use (m/s); an unknown
    // code gives 0.0. Always 1.
    int GetSoundSpeed(double depthOrPressure, double temperature, double salinity, double& speed);
    int InvalidParameters() const { return m_nInvalid; }

    // The equations offered to the user, with their names.
    static void EquationList(std::vector<WORD>& codes, std::vector<std::string>& names);

    // Pressure in bar at a depth in metres at the latitude (UNESCO 1983 depth formula,
    // inverted by iteration). NaN when the iteration does not settle; iterations, when
    // asked, receives the number of steps taken.
    double DepthToPressure(double depth, int* iterations = nullptr) const;

    // The equations themselves. Each sets the invalid bits of its own inputs (adding to
    // those already set) and computes the value whatever they are.
    double ChenMillero(double pressureBar, double t, double s);
    double DelGrosso(double pressureKgCm2, double t, double s);
    double Mackenzie(double depth, double t, double s);
    double Medwin(double depth, double t, double s);
    double Wilson1(double pressureKgCm2, double t, double s);
    double Wilson2(double pressureKgCm2, double t, double s);
    double Lovett(double pressureBar, double t, double s);
    // Leroy (1969), second equation with all its correction terms, at the latitude.
    double Leroy(double depth, double t, double s);
    double Coppens(double depth, double t, double s);
    // Kinsler, Frey, Coppens and Sanders, Fundamentals of Acoustics (3rd ed.).
    double KinslerFrey(double depth, double t, double s);

private:
    void Select();
    void Check(double value, double lo, double hi, int bit);

    int m_eEquation = SV_CHEN_MILLERO_DEPTH;
    double m_dfLatitude = 30.0;
    BOOL m_bLatitudeRequired = FALSE;
    BOOL m_bAcceptDepth = TRUE;
    int m_nInvalid = SV_INVALID_NONE;
};
