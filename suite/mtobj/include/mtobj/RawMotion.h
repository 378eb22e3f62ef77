// The simulator as a raw inertial sensor: from a vessel's motion in closed form, the gyroscope
// rates, the specific force and the magnetic field a strapped-down sensor on it measures, with
// the iron of its mounting and the noise of a good MEMS sensor, and the true attitude beside
// every sample. Seeded: the same scenario and seed give the same samples.
//
// Axes and units as the attitude filter's: body x bow, y port, z up; level frame x north,
// y west, z up; rad/s, m/s², gauss.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "filter/AttitudeFilter.h"

namespace mtobj {

// An irregular sea: each motion of the vessel's centre a sum of wave components with random
// phases drawn from a JONSWAP spectrum about its own peak period (peakEnhancement 1 gives
// Pierson-Moskowitz), scaled to its significant amplitude. Amplitudes are significant (twice
// the standard deviation) in degrees for roll, pitch and yaw and in metres for surge and
// sway; heave is given as the significant heave height, four standard deviations (crest to
// trough, as a wave's significant height is).
struct IrregularSea {
    double rollSignificant = 15, rollPeriod = 9;
    double pitchSignificant = 6, pitchPeriod = 7;
    double yawSignificant = 3, yawPeriod = 10;
    double heaveSignificant = 2, heavePeriod = 8;
    double surgeSignificant = 0.4, surgePeriod = 8;
    double swaySignificant = 1.0, swayPeriod = 9;
    double peakEnhancement = 3.3;
    int components = 24;  // per motion
};

// A turn of the course: `rate` °/s (positive clockwise, to starboard) from `start` for
// `duration` seconds, easing in and out over five seconds.
struct RawTurn {
    double start = 0, duration = 0, rate = 0;
};

struct RawScenario {
    // The sea: roll (bank about the bow axis) and pitch swell about a list and a trim, a yaw
    // wobble, and heave; degrees, seconds, metres.
    double rollAmplitude = 20, rollPeriod = 10, list = 0;
    double pitchAmplitude = 10, pitchPeriod = 6, trim = 0;
    double yawAmplitude = 1, yawPeriod = 15;
    double heaveAmplitude = 1.5, heavePeriod = 8;
    // With `irregular` set the sea above is replaced by the spectra of `sea` (list and trim
    // stay).
    bool irregular = false;
    IrregularSea sea;
    // The sensor's place from the centre the vessel rolls and pitches about (body axes, m).
    attfilter::Vec3 leverArm{0, 0, 5};
    // The course: initial heading (degrees), speed (knots), and one turn of turnRate (°/s,
    // positive clockwise, to starboard) from turnStart for turnDuration seconds.
    double heading = 0;
    double speedKnots = 10;
    double turnStart = -1, turnDuration = 0, turnRate = 0;
    // More turns of the course, beside the one above.
    std::vector<RawTurn> turns;
    // How far the vessel heels outward in a turn: the heel's tangent for each g of the
    // turn's centripetal acceleration (0: upright).
    double turnHeel = 0;
    // The Earth's field (gauss, degrees of dip below the horizontal).
    double fieldStrength = 0.5, inclination = 66;
    // The mounting's iron: raw = softIron · field + hardIron (softIron row-major).
    attfilter::Vec3 hardIron;
    std::array<double, 9> softIron{1, 0, 0, 0, 1, 0, 0, 0, 1};
    // A steel mass passing: this field (body axes, gauss) fades in and out over the window.
    double disturbanceStart = -1, disturbanceDuration = 0;
    attfilter::Vec3 disturbanceField{0.06, 0.08, -0.02};
    // Sensor errors. The gyroscope's fixed bias is drawn per axis within ±gyroBiasLimit (°/s)
    // from its seed, plus gyroBias (°/s) as given, plus gyroBiasStep from gyroBiasStepAt on.
    bool noise = true;
    double gyroBiasLimit = 0.5;
    attfilter::Vec3 gyroBias;
    double gyroBiasStepAt = -1;
    attfilter::Vec3 gyroBiasStep;
    attfilter::Vec3 accelOffset;  // m/s²
    std::uint32_t seed = 1;
};

// The same vessel and sensor lying still: no sea, no way, no turn (for rest calibrations).
RawScenario AtRest(RawScenario scenario);

// A sensor in a steel hull in a slight sea (3 degrees of roll, 1 of pitch, 0.5 m of heave):
// hard iron of a third of the field and a 20 % soft-iron squeeze, what a magnetometer
// calibration must remove.
RawScenario IronHull();

// Scenarios drawn over ranges, the same seed giving the same scenario: a heavy irregular sea
// (roll 12 to 18° significant at 7 to 12 s, pitch 4 to 8°, a yaw wobble of 2 to 4°, heave 1.5
// to 3 m, sway and surge, the sensor 2 to 8 m above and up to 6 m fore or aft of the centre of
// motion, 5 to 12 knots), the same with two or three turns of 0.5 to 5 °/s, a moderate sea
// (roughly half of everything) and calm water with a low swell; each with an uncalibrated
// gyroscope (bias up to 0.5 °/s on each axis) on a random heading.
enum class SeaKind { Heavy, HeavyWithTurns, Moderate, Calm };
RawScenario DrawScenario(SeaKind kind, std::uint32_t seed);
const char* SeaKindName(SeaKind kind);

// The truth at one time: the attitude and the orientation (body to level).
struct RawTruth {
    double seconds = 0;
    attfilter::EulerAngles attitude;
    attfilter::Quat orientation{1, 0, 0, 0};
};

class CRawMotion {
public:
    // Samples at `rate` Hz from time 0 (the first sample's time is startSeconds).
    CRawMotion(const RawScenario& scenario, double rate, double startSeconds = 0);

    // The next sample (gyroscope, accelerometer and magnetometer together) and its truth.
    attfilter::RawSample Next(RawTruth* truth = nullptr);
    // The next samples over `seconds`.
    std::vector<attfilter::RawSample> Record(double seconds);
    double Rate() const { return m_rate; }
    // The fixed gyroscope bias this run has (rad/s), without the slow wander.
    attfilter::Vec3 FixedGyroBias() const { return m_fixedBias; }

    // The closed-form motion, t in seconds of motion time; no sensor errors.
    attfilter::Quat OrientationAt(double t) const;
    RawTruth TruthAt(double t) const;
    attfilter::Vec3 BodyRateAt(double t) const;       // rad/s, body axes
    attfilter::Vec3 SpecificForceAt(double t) const;  // m/s², body axes
    attfilter::Vec3 FieldAt(double t) const;          // gauss, body axes, with iron and disturbance
    // Where a point of the vessel is (level axes, m, from where the sensor's track would be
    // without the sea), given by its place from the sensor in body axes; and its heave: how
    // far it stands above where it would stand on flat water (list and trim kept, no heave),
    // positive up.
    attfilter::Vec3 PositionAt(double t, const attfilter::Vec3& fromSensor = {}) const;
    double HeaveAt(double t, const attfilter::Vec3& fromSensor = {}) const;
    // The velocity over ground of a point of the vessel (level axes: north, west, up; m/s):
    // the way along the course, and the sea's motion with the point swung about the centre.
    attfilter::Vec3 VelocityAt(double t, const attfilter::Vec3& fromSensor = {}) const;

private:
    struct Angles {
        double heading, pitch, bank;  // radians, Euler z-y-x
    };
    // One motion of an irregular sea: its components' amplitudes, angular frequencies and
    // phases.
    struct Spectrum {
        std::vector<double> amplitude, omega, phase;
        double At(double t) const;
        double RateAt(double t) const;
    };
    Spectrum Draw(double significant, double period, const IrregularSea& sea);
    Angles AnglesAt(double t) const;
    Angles RatesAt(double t) const;
    double CourseAt(double t) const;
    double TurnRateAt(double t) const;
    double HeelAt(double t) const;  // radians, positive port up
    // The centre of motion's sway of the sea: surge, sway and heave (m) along the course,
    // across it (to port) and up.
    attfilter::Vec3 CentreAt(double t) const;
    double Unit();  // uniform in (0, 1), from its seed
    double Gaussian();

    RawScenario m_s;
    double m_rate;
    double m_start;
    std::uint64_t m_index = 0;
    std::uint64_t m_state;
    double m_rollPhase, m_pitchPhase, m_yawPhase, m_heavePhase;
    Spectrum m_roll, m_pitch, m_yaw, m_heave, m_surge, m_sway;  // of an irregular sea
    std::vector<RawTurn> m_turns;
    attfilter::Vec3 m_fixedBias;
    attfilter::Vec3 m_wander;  // the bias' slow wander (rad/s)
};

}  // namespace mtobj
