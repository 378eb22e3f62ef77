// The main window driven offscreen with the simulated sensor: its lists, settings,
// connection lamp, outputs, variation, health-check messages and embedded mode.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "GuiTestApp.h"
#include "RawCapture.h"
#include "TestSupport.h"
#include "app/AdvancedDlg.h"
#include "app/AttitudeDlg.h"
#include "app/CJLatitudeEdit.h"
#include "app/Config.h"
#include "app/ExitStatus.h"
#include "app/MotionTrackerHealthCheck.h"
#include "app/QtPromptService.h"
#include "app/ServerModule.h"
#include "app/TavimoDlg.h"
#include "app/Telegrams.h"
#include "app/XsensModule.h"
#include "attitude/AttitudeControls.h"
#include "comlane/SerialDevice.h"
#include "interfaces/Tickwise.h"
#include "led/LedCtrl.h"
#include "logmill/Logmill.h"
#include "mtobj/CalibrationStore.h"
#include "mtobj/MTObj.h"
#include "platform/Prompt.h"
#include "platform/Registry.h"
#include "utilon/CommandLineInfoEx.h"

namespace {
// Answers every message box and remembers its text.
class CAnsweringPrompt : public IPromptService {
public:
    int Show(const std::string& text, const std::string&, UINT type) override {
        texts.push_back(text);
        return (type & MB_YESNO) != 0 ? answer : IDOK;
    }
    std::vector<std::string> texts;
    int answer = IDNO;
};

class TavimoDlgTest : public testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        CoInitialize(nullptr);
        // The program serves its own sink class, as the application object does at start-up.
        ASSERT_EQ(server.RegisterClassObjects(), S_OK);
        platform::SetPromptService(&prompts);
        m_config = tavimo_test::TempRoot() + "/Window.xml";
    }
    void TearDown() override {
        dlg.reset();
        platform::SetPromptService(nullptr);
        CoUninitialize();
    }
    // Makes the window as the program does (the configuration named on the command line)
    // and runs its start-up.
    CTavimoDlg& Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"tavimo", m_config};
        args.insert(args.end(), extra.begin(), extra.end());
        ParseCommandLine(commandLine, args);
        dlg = std::make_unique<CTavimoDlg>(commandLine);
        dlg->OnInitDialog();
        dlg->show();
        return *dlg;
    }
    template <class T>
    T* Control(int id) {
        return qobject_cast<T*>(dlg->Control(id));
    }
    bool WaitConnected() {
        return QTest::qWaitFor([this] { return dlg->Led()->GetActiveColor() != 0x0087FF; }, 10000);
    }
    CComPtr<IMotionTrackerSimulation> Simulation() {
        CComPtr<IMotionTrackerSimulation> sim;
        dlg->SensorLink()->GetTracker()->QueryInterface(IID_IMotionTrackerSimulation,
                                                        reinterpret_cast<void**>(&sim));
        return sim;
    }
    std::string ConfigValue(const char* key) {
        CConfig config;
        CComBSTR value("");
        if (!config.Load(CComBSTR(m_config)) || !config.GetValue(CComBSTR(key), value)) {
            return "<missing>";
        }
        return value.str();
    }

    CTavimoServerModule server{"/usr/bin/tavimo"};
    attitude::CAttitudeControlsRegistration controls;
    CAnsweringPrompt prompts;
    CCommandLineInfoEx commandLine;
    std::unique_ptr<CTavimoDlg> dlg;
    std::string m_config;
};
}  // namespace

TEST_F(TavimoDlgTest, StartUpFillsTheListsWritesTheDefaultFileAndConnects) {
    CTavimoDlg& w = Start();
    EXPECT_TRUE(std::filesystem::exists(m_config));  // a missing file starts as the default
    auto* telegrams = Control<QComboBox>(13735);
    ASSERT_NE(telegrams, nullptr);
    ASSERT_EQ(telegrams->count(), kOutputTelegramCount);
    EXPECT_EQ(telegrams->itemText(7), "HDM,TSS1");
    EXPECT_EQ(telegrams->itemData(7).toInt(), 7);
    EXPECT_EQ(telegrams->itemText(TELEGRAM_SIGNALK), "Signal K");  // "SignalK" in the file
    auto* frequency = Control<QComboBox>(13743);
    EXPECT_EQ(frequency->itemText(0), "1 Hz");
    EXPECT_EQ(frequency->currentText(), "Max Output");
    auto* ports = Control<QComboBox>(13709);
    EXPECT_GE(ports->findText("COM1"), 0);
    EXPECT_EQ(ports->currentText(), "COM1");
    EXPECT_EQ(Control<QComboBox>(13731)->currentText(), "COM2");
    EXPECT_EQ(Control<QComboBox>(13711)->itemText(0), "115200");
    EXPECT_FALSE(Control<QPushButton>(13739)->isEnabled());  // until a sensor answers
    EXPECT_EQ(w.Led()->GetActiveColor(), 0x0087FFu);         // connecting: orange

    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(w.Led()->GetActiveColor(), 0x00FF00u);
    EXPECT_TRUE(Control<QPushButton>(13739)->isEnabled());
    EXPECT_TRUE(w.IsSensorRunning());
    EXPECT_FALSE(w.DeviceId().empty());
    // Live values reach the labels within a few refreshes.
    auto* heading = Control<QLabel>(13720);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !heading->text().isEmpty(); }, 10000));
    EXPECT_TRUE(Control<QLabel>(13708)->text().contains("min /"));
    SaveScreenshot(w, "main-window");
}

TEST_F(TavimoDlgTest, SensorOnAnotherPortTurnsTheLampRed) {
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.SetValue(CComBSTR("SensorPort/Path"), CComBSTR("COM3")));
    ASSERT_TRUE(config.Save(CComBSTR("")));
    CTavimoDlg& w = Start();
    EXPECT_EQ(Control<QComboBox>(13709)->currentText(), "COM3");
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(w.Led()->GetActiveColor(), 0x0000FFu);
    EXPECT_FALSE(Control<QPushButton>(13739)->isEnabled());
    EXPECT_FALSE(w.IsSensorRunning());
}

TEST_F(TavimoDlgTest, FrequencyListSetsTheOutputIntervalAtOnce) {
    CTavimoDlg& w = Start();
    auto* frequency = Control<QComboBox>(13743);
    EXPECT_EQ(w.SensorLink()->GetOutputInterval(), 0.0);
    const std::pair<const char*, double> cases[] = {{"1 Hz", 1000}, {"2 Hz", 500},
                                                    {"5 Hz", 200},  {"10 Hz", 100},
                                                    {"25 Hz", 40},  {"Max Output", 0}};
    for (const auto& [text, interval] : cases) {
        frequency->setCurrentIndex(frequency->findText(text));
        w.OnSelChangeFrequency();
        EXPECT_EQ(w.SensorLink()->GetOutputInterval(), interval) << text;
    }
}

TEST_F(TavimoDlgTest, TelegramListsEnableTheirRowsAndTheApplyButton) {
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    CConfig config;
    config.Load(CComBSTR(m_config));
    config.SetValue(CComBSTR("PrimaryPort/Telegram"), CComBSTR(""));
    config.SetValue(CComBSTR("SecondaryPort/Telegram"), CComBSTR(""));
    config.Save(CComBSTR(""));
    CTavimoDlg& w = Start();
    // No stored telegram text: the start-up stores "None" and marks both rows changed.
    EXPECT_TRUE(Control<QPushButton>(13717)->isEnabled());
    EXPECT_FALSE(Control<QComboBox>(13743)->isEnabled());  // both rows "None"
    EXPECT_FALSE(Control<QComboBox>(13731)->isEnabled());
    EXPECT_FALSE(Control<QComboBox>(13734)->isEnabled());
    EXPECT_EQ(w.PrimaryOutputId(), 0);

    auto* primary = Control<QComboBox>(13735);
    primary->setCurrentIndex(primary->findText("HDT"));
    w.OnSelChangeTelegram(true);
    EXPECT_TRUE(Control<QComboBox>(13743)->isEnabled());
    EXPECT_TRUE(Control<QComboBox>(13731)->isEnabled());
    w.OnApplyOutput();
    EXPECT_NE(w.PrimaryOutputId(), 0);
    EXPECT_FALSE(Control<QPushButton>(13717)->isEnabled());
    EXPECT_EQ(ConfigValue("PrimaryPort/Telegram"), "HDT");
    EXPECT_EQ(ConfigValue("SecondaryPort/Telegram"), "None");

    primary->setCurrentIndex(0);
    w.OnSelChangeTelegram(true);
    w.OnApplyOutput();
    EXPECT_EQ(w.PrimaryOutputId(), 0);  // "None" removes the output

    // The window shows "Signal K"; the file names it "SignalK", and reads it back so.
    primary->setCurrentIndex(primary->findText("Signal K"));
    w.OnSelChangeTelegram(true);
    w.OnApplyOutput();
    EXPECT_EQ(ConfigValue("PrimaryPort/Telegram"), "SignalK");
    primary->setCurrentIndex(0);
    ASSERT_TRUE(w.LoadSettings());
    EXPECT_EQ(primary->currentText(), "Signal K");
}

TEST_F(TavimoDlgTest, MagneticVariationLimits) {
    CTavimoDlg& w = Start();
    CCJLatitudeEdit* edit = w.VariationEdit();
    ASSERT_NE(edit, nullptr);
    edit->SetValue(180.0);
    w.OnApplyVariation();
    EXPECT_TRUE(prompts.texts.empty());
    EXPECT_FLOAT_EQ(w.SensorLink()->GetMagneticVariation(), 180.0F);
    edit->SetValue(-180.0);
    w.OnApplyVariation();
    EXPECT_FLOAT_EQ(w.SensorLink()->GetMagneticVariation(), -180.0F);
    EXPECT_EQ(std::stod(ConfigValue("MagneticVariation")), -180.0);
    edit->SetValue(-180.01);
    w.OnApplyVariation();
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_EQ(prompts.texts[0].rfind("Please enter a Magnetic Variation value between: ", 0), 0u);
    EXPECT_FLOAT_EQ(w.SensorLink()->GetMagneticVariation(), -180.0F);  // the old value stays
    EXPECT_NEAR(edit->GetValue(), -180.0, 1e-9);
}

TEST_F(TavimoDlgTest, VariationEditFollowsAUnitChangeWhenItGetsTheFocus) {
    CTavimoDlg& w = Start();
    w.VariationEdit()->SetValue(-12.25);
    w.OnApplyVariation();
    const QString before = w.VariationEdit()->text();
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, "SOFTWARE\\Tervalis\\Calyra\\Properties"),
              ERROR_SUCCESS);
    key.SetString("Units:Latitude/Longitude:Default[String]", "DDD.ddd");
    QFocusEvent focus(QEvent::FocusIn);
    QApplication::sendEvent(w.VariationEdit(), &focus);
    EXPECT_NE(w.VariationEdit()->text(), before);
    EXPECT_TRUE(w.VariationEdit()->text().contains("12.250"));
    EXPECT_NEAR(w.VariationEdit()->GetValue(), -12.25, 1e-9);
}

TEST_F(TavimoDlgTest, AdvancedDialogRateTooHighForTheBaudRateLeavesTheSensorStopped) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    w.StopSensorIfRunning();
    w.SetSampleRate(512);
    w.CheckRateAndStart();
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_EQ(prompts.texts.back(), "Sample Rate too high for this Baud rate !");
    EXPECT_FALSE(w.IsSensorRunning());
    w.SetSampleRate(400);  // 400 x 270 = 108000 fits 115200
    w.CheckRateAndStart();
    EXPECT_TRUE(w.IsSensorRunning());
}

TEST_F(TavimoDlgTest, AdvancedDialogValidatesAndCopiesBack) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    CAdvancedDlg advanced(&w);
    auto* window = advanced.findChild<QLineEdit*>("windowEdit");
    auto* gain = advanced.findChild<QLineEdit*>("gainEdit");
    ASSERT_TRUE(window && gain);
    window->setText("10001");
    advanced.OnOK();
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_EQ(advanced.result(), 0);  // still open
    window->setText("10000");
    gain->setText("2.5");
    // The GNSS receiver's port and antenna go with the heave settings; an antenna beyond
    // any vessel is named.
    auto* gnssPort = advanced.findChild<QLineEdit*>("gnssPortEdit");
    auto* antennaZ = advanced.findChild<QLineEdit*>("antennaZEdit");
    ASSERT_TRUE(gnssPort && antennaZ);
    gnssPort->setText(" COM5 ");
    antennaZ->setText("600");
    const std::size_t said = prompts.texts.size();
    advanced.OnOK();
    EXPECT_EQ(prompts.texts.size(), said + 1);
    EXPECT_EQ(advanced.result(), 0);
    antennaZ->setText("12.5");
    advanced.OnOK();
    EXPECT_EQ(advanced.result(), QDialog::Accepted);
    EXPECT_EQ(w.Settings().m_nTimeWindow, 10000);
    EXPECT_FLOAT_EQ(w.Settings().m_fFilterGain, 2.5F);
    EXPECT_EQ(w.Settings().m_heave.gnssPort, "COM5");
    EXPECT_EQ(w.Settings().m_heave.gnssBaud, 4800);
    EXPECT_EQ(w.Settings().m_heave.antennaZ, 12.5);

    CAdvancedDlg logging(&w);
    logging.m_browse = [](const std::string&) { return tavimo_test::TempRoot(); };
    logging.OnBrowseFolder();
    EXPECT_EQ(w.Settings().m_strLogFolder, tavimo_test::TempRoot());
    logging.OnLogging();
    EXPECT_TRUE(w.Settings().m_bLogging);
    // The log starts with the next sample, in the chosen folder.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !w.SensorLink()->GetEulerLogFileName().empty(); }, 10000));
    EXPECT_EQ(std::filesystem::path(w.SensorLink()->GetEulerLogFileName()).parent_path(),
              std::filesystem::path(tavimo_test::TempRoot()));
    logging.OnLogging();
    EXPECT_FALSE(w.Settings().m_bLogging);
    logging.OnSmoothing();
    EXPECT_EQ(w.SensorLink()->IsSmoothing(), w.Settings().m_bApplySmoothing);
    SaveScreenshot(logging, "advanced-dialog");
}

TEST_F(TavimoDlgTest, HealthCheckMessagesReconnectAndAskAtLoss) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    w.OnPostedMessage(WM_TAVIMO_RECONNECT_SENSOR, 0, 0);
    EXPECT_FALSE(w.QuitRequested());
    prompts.answer = IDNO;
    testing::internal::CaptureStderr();
    w.OnPostedMessage(WM_TAVIMO_SENSOR_LOST, 0, 0);
    // Staying on: the lost sensor is tried again slowly, for as long as it takes.
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "The sensor is lost: trying it again every 30 s until it answers"),
              std::string::npos);
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_NE(prompts.texts.back().find("Do you wish to exit the Tavimo Application?"),
              std::string::npos);
    EXPECT_FALSE(w.QuitRequested());
    prompts.answer = IDYES;
    w.OnPostedMessage(WM_TAVIMO_SENSOR_LOST, 0, 0);
    EXPECT_TRUE(w.QuitRequested());
    EXPECT_EQ(w.ExitCode(), 0);
}

TEST_F(TavimoDlgTest, EmbeddedHidesAfterTheFirstConnectionAndRaisesAnAlarmAtLoss) {
    CTavimoDlg& w = Start({"-Embedded"});
    EXPECT_TRUE(w.IsEmbedded());
    ASSERT_TRUE(WaitConnected());
    EXPECT_FALSE(w.isVisible());
    w.show();
    w.OnConnect();  // a connection the user asked for does not hide the window
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Led()->GetActiveColor() == 0x00FF00; }, 10000));
    EXPECT_TRUE(w.isVisible());
    std::unique_ptr<QMenu> menu = w.BuildTrayMenu();
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Hide the Tavimo");
    EXPECT_EQ(menu->actions()[1]->text(), "Exit the Tavimo application");
    w.OnTrayCommand(ID_TRAY_HIDE);
    EXPECT_EQ(w.BuildTrayMenu()->actions()[0]->text(), "Restore the Tavimo");
    w.OnPostedMessage(WM_TAVIMO_SENSOR_LOST, 0, 0);
    EXPECT_TRUE(prompts.texts.empty());  // alarms instead of boxes
    EXPECT_TRUE(w.QuitRequested());
    EXPECT_NE(w.ExitCode(), 0);  // a service manager starts it again
}

TEST_F(TavimoDlgTest, AttitudeWindowsToggleAndReportAMissingControl) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    w.OnCompass();
    ASSERT_NE(w.AttitudeWindow(), nullptr);
    w.On3DView();
    ASSERT_NE(w.ViewWindow(), nullptr);
    QTest::qWait(600);  // a few display refreshes reach both windows
    SaveScreenshot(*w.AttitudeWindow(), "attitude-window");
    SaveScreenshot(*w.ViewWindow(), "3d-view-window");
    w.AttitudeWindow()->close();  // closing tells the main window, which destroys it
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.AttitudeWindow() == nullptr; }, 5000));
    w.On3DView();
    EXPECT_EQ(w.ViewWindow(), nullptr);
    controls.Revoke();
    w.OnCompass();
    EXPECT_EQ(w.AttitudeWindow(), nullptr);
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_EQ(prompts.texts.back().rfind("Unable to display the Attitude window.", 0), 0u);
}

TEST_F(TavimoDlgTest, MissingSensorComponentEndsTheStartUp) {
    mtobj::UnregisterClass();
    CTavimoDlg& w = Start();
    mtobj::RegisterClass();
    EXPECT_TRUE(w.QuitRequested());
    EXPECT_EQ(w.SensorLink(), nullptr);
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_NE(prompts.texts.back().find("MTobj.dll is correctly registered"), std::string::npos);
}

TEST(QtPromptServiceTest, HeadlessBoxesNeverWaitAndQuestionsAnswerNo) {
    GuiApp();
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    CQtPromptService prompts;
    testing::internal::CaptureStderr();
    EXPECT_EQ(prompts.Show("Sample Rate too high for this Baud rate !", "Tavimo", MB_OK), IDOK);
    EXPECT_EQ(prompts.Show("Do you wish to exit the Tavimo Application?", "Tavimo", MB_YESNO),
              IDNO);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Tavimo: Sample Rate too high"), std::string::npos);
    // A question nobody can answer says which answer was taken.
    EXPECT_NE(said.find("Do you wish to exit the Tavimo Application? [no one can answer here: "
                        "the answer taken is No]"),
              std::string::npos)
        << said;
}

// ---- The display with smoothing on ------------------------------------------------------------

namespace {
// Waits until the sensor link's newest sample stops changing (the sensor fell silent and
// its last batch is in); returns that sample's time.
double WaitForSilence(CXsensModule& link) {
    double last = -1.0;
    double time = 0.0;
    float p = 0, r = 0, h = 0;
    for (int i = 0; i < 50; ++i) {
        QTest::qWait(200);
        link.GetOrientationDataLatest(time, p, r, h);
        if (time == last) {
            return time;
        }
        last = time;
    }
    return 0.0;
}

double AngleGap(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}
}  // namespace

TEST_F(TavimoDlgTest, SmoothedDisplayKeepsGoodValuesShowsTheSampleAgeAndBoundsExtrapolation) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    auto* pitch = Control<QLabel>(13718);
    auto* roll = Control<QLabel>(13719);
    auto* heading = Control<QLabel>(13720);
    auto* age = Control<QLabel>(13708);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !heading->text().isEmpty(); }, 10000));
    Simulation()->FallSilent();
    const double newest = WaitForSilence(*w.SensorLink());
    ASSERT_GT(newest, 0.0);
    w.OnStatusTimer();  // the newest sample on screen, smoothing still off
    const QString shown[3] = {pitch->text(), roll->text(), heading->text()};
    ASSERT_FALSE(shown[0].isEmpty());

    // Ten minutes later, with a window of one sample period: it holds too few samples, so
    // every look-up fails.
    w.Settings().m_bApplySmoothing = true;
    w.SensorLink()->SetSmoothing(true);
    w.SensorLink()->SetTimeWindow(w.SensorLink()->GetSamplePeriod());
    CTickwise::SetClockForTesting([newest] { return newest + 600000.0; });
    for (int tick = 0; tick < 3; ++tick) {
        w.OnStatusTimer();
    }
    EXPECT_EQ(pitch->text(), shown[0]);
    EXPECT_EQ(roll->text(), shown[1]);
    EXPECT_EQ(heading->text(), shown[2]);
    // The age is the newest sample's, however many ticks went by.
    EXPECT_TRUE(age->text().startsWith("  10.0 min /")) << age->text().toStdString();

    // A point look-up ten minutes past the newest sample is carried only a few sample
    // periods: the attitude stays where the sensor left it.
    w.SensorLink()->SetTimeWindow(0);
    w.OnStatusTimer();
    CTickwise::SetClockForTesting(nullptr);
    EXPECT_TRUE(age->text().startsWith("  10.0 min /")) << age->text().toStdString();
    EXPECT_LT(std::fabs(pitch->text().toDouble() - shown[0].toDouble()), 2.0);
    EXPECT_LT(std::fabs(roll->text().toDouble() - shown[1].toDouble()), 2.0);
    EXPECT_LT(AngleGap(heading->text().toDouble(), shown[2].toDouble()), 2.0);
}

// ---- The Euler log switched on in the file ----------------------------------------------------

TEST_F(TavimoDlgTest, LoggingOnInTheFileLogsFromTheStartAndANewFolderTakesAtOnce) {
    namespace fs = std::filesystem;
    const fs::path first = fs::path(tavimo_test::TempRoot()) / "log-first";
    const fs::path second = fs::path(tavimo_test::TempRoot()) / "log-second";
    fs::create_directories(first);
    fs::create_directories(second);
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.SetValue(CComBSTR("Logging/Enable"), CComBSTR("TRUE")));
    ASSERT_TRUE(config.SetValue(CComBSTR("Logging/FilePath"), CComBSTR(first.string())));
    ASSERT_TRUE(config.Save(CComBSTR("")));

    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    auto logFolder = [&] { return fs::path(w.SensorLink()->GetEulerLogFileName()).parent_path(); };
    // No toggle: the log is written from the first samples on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return logFolder() == first; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return fs::file_size(w.SensorLink()->GetEulerLogFileName()) > 0; }, 10000));

    // "..." while logging is on moves the log to the chosen folder at once.
    CAdvancedDlg advanced(&w);
    advanced.m_browse = [&](const std::string&) { return second.string(); };
    auto* logging = advanced.findChild<QPushButton*>("loggingButton");
    ASSERT_NE(logging, nullptr);
    EXPECT_TRUE(logging->isChecked());
    advanced.findChild<QPushButton*>("browseButton")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return logFolder() == second; }, 10000));
    EXPECT_TRUE(w.Settings().m_bLogging);
}

// ---- A configuration file that cannot be read ------------------------------------------------

TEST_F(TavimoDlgTest, AnUnreadableConfigurationIsReportedAndLeftAsItIs) {
    const std::string content = "PrimaryPort=COM2 HDT\n";  // not XML
    std::ofstream(m_config) << content;
    {
        CTavimoDlg& w = Start();
        EXPECT_FALSE(w.QuitRequested());  // runs on with the defaults
        ASSERT_EQ(prompts.texts.size(), 1u);
        EXPECT_NE(prompts.texts[0].find(m_config), std::string::npos) << prompts.texts[0];
        EXPECT_NE(prompts.texts[0].find("line 1: Start tag expected"), std::string::npos);
        w.SaveSettings();
        dlg.reset();  // destruction saves too
    }
    EXPECT_EQ(tavimo_test::ReadFile(m_config), content);

    // A new file in a folder that cannot be made is reported the same way.
    std::ofstream(tavimo_test::TempRoot() + "/plain-file") << "x";
    m_config = tavimo_test::TempRoot() + "/plain-file/sub/Tavimo.xml";
    commandLine = CCommandLineInfoEx();
    prompts.texts.clear();
    Start();
    ASSERT_EQ(prompts.texts.size(), 1u);
    EXPECT_NE(prompts.texts[0].find(m_config), std::string::npos);
    EXPECT_NE(prompts.texts[0].find("cannot be made"), std::string::npos) << prompts.texts[0];
}

TEST_F(TavimoDlgTest, EmbeddedWithAnUnreadableConfigurationRaisesAnAlarmAndExits) {
    const std::string content = "<Tavimo><FilterGain>0.5</FilterGain>";  // cut short
    std::ofstream(m_config) << content;
    const std::size_t before = logmill::ReadAlarms().size();
    CTavimoDlg& w = Start({"-Embedded"});
    EXPECT_TRUE(prompts.texts.empty());
    EXPECT_TRUE(w.QuitRequested());
    EXPECT_EQ(w.ExitCode(), kExitConfigurationUnreadable);
    EXPECT_EQ(w.SensorLink(), nullptr);  // no outputs run on defaults unseen
    const auto alarms = logmill::ReadAlarms();
    ASSERT_EQ(alarms.size(), before + 1);
    EXPECT_EQ(alarms.back().text, "Unable to read the Tavimo configuration file.");
    EXPECT_NE(alarms.back().detail.find(m_config), std::string::npos);
    EXPECT_NE(alarms.back().detail.find("line 1: "), std::string::npos) << alarms.back().detail;
    dlg.reset();
    EXPECT_EQ(tavimo_test::ReadFile(m_config), content);
}

// ---- An output port that cannot be opened ----------------------------------------------------

TEST_F(TavimoDlgTest, AnOutputPortThatCannotBeOpenedShowsOnItsRowUntilItOpens) {
    ASSERT_TRUE(comlane::CPortMap::Map("COM79", "/nonexistent/ttyUSB9"));
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.SetValue(CComBSTR("PrimaryPort/Telegram"), CComBSTR("HDT")));
    ASSERT_TRUE(config.SetValue(CComBSTR("PrimaryPort/Path"), CComBSTR("COM79")));
    ASSERT_TRUE(config.Save(CComBSTR("")));
    CTavimoDlg& w = Start();
    auto* port = Control<QComboBox>(13731);
    ASSERT_EQ(port->currentText(), "COM79");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return port->toolTip().contains("cannot be opened"); }, 10000));
    EXPECT_TRUE(Control<QComboBox>(13732)->toolTip().isEmpty());
    EXPECT_TRUE(Control<QComboBox>(13733)->toolTip().isEmpty());  // the secondary row is fine

    ASSERT_TRUE(comlane::CPortMap::Map("COM79", comlane::CPortMap::kPseudoTerminal));
    EXPECT_TRUE(QTest::qWaitFor([&] { return port->toolTip().isEmpty(); }, 10000));
    w.OnStatusTimer();
    EXPECT_TRUE(port->styleSheet().isEmpty());
    comlane::CPortMap::Unmap("COM79");
}

// ---- The Advanced dialog -----------------------------------------------------------------------

TEST_F(TavimoDlgTest, AdvancedValidationUsesTheFrameworksTexts) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    struct Case {
        const char* field;
        const char* text;
        const char* message;  // null: accepted
    };
    const Case cases[] = {
        {"windowEdit", "-5", "Please enter a positive integer."},
        {"windowEdit", "abc", "Please enter a positive integer."},
        {"windowEdit", "", "Please enter a positive integer."},
        {"windowEdit", "12.5", "Please enter a positive integer."},
        {"windowEdit", "10001", "Please enter an integer between 0 and 10000."},
        {"windowEdit", " 10000 ", nullptr},
        {"windowEdit", "0", nullptr},
        {"gainEdit", "x", "Please enter a number."},
        {"gainEdit", "0.05", "Please enter a number between 0.1 and 100."},
        {"gainEdit", "100.5", "Please enter a number between 0.1 and 100."},
        {"gainEdit", "0.1", nullptr},
        {"weightEdit", "", "Please enter a number."},
        {"weightEdit", "-1", "Please enter a number between 0.1 and 100."},
        {"weightEdit", "100", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.text + "'");
        CAdvancedDlg advanced(&w);
        prompts.texts.clear();
        advanced.findChild<QLineEdit*>(c.field)->setText(c.text);
        advanced.OnOK();
        if (c.message == nullptr) {
            EXPECT_TRUE(prompts.texts.empty());
            EXPECT_EQ(advanced.result(), QDialog::Accepted);
        } else {
            ASSERT_EQ(prompts.texts.size(), 1u);
            EXPECT_EQ(prompts.texts[0], c.message);
            EXPECT_EQ(advanced.result(), 0);  // still open
        }
    }
}

TEST_F(TavimoDlgTest, AdvancedRateAndBaudApplyReadBackTheListsAndKeepTypedValues) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    w.StopSensorIfRunning();
    CAdvancedDlg advanced(&w);
    auto* gain = advanced.findChild<QLineEdit*>("gainEdit");
    auto* weight = advanced.findChild<QLineEdit*>("weightEdit");
    auto* rate = advanced.findChild<QComboBox*>("rateCombo");
    auto* baud = advanced.findChild<QComboBox*>("baudCombo");
    auto* sensorBaud = Control<QComboBox>(13711);
    gain->setText("3.25");  // typed, not yet confirmed with OK
    weight->setText("0.75");

    rate->setCurrentIndex(rate->findText("50"));
    advanced.findChild<QPushButton*>("rateApplyButton")->click();
    EXPECT_EQ(w.SensorLink()->GetSampleRate(), 50);
    EXPECT_EQ(rate->currentText(), "50");
    EXPECT_EQ(advanced.SampleRate(), 50);
    EXPECT_EQ(gain->text(), "3.25");
    EXPECT_EQ(weight->text(), "0.75");

    baud->setCurrentIndex(baud->findText("57600"));
    advanced.findChild<QPushButton*>("baudApplyButton")->click();
    EXPECT_EQ(baud->currentText(), "57600");
    EXPECT_EQ(sensorBaud->currentText(), "57600");  // the main window's list follows
    EXPECT_EQ(gain->text(), "3.25");

    // A refused baud rate: both lists show what the sensor reports.
    Simulation()->RefuseSetting(35, E_INVALIDARG);
    baud->setCurrentIndex(baud->findText("9600"));
    advanced.findChild<QPushButton*>("baudApplyButton")->click();
    Simulation()->RefuseSetting(35, S_OK);
    short port = 0;
    long reported = 0;
    std::string id;
    float g = 0, m = 0;
    short r = 0;
    w.SensorLink()->GetSensorSettings(port, reported, id, g, m, r);
    EXPECT_EQ(baud->currentText(), QString::number(reported));
    EXPECT_EQ(sensorBaud->currentText(), QString::number(reported));
    EXPECT_NE(reported, 9600);
    EXPECT_EQ(weight->text(), "0.75");
}

TEST_F(TavimoDlgTest, AdvancedRateListSelectsByPrefixFromTheStart) {
    CTavimoDlg& w = Start();
    for (const auto& [value, text] : std::vector<std::pair<short, QString>>{
             {25, "25"}, {256, "256"}, {50, "50"}, {512, "512"}}) {
        w.SetSampleRate(value);
        CAdvancedDlg advanced(&w);
        EXPECT_EQ(advanced.findChild<QComboBox*>("rateCombo")->currentText(), text) << value;
    }
}

TEST_F(TavimoDlgTest, OpeningTheAdvancedDialogStopsTheSensorUntilItCloses) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    ASSERT_TRUE(w.IsSensorRunning());
    int runningWhileOpen = -1;
    int checks = 0;
    std::function<void()> closeWhenOpen = [&] {
        auto* open = qobject_cast<CAdvancedDlg*>(QApplication::activeModalWidget());
        if (open == nullptr && ++checks < 200) {
            QTimer::singleShot(50, closeWhenOpen);
            return;
        }
        runningWhileOpen = w.IsSensorRunning() ? 1 : 0;
        if (open != nullptr) {
            open->reject();
        }
    };
    QTimer::singleShot(50, closeWhenOpen);
    Control<QPushButton>(13739)->click();  // returns when the dialog has closed
    EXPECT_EQ(runningWhileOpen, 0);
    EXPECT_TRUE(w.IsSensorRunning());  // started again on closing
}

// ---- Start-up settings ------------------------------------------------------------------------

TEST_F(TavimoDlgTest, OutputsLockedByTheFileStayLockedButAUsedRowsPortAndBaudOpen) {
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.SetValue(CComBSTR("UserInterface/EnableOutputUI"), CComBSTR("FALSE")));
    ASSERT_TRUE(config.SetValue(CComBSTR("PrimaryPort/Telegram"), CComBSTR("HDT")));
    ASSERT_TRUE(config.SetValue(CComBSTR("SecondaryPort/Telegram"), CComBSTR("None")));
    ASSERT_TRUE(config.Save(CComBSTR("")));
    CTavimoDlg& w = Start();
    EXPECT_FALSE(w.Settings().m_bEnableOutputUI);
    EXPECT_FALSE(Control<QComboBox>(13735)->isEnabled());  // primary telegram
    EXPECT_FALSE(Control<QComboBox>(13736)->isEnabled());  // secondary telegram
    EXPECT_TRUE(Control<QComboBox>(13731)->isEnabled());   // primary port: a used row
    EXPECT_TRUE(Control<QComboBox>(13732)->isEnabled());   // primary baud
    EXPECT_FALSE(Control<QComboBox>(13733)->isEnabled());  // secondary port: "None"
    EXPECT_FALSE(Control<QComboBox>(13734)->isEnabled());
    w.SaveSettings();
    EXPECT_EQ(ConfigValue("UserInterface/EnableOutputUI"), "FALSE");  // never written
}

TEST_F(TavimoDlgTest, AStoredSensorPortThatIsNotOnThisMachineGivesTheFirstPortAndIsKept) {
    std::ofstream(m_config) << CTavimoSettingsStore::DefaultConfiguration();
    comlane::CPortMap::Unmap("COM87");
    CConfig config;
    ASSERT_TRUE(config.Load(CComBSTR(m_config)));
    ASSERT_TRUE(config.SetValue(CComBSTR("SensorPort/Path"), CComBSTR("COM87")));
    ASSERT_TRUE(config.Save(CComBSTR("")));
    CTavimoDlg& w = Start();
    auto* ports = Control<QComboBox>(13709);
    ASSERT_GT(ports->count(), 0);
    EXPECT_EQ(ports->findText("COM87"), -1);
    EXPECT_EQ(ports->currentIndex(), 0);
    // The file keeps the user's text until the user picks a port in the window.
    w.SaveSettings();
    EXPECT_EQ(ConfigValue("SensorPort/Path"), "COM87");
    ports->setCurrentIndex(0);
    emit ports->activated(0);
    w.SaveSettings();
    EXPECT_EQ(ConfigValue("SensorPort/Path"), ports->itemText(0).toStdString());
}

// ---- Calibration of a raw sensor ----------------------------------------------------------------

namespace {
// The sensor port's device is a capture of the simulator's raw mode, played at its pace,
// while it lives.
class ReplayedSensor {
public:
    ReplayedSensor(const std::string& deviceId, const mtobj::RawScenario& scenario) {
        path = tavimo_test::TempRoot() + "/" + deviceId + ".txt";
        ready = iio_test::WriteRawCapture(path, deviceId, scenario, 50, 120);
        CRegKey key;
        key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
        key.SetString("Kind", "replay:" + path);
    }
    ~ReplayedSensor() {
        CRegKey key;
        key.Create(HKEY_CURRENT_USER, mtobj::kSettingsKey);
        key.DeleteValue("Kind");
    }
    ReplayedSensor(const ReplayedSensor&) = delete;
    ReplayedSensor& operator=(const ReplayedSensor&) = delete;

    std::string path;
    bool ready = false;
};

mtobj::RawScenario StillVessel() {
    mtobj::RawScenario s;
    s.rollAmplitude = s.pitchAmplitude = s.yawAmplitude = s.heaveAmplitude = 0;
    s.speedKnots = 0;
    s.heading = 75;
    return s;
}
}  // namespace

TEST_F(TavimoDlgTest, AdvancedCalibrationIsDisabledWithItsReasonForTheSimulatedSensor) {
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    CAdvancedDlg advanced(&w);
    auto* group = advanced.findChild<QWidget*>("calibrationGroup");
    auto* note = advanced.findChild<QLabel*>("calibrationNote");
    ASSERT_TRUE(group && note);
    EXPECT_FALSE(group->isEnabled());
    EXPECT_TRUE(note->text().contains("needs no calibration")) << note->text().toStdString();
    // Its heading is trusted: no flag in the window.
    w.OnStatusTimer();
    auto* flag = w.findChild<QLabel*>("headingFlag");
    ASSERT_TRUE(flag);
    EXPECT_TRUE(flag->isHidden());
}

TEST_F(TavimoDlgTest, AdvancedCalibrationStepRunsToItsResultAndBadInputIsRefused) {
    ReplayedSensor sensor("dlgimu", StillVessel());
    ASSERT_TRUE(sensor.ready);
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    // As the Advanced button opens it: the sensor stopped while the dialog is open.
    w.StopSensorIfRunning();
    CAdvancedDlg advanced(&w);
    auto* group = advanced.findChild<QWidget*>("calibrationGroup");
    auto* text = advanced.findChild<QPlainTextEdit*>("calibrationText");
    auto* offset = advanced.findChild<QLineEdit*>("headingOffsetEdit");
    ASSERT_TRUE(group && text && offset);
    ASSERT_TRUE(group->isEnabled());
    EXPECT_TRUE(text->toPlainText().contains("not calibrated"))
        << text->toPlainText().toStdString();

    // A heading offset that is no number, or out of range: refused with the message, nothing
    // stored.
    offset->setText("north");
    advanced.OnApplyHeadingOffset();
    ASSERT_FALSE(prompts.texts.empty());
    EXPECT_EQ(prompts.texts.back(), "Please enter a number.");
    offset->setText("400");
    advanced.OnApplyHeadingOffset();
    EXPECT_EQ(prompts.texts.back(), "Please enter a number between -180 and 180.");
    EXPECT_FALSE(mtobj::LoadCalibration("dlgimu"));

    // The rest step: the sensor runs for it, the step runs to its result, the sensor stops
    // again.
    advanced.findChild<QPushButton*>("restButton")->click();
    EXPECT_TRUE(advanced.IsCalibrating());
    EXPECT_TRUE(w.IsSensorRunning());
    auto* progress = advanced.findChild<QProgressBar*>("calibrationProgress");
    ASSERT_TRUE(progress);
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress->value() > 0; }, 10000));
    EXPECT_TRUE(progress->format().startsWith("rest: ")) << progress->format().toStdString();
    EXPECT_TRUE(progress->format().endsWith(" of 5 s")) << progress->format().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !advanced.IsCalibrating(); }, 30000));
    EXPECT_TRUE(text->toPlainText().contains("rest: stored and applied"))
        << text->toPlainText().toStdString();
    EXPECT_FALSE(w.IsSensorRunning());
    const auto stored = mtobj::LoadCalibration("dlgimu");
    ASSERT_TRUE(stored);
    EXPECT_NE(stored->gyroBias.z, 0.0);

    offset->setText("-2.5");
    advanced.OnApplyHeadingOffset();
    EXPECT_EQ(mtobj::LoadCalibration("dlgimu")->headingOffset, -2.5);
    EXPECT_TRUE(text->toPlainText().contains("-2.500")) << text->toPlainText().toStdString();
    EXPECT_TRUE(text->toPlainText().contains("Previous"));
    SaveScreenshot(advanced, "advanced-calibration");
    advanced.OnUndoCalibration();
    EXPECT_EQ(mtobj::LoadCalibration("dlgimu")->headingOffset, 0.0);

    // Closing the dialog during a step cancels it: nothing stored.
    advanced.findChild<QPushButton*>("levelButton")->click();
    ASSERT_TRUE(advanced.IsCalibrating());
    advanced.reject();
    EXPECT_FALSE(advanced.IsCalibrating());
    EXPECT_FALSE(w.IsSensorRunning());
    EXPECT_EQ(mtobj::LoadCalibration("dlgimu")->rollOffset, 0.0);
    EXPECT_TRUE(text->toPlainText().contains("cancelled"));
}

TEST_F(TavimoDlgTest, TheWindowFlagsAHeadingFromAnUncalibratedMagnetometer) {
    ReplayedSensor sensor("flagimu", StillVessel());
    ASSERT_TRUE(sensor.ready);
    CTavimoDlg& w = Start();
    ASSERT_TRUE(WaitConnected());
    auto* flag = w.findChild<QLabel*>("headingFlag");
    auto* heading = w.findChild<QLabel*>("headingValue");
    ASSERT_TRUE(flag && heading);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !flag->isHidden(); }, 10000));
    EXPECT_EQ(flag->text(), "MAG not calibrated");
    EXPECT_FALSE(heading->styleSheet().isEmpty());
    SaveScreenshot(w, "window-heading-flag");

    // Calibrated (this sensor has no iron to correct), its heading is trusted once it runs
    // with the calibration.
    attfilter::SensorCalibration calibrated;
    calibrated.magCalibrated = true;
    ASSERT_TRUE(mtobj::SaveCalibration("flagimu", calibrated));
    w.StopSensorIfRunning();
    w.CheckRateAndStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return flag->isHidden(); }, 10000))
        << flag->text().toStdString();
    EXPECT_TRUE(heading->styleSheet().isEmpty());
}
