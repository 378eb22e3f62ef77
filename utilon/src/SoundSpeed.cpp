#include "utilon/SoundSpeed.h"

#include <cmath>

namespace {
constexpr double kDegToRad = 3.141592653589793 / 180.0;

// Depth in metres of a pressure in decibars at a latitude (Fofonoff and Millard, UNESCO
// 1983).
double DepthOfPressure(double decibars, double sinLat) {
    const double s2 = sinLat * sinLat;
    const double gravity = 9.780318 * (1.0 + (5.2788e-3 + 2.36e-5 * s2) * s2);
    const double p = decibars;
    return ((((-1.82e-15 * p + 2.279e-10) * p - 2.2512e-5) * p + 9.72659) * p) /
           (gravity + 1.092e-6 * p);
}
}  // namespace

CSoundSpeed::CSoundSpeed() {
    Select();
}

void CSoundSpeed::SetEquation(int code) {
    m_eEquation = code;
    Select();
}

void CSoundSpeed::Select() {
    int& eq = m_eEquation;
    if (m_bAcceptDepth) {
        switch (eq) {
            case SV_CHEN_MILLERO:
                eq = SV_CHEN_MILLERO_DEPTH;
                break;
            case SV_DEL_GROSSO:
                eq = SV_DEL_GROSSO_DEPTH;
                break;
            case SV_WILSON_1:
                eq = SV_WILSON_1_DEPTH;
                break;
            default:
                break;
        }
    } else {
        switch (eq) {
            case SV_WILSON_1:
                eq = SV_WILSON_1_DEPTH;
                break;
            case SV_DEL_GROSSO_DEPTH:
                eq = SV_DEL_GROSSO;
                break;
            case SV_CHEN_MILLERO_DEPTH:
                eq = SV_CHEN_MILLERO;
                break;
            default:
                break;
        }
    }
    m_bLatitudeRequired = (eq >= 100 && eq <= 104) ? TRUE : FALSE;
}

void CSoundSpeed::Check(double value, double lo, double hi, int bit) {
    // Written so that NaN counts as out of range.
    if (!(value >= lo && value <= hi)) {
        m_nInvalid |= bit;
    }
}

void CSoundSpeed::EquationList(std::vector<WORD>& codes, std::vector<std::string>& names) {
    codes = {SV_CHEN_MILLERO, SV_DEL_GROSSO, SV_MACKENZIE, SV_MEDWIN, SV_WILSON_2};
    names = {"Chen and Millero (1977)", "Del Grosso (1974)", "Mackenzie (1981)", "Medwin (1975)",
             "Wilson (1960)"};
}

double CSoundSpeed::DepthToPressure(double depth, int* iterations) const {
    const double sinLat = std::sin(m_dfLatitude * kDegToRad);
    double p = (1.0 + 0.00528 * sinLat * sinLat) * 1.0052405 * depth + 2.36e-6 * depth * depth;
    int n = 0;
    bool settled = false;
    while (std::isfinite(p)) {
        const double error = depth - DepthOfPressure(10.0 * p, sinLat);
        if (std::fabs(error) < 0.0001) {
            settled = true;
            break;
        }
        if (n == kMaxPressureIterations) {
            break;
        }
        p += 0.01 * error;
        ++n;
    }
    if (iterations != nullptr) {
        *iterations = n;
    }
    return settled ? p : std::nan("");
}

int CSoundSpeed::GetSoundSpeed(double depthOrPressure, double t, double s, double& speed) {
    m_nInvalid = SV_INVALID_NONE;
    const double x = depthOrPressure;
    switch (m_eEquation) {
        case SV_CHEN_MILLERO:
            speed = ChenMillero(x, t, s);
            break;
        case SV_DEL_GROSSO:
            speed = DelGrosso(x, t, s);
            break;
        case SV_MACKENZIE:
            speed = Mackenzie(x, t, s);
            break;
        case SV_MEDWIN:
            speed = Medwin(x, t, s);
            break;
        case SV_WILSON_1:
            speed = Wilson1(x, t, s);
            break;
        case SV_WILSON_2:
            speed = Wilson2(x, t, s);
            break;
        case SV_DEL_GROSSO_DEPTH:
            speed = DelGrosso(DepthToPressure(x) * kKgPerCm2PerBar, t, s);
            break;
        case SV_LOVETT_DEPTH:
            speed = Lovett(DepthToPressure(x), t, s);
            break;
        case SV_CHEN_MILLERO_DEPTH:
            speed = ChenMillero(DepthToPressure(x), t, s);
            break;
        case SV_WILSON_1_DEPTH:
            speed = Wilson1(DepthToPressure(x) * kKgPerCm2PerBar, t, s);
            break;
        case SV_WILSON_2_DEPTH:
            speed = Wilson2(DepthToPressure(x) * kKgPerCm2PerBar, t, s);
            break;
        default:
            speed = 0.0;
            break;
    }
    return 1;
}

// UNESCO algorithm (Chen and Millero 1977) with the coefficients of Fofonoff and
// Millard (1983); T IPTS-68, P bar.
double CSoundSpeed::ChenMillero(double P, double T, double S) {
    Check(P, 0.0, 10197.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 40.0, SV_INVALID_TEMPERATURE);
    Check(S, 0.0, 40.0, SV_INVALID_SALINITY);
    const double cw0 =
        ((((3.1464e-9 * T - 1.47800e-6) * T + 3.3420e-4) * T - 5.80852e-2) * T + 5.03711) * T +
        1402.388;
    const double cw1 =
        (((-6.1185e-10 * T + 1.3621e-7) * T - 8.1788e-6) * T + 6.8982e-4) * T + 0.153563;
    const double cw2 =
        (((1.0405e-12 * T - 2.5335e-10) * T + 2.5974e-8) * T - 1.7107e-6) * T + 3.1260e-5;
    const double cw3 = (-2.3643e-12 * T + 3.8504e-10) * T - 9.7729e-9;
    const double cw = ((cw3 * P + cw2) * P + cw1) * P + cw0;

    const double a0 = (((-3.21e-8 * T + 2.006e-6) * T + 7.164e-5) * T - 1.262e-2) * T + 1.389;
    const double a1 =
        (((-2.0122e-10 * T + 1.0507e-8) * T - 6.4885e-8) * T - 1.2580e-5) * T + 9.4742e-5;
    const double a2 = ((7.988e-12 * T - 1.6002e-10) * T + 9.1041e-9) * T - 3.9064e-7;
    const double a3 = (-3.389e-13 * T + 6.649e-12) * T + 1.100e-10;
    const double a = ((a3 * P + a2) * P + a1) * P + a0;

    const double b = -1.922e-2 - 4.42e-5 * T + (7.3637e-5 + 1.7945e-7 * T) * P;
    const double d = 1.727e-3 - 7.9836e-6 * P;
    // A negative salinity has no S^1.5; it is flagged above and contributes nothing.
    const double s15 = S > 0.0 ? S * std::sqrt(S) : 0.0;
    return cw + a * S + b * s15 + d * S * S;
}

// Del Grosso (1974), the NRL II equation; T IPTS-68, P kg/cm² gauge.
double CSoundSpeed::DelGrosso(double P, double T, double S) {
    Check(P, 0.0, 10000.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 30.0, SV_INVALID_TEMPERATURE);
    Check(S, 30.0, 40.0, SV_INVALID_SALINITY);
    const double dct = ((0.221535969240e-3 * T - 0.550946843172e-1) * T + 0.501109398873e1) * T;
    const double dcs = (0.128955756844e-3 * S + 0.132952290781e1) * S;
    const double dcp = ((-0.883392332513e-8 * P + 0.244998688441e-4) * P + 0.156059257041e0) * P;
    const double dcstp = -0.127562783426e-1 * T * S + 0.635191613389e-2 * T * P +
                         0.265484716608e-7 * T * T * P * P - 0.159349479045e-5 * T * P * P +
                         0.522116437235e-9 * T * P * P * P - 0.438031096213e-6 * T * T * T * P -
                         0.161674495909e-8 * S * S * P * P + 0.968403156410e-4 * T * T * S +
                         0.485639620015e-5 * T * S * S * P - 0.340597039004e-3 * T * S * P;
    return 1402.392 + dct + dcs + dcp + dcstp;
}

// Mackenzie (1981), the nine-term equation; D metres.
double CSoundSpeed::Mackenzie(double D, double T, double S) {
    Check(D, 0.0, 8000.0, SV_INVALID_DEPTH);
    Check(T, 2.0, 30.0, SV_INVALID_TEMPERATURE);
    Check(S, 25.0, 40.0, SV_INVALID_SALINITY);
    return 1448.96 + 4.591 * T - 5.304e-2 * T * T + 2.374e-4 * T * T * T + 1.340 * (S - 35.0) +
           1.630e-2 * D + 1.675e-7 * D * D - 1.025e-2 * T * (S - 35.0) - 7.139e-13 * T * D * D * D;
}

// Medwin (1975); z metres.
double CSoundSpeed::Medwin(double z, double T, double S) {
    Check(z, 0.0, 1000.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 35.0, SV_INVALID_TEMPERATURE);
    Check(S, 0.0, 45.0, SV_INVALID_SALINITY);
    return 1449.2 + 4.6 * T - 0.055 * T * T + 0.00029 * T * T * T + (1.34 - 0.01 * T) * (S - 35.0) +
           0.016 * z;
}

// Wilson (1960), first equation (JASA 32(6), 641); T IPTS-48, P kg/cm².
double CSoundSpeed::Wilson1(double P, double T, double S) {
    Check(P, 0.0, 1000.0, SV_INVALID_DEPTH);
    Check(T, -4.0, 30.0, SV_INVALID_TEMPERATURE);
    Check(S, 33.0, 37.0, SV_INVALID_SALINITY);
    const double s = S - 35.0;
    const double dct = (((-5.07e-7 * T + 2.822e-4) * T - 5.4585e-2) * T + 4.6233) * T;
    const double dcp = (((-3.503e-12 * P + 3.451e-9) * P + 1.0279e-5) * P + 1.60518e-1) * P;
    const double dcs = (-7.8e-2 * s + 1.391) * s;
    const double dcstp = ((-1.745e-10 * T * P + (9.286e-10 * T - 2.391e-7) * T) * P +
                          ((-6.644e-8 * T + 1.3302e-5) * T - 2.796e-4) * T) *
                             P +
                         s * ((-2.09e-6 * T - 1.96e-7 * P + 2.61e-4) * P - 1.197e-2 * T);
    return 1449.22 + dct + dcp + dcs + dcstp;
}

// Wilson (1960), second equation (JASA 32(10), 1357); T IPTS-48, P kg/cm².
double CSoundSpeed::Wilson2(double P, double T, double S) {
    Check(P, 0.0, 1000.0, SV_INVALID_DEPTH);
    Check(T, -4.0, 30.0, SV_INVALID_TEMPERATURE);
    Check(S, 33.0, 37.0, SV_INVALID_SALINITY);
    const double s = S - 35.0;
    const double dct = (((7.9851e-6 * T - 2.6045e-4) * T - 4.4532e-2) * T + 4.5721) * T;
    const double dcp = (((-3.3603e-12 * P + 3.5216e-9) * P + 1.0268e-5) * P + 1.60272e-1) * P;
    const double dcs = (1.69202e-3 * s + 1.39799) * s;
    const double dcstp = ((-1.9646e-10 * T * P + (1.8563e-9 * T - 2.5294e-7) * T) * P +
                          ((4.5283e-8 * T + 7.4812e-6) * T - 1.8607e-4) * T) *
                             P +
                         s * (((1.5790e-9 * T + 3.1580e-8) * T - 1.2943e-7 * P + 7.7016e-5) * P +
                              (7.7711e-7 * T - 1.1244e-2) * T);
    return 1449.14 + dct + dcp + dcs + dcstp;
}

// Lovett (1978), the simplified twelve-term merged equation; T IPTS-48, pressure given in
// bar (the equation itself works in decibars).
double CSoundSpeed::Lovett(double pressureBar, double T, double S) {
    Check(pressureBar, 0.0, 10000.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 35.0, SV_INVALID_TEMPERATURE);
    Check(S, 29.0, 41.0, SV_INVALID_SALINITY);
    const double p = 10.0 * pressureBar;
    return 1402.394 + ((2.221008e-4 * T - 5.513036e-2) * T + 5.01132) * T + 1.332947 * S +
           (2.12448e-7 * p + 1.605336e-2) * p - 1.266383e-2 * T * S + 9.543664e-5 * T * T * S -
           1.052396e-8 * T * p * p + 2.183988e-13 * T * p * p * p - 2.253828e-13 * S * p * p * p +
           2.062107e-8 * T * S * S * p;
}

// Leroy (1969), second equation, complete; z metres, latitude in degrees.
double CSoundSpeed::Leroy(double z, double T, double S) {
    Check(z, 0.0, 12000.0, SV_INVALID_DEPTH);
    Check(T, -2.0, 34.0, SV_INVALID_TEMPERATURE);
    Check(S, 20.0, 42.0, SV_INVALID_SALINITY);
    const double Z = z / 1000.0;
    const double s = S - 35.0;
    const double c0 = 1493.0 + 3.0 * (T - 10.0) - 6e-3 * (T - 10.0) * (T - 10.0) -
                      4e-2 * (T - 18.0) * (T - 18.0) + 1.2 * s - 1e-2 * (T - 18.0) * s + z / 61.0;
    const double ca =
        1e-1 * Z * Z + 2e-4 * Z * Z * (T - 18.0) * (T - 18.0) + 1e-1 * Z * m_dfLatitude / 90.0;
    const double cb = 2.6e-4 * T * (T - 5.0) * (T - 25.0);
    const double cc = -1e-3 * Z * Z * (Z - 4.0) * (Z - 8.0);
    const double cd = 1.5e-3 * s * s * (1.0 - Z) + 3e-6 * T * T * (T - 30.0) * s;
    return c0 + ca + cb + cc + cd;
}

// Coppens (1981); depth in metres (the equation works in kilometres and T / 10).
double CSoundSpeed::Coppens(double depth, double T, double S) {
    Check(depth, 0.0, 4000.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 35.0, SV_INVALID_TEMPERATURE);
    Check(S, 0.0, 45.0, SV_INVALID_SALINITY);
    const double D = depth / 1000.0;
    const double t = T / 10.0;
    const double s = S - 35.0;
    const double c0 = 1449.05 + 45.7 * t - 5.21 * t * t + 0.23 * t * t * t +
                      (1.333 - 0.126 * t + 0.009 * t * t) * s;
    return c0 + (16.23 + 0.253 * t) * D + (0.213 - 0.1 * t) * D * D +
           (0.016 + 0.0002 * s) * s * t * D;
}

// Kinsler, Frey, Coppens and Sanders (1982); depth in metres (the equation works in km).
double CSoundSpeed::KinslerFrey(double depth, double T, double S) {
    Check(depth, 0.0, 4000.0, SV_INVALID_DEPTH);
    Check(T, 0.0, 35.0, SV_INVALID_TEMPERATURE);
    Check(S, 0.0, 45.0, SV_INVALID_SALINITY);
    const double z = depth / 1000.0;
    return 1449.05 + 4.57 * T - 0.0521 * T * T + 2.3e-4 * T * T * T +
           (1.333 - 0.0126 * T + 9e-5 * T * T) * (S - 35.0) + 16.3 * z + 0.18 * z * z;
}
