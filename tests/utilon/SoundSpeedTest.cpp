#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "utilon/SoundSpeed.h"

// Check values: each equation against a value published independently of this code.
// "sonar" is the CRAN package sonar 1.0.2 (J. Gama), whose manual pages print the output
// of their examples; "MathWorks" is the underwaterSoundSpeed reference page (Audio
// Toolbox), which prints five significant figures.

namespace {

TEST(SoundSpeed, ChenMilleroAgainstTheUnescoCheckValue) {
    CSoundSpeed sv;
    // Fofonoff and Millard (1983), UNESCO Tech. Pap. Mar. Sci. 44, p. 48: S = 40,
    // T = 40 °C, P = 10000 dbar gives 1731.995 m/s.
    EXPECT_NEAR(sv.ChenMillero(1000.0, 40.0, 40.0), 1731.995, 0.0005);
    // sonar, SpeedOfSoundSeaWaterChenAndMillero(30, 0, 1.019716): 1442.619.
    EXPECT_NEAR(sv.ChenMillero(1.019716, 0.0, 30.0), 1442.619, 0.0005);
    EXPECT_EQ(sv.InvalidParameters(), 0);
}

TEST(SoundSpeed, DelGrossoMackenzieMedwinAgainstPublishedValues) {
    CSoundSpeed sv;
    // sonar, SpeedOfSoundSeaWaterDelGrosso(30, 0, 1.019716): 1442.553.
    EXPECT_NEAR(sv.DelGrosso(1.019716, 0.0, 30.0), 1442.553, 0.0005);
    // MathWorks: underwaterSoundSpeed(11, 35, 1000) (Mackenzie) = 1.5098e+03.
    EXPECT_NEAR(sv.Mackenzie(1000.0, 11.0, 35.0), 1509.8, 0.05);
    EXPECT_NEAR(sv.Mackenzie(1000.0, 10.0, 35.0), 1506.26, 0.005);
    // sonar, SpeedOfSoundSeaWaterMedwin example output 1442.516 (T = 0 °C, 1 m, S = 30).
    EXPECT_NEAR(sv.Medwin(1.0, 0.0, 30.0), 1442.516, 0.0005);
}

TEST(SoundSpeed, WilsonLovettCoppensAgainstPublishedValues) {
    CSoundSpeed sv;
    // sonar, SpeedOfSoundSeaWaterWilson(0, 30, 0.1 MPa), Wilson (1960) JASA 32(10) 1357:
    // 1442.36. 0.1 MPa is 1.019716 kg/cm².
    EXPECT_NEAR(sv.Wilson2(1.019716, 0.0, 30.0), 1442.36, 0.005);
    // Lovett (1978) JASA 63, 1713, simplified equation: T = 2 °C, S = 34.7, 6000 dbar gives
    // 1559.499 m/s (quoted as the check value by sonar, SpeedOfSoundSeaWaterLovett3).
    EXPECT_NEAR(sv.Lovett(600.0, 2.0, 34.7), 1559.499, 0.0005);
    // sonar, SpeedOfSoundSeaWaterCoppens(0, 35, 25): 1534.331.
    EXPECT_NEAR(sv.Coppens(0.0, 25.0, 35.0), 1534.331, 0.0005);
    // MathWorks: underwaterSoundSpeed(11, 35, 1000, "coppens") = 1.5099e+03.
    EXPECT_NEAR(sv.Coppens(1000.0, 11.0, 35.0), 1509.9, 0.05);
    // Kinsler and Frey's surface polynomial is Coppens' written in T instead of T / 10.
    EXPECT_NEAR(sv.KinslerFrey(0.0, 25.0, 35.0), 1534.331, 0.0005);
    // Wilson's equations were fitted for salinities 33 to 37 only.
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_SALINITY);
}

TEST(SoundSpeed, EquationsWithoutAPublishedValueAgreeWithTheOthers) {
    // No independent check value was found for these; they must at least agree with the
    // verified equations within their published standard errors (under 1 m/s here).
    CSoundSpeed sv;
    sv.SetLatitude(45.0);
    const double reference = sv.Mackenzie(1000.0, 11.0, 35.0);
    const double kg = sv.DepthToPressure(1000.0) * CSoundSpeed::kKgPerCm2PerBar;
    EXPECT_NEAR(sv.Wilson1(kg, 11.0, 35.0), reference, 1.0);
    EXPECT_NEAR(sv.Leroy(1000.0, 11.0, 35.0), reference, 1.0);
    EXPECT_NEAR(sv.KinslerFrey(1000.0, 11.0, 35.0), reference, 1.0);
}

TEST(SoundSpeed, SelectionFollowsTheInputKind) {
    struct Row {
        int code, withDepth, withPressure;
    };
    const Row rows[] = {{0, 102, 0},   {1, 100, 1},     {2, 2, 2},       {3, 3, 3},
                        {4, 103, 103}, {5, 5, 5},       {100, 100, 1},   {101, 101, 101},
                        {102, 102, 0}, {103, 103, 103}, {104, 104, 104}, {42, 42, 42}};
    for (const Row& row : rows) {
        CSoundSpeed sv;
        sv.AcceptDepth(1);
        sv.SetEquation(row.code);
        EXPECT_EQ(sv.GetEquation(), row.withDepth) << row.code;
        EXPECT_EQ(sv.LatitudeRequired(), row.withDepth >= 100 && row.withDepth <= 104);
        sv.AcceptDepth(0);
        EXPECT_EQ(sv.GetEquation(), row.withDepth) << "takes effect at the next SetEquation";
        sv.SetEquation(row.code);
        EXPECT_EQ(sv.GetEquation(), row.withPressure) << row.code;
        EXPECT_EQ(sv.LatitudeRequired(), row.withPressure >= 100 && row.withPressure <= 104);
    }
    const CSoundSpeed fresh;
    EXPECT_EQ(fresh.GetEquation(), 102);
    EXPECT_TRUE(fresh.LatitudeRequired());
    EXPECT_EQ(fresh.GetLatitude(), 30.0);
}

TEST(SoundSpeed, DepthFormsConvertDepthToTheirPressureUnit) {
    CSoundSpeed sv;
    EXPECT_EQ(sv.DepthToPressure(0.0), 0.0);
    // The UNESCO 1983 depth of the converted pressure is the depth asked for.
    const double bar = sv.DepthToPressure(1000.0);
    EXPECT_NEAR(bar, 100.93, 0.01);
    double speed = 0;
    sv.SetEquation(0);  // 102
    sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed);
    EXPECT_DOUBLE_EQ(speed, sv.ChenMillero(bar, 11.0, 35.0));
    sv.SetEquation(1);  // 100
    sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed);
    EXPECT_DOUBLE_EQ(speed, sv.DelGrosso(bar * 1.01971621298, 11.0, 35.0));
    sv.SetEquation(4);  // 103
    sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed);
    EXPECT_DOUBLE_EQ(speed, sv.Wilson1(bar * 1.01971621298, 11.0, 35.0));
    sv.SetEquation(104);
    sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed);
    EXPECT_DOUBLE_EQ(speed, sv.Wilson2(bar * 1.01971621298, 11.0, 35.0));
    sv.SetEquation(101);
    sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed);
    EXPECT_DOUBLE_EQ(speed, sv.Lovett(bar, 11.0, 35.0));
    // Gravity grows toward the poles, so the same depth weighs more there.
    sv.SetLatitude(80.0);
    EXPECT_GT(sv.DepthToPressure(1000.0), bar);

    sv.SetEquation(77);
    speed = 1.0;
    EXPECT_EQ(sv.GetSoundSpeed(1000.0, 11.0, 35.0, speed), 1);
    EXPECT_EQ(speed, 0.0);
}

TEST(SoundSpeed, RangeBitsAndLimits) {
    CSoundSpeed sv;
    sv.SetEquation(2);
    double speed = 0;
    sv.GetSoundSpeed(1000.0, 31.0, 35.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_TEMPERATURE);
    EXPECT_NEAR(speed, sv.Mackenzie(1000.0, 31.0, 35.0), 0.0);
    EXPECT_GT(speed, 1500.0);
    // Limits themselves are valid; each call starts from clear bits.
    sv.GetSoundSpeed(8000.0, 30.0, 25.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), 0);
    sv.GetSoundSpeed(8000.5, 1.9, 40.5, speed);
    EXPECT_EQ(sv.InvalidParameters(),
              SV_INVALID_DEPTH | SV_INVALID_TEMPERATURE | SV_INVALID_SALINITY);
    // NaN is out of range, not silently valid.
    sv.GetSoundSpeed(std::nan(""), 10.0, 35.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_DEPTH);
    sv.SetEquation(3);
    sv.GetSoundSpeed(-1.0, 10.0, 46.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_DEPTH | SV_INVALID_SALINITY);
}

TEST(SoundSpeed, AbsurdDepthsEndTheIterationAndAreFlagged) {
    CSoundSpeed sv;
    int steps = -1;
    EXPECT_TRUE(std::isnan(sv.DepthToPressure(1e7, &steps)));
    EXPECT_LE(steps, CSoundSpeed::kMaxPressureIterations);
    EXPECT_TRUE(std::isnan(sv.DepthToPressure(std::numeric_limits<double>::infinity(), &steps)));
    EXPECT_TRUE(std::isnan(sv.DepthToPressure(std::nan(""), &steps)));
    EXPECT_EQ(steps, 0);
    // Above the surface the pressure is negative, and the equation flags it.
    EXPECT_LT(sv.DepthToPressure(-100.0), 0.0);
    double speed = 0;
    sv.GetSoundSpeed(-100.0, 10.0, 35.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_DEPTH);
    sv.GetSoundSpeed(1e7, 10.0, 35.0, speed);
    EXPECT_EQ(sv.InvalidParameters(), SV_INVALID_DEPTH);
    EXPECT_TRUE(std::isnan(speed));
    sv.SetLatitude(std::nan(""));
    EXPECT_TRUE(std::isnan(sv.DepthToPressure(10.0)));
}

TEST(SoundSpeed, EquationListOffersFiveEquations) {
    std::vector<WORD> codes{99};
    std::vector<std::string> names{"old"};
    CSoundSpeed::EquationList(codes, names);
    EXPECT_EQ(codes, (std::vector<WORD>{0, 1, 2, 3, 5}));
    EXPECT_EQ(names,
              (std::vector<std::string>{"Chen and Millero (1977)", "Del Grosso (1974)",
                                        "Mackenzie (1981)", "Medwin (1975)", "Wilson (1960)"}));
}

}  // namespace
