#include "app/TavimoDlg.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/AdvancedDlg.h"
#include "app/AlarmClient.h"
#include "app/AttitudeDlg.h"
#include "app/BinaryTelegramWorker.h"
#include "app/CJLatitudeEdit.h"
#include "app/ConfigKeys.h"
#include "app/ControlHost.h"
#include "app/ExitStatus.h"
#include "app/MotionTrackerSink.h"
#include "app/TavimoIcon.h"
#include "app/Telegrams.h"
#include "app/XsensModule.h"
#include "interfaces/Tickwise.h"
#include "led/LedCtrl.h"
#include "platform/Prompt.h"
#include "platform/Resources.h"
#include "ui_TavimoDlg.h"
#include "utilon/CommandLineInfoEx.h"

namespace {
constexpr COLORREF kRed = 0x0000FF;
constexpr COLORREF kOrange = 0x0087FF;
constexpr COLORREF kGreen = 0x00FF00;

const int kFrequencies[] = {1, 2, 5, 10, 25};

// Selects the first entry with exactly this text; no change when none matches.
void SelectExact(QComboBox* list, const std::string& text) {
    const int index =
        list->findText(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        list->setCurrentIndex(index);
    }
}

std::string Text(const QComboBox* list) {
    return list->currentText().toStdString();
}

std::string Format(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), format, value);
    return buffer;
}
}  // namespace

void RegisterTavimoDlgResources() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    platform::AddResourceModule("Tavimo", true);
    platform::RegisterString("Tavimo", IDS_ABOUTBOX, "&About Tavimo...");
    platform::RegisterMenu(
        "Tavimo", IDR_TRAYMENU,
        {MenuEntry::Popup("Tray", {MenuEntry::Item(ID_TRAY_HIDE, "Hide the Tavimo"),
                                   MenuEntry::Item(ID_TRAY_RESTORE, "Restore the Tavimo"),
                                   MenuEntry::Item(ID_TRAY_EXIT, "Exit the Tavimo application")})});
}

CTavimoDlg::CTavimoDlg(const CCommandLineInfoEx& commandLine, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::CTavimoDlg>()),
      m_store(CTavimoSettingsStore::FileNameFromCommandLine(commandLine)),
      m_messageTarget([this](UINT message, WPARAM wParam, LPARAM lParam) {
          OnPostedMessage(message, wParam, lParam);
      }) {
    RegisterTavimoDlgResources();
    m_ui->setupUi(this);
    m_log.SetModuleName("Tavimo");
    m_log.SetObjectName("CTavimoDlg");
    m_log.EnableTrace(false);
    m_log.TraceNow("CTavimoDlg()", "constructed OK");
    setWindowIcon(TavimoIcon());
    m_bEmbedded = commandLine.GetOption("Embedded") != 0;
    // The connection lamp: the LED control of the template, created through the COM runtime.
    m_pLed = qobject_cast<CLedCtrl*>(CreateHostedControl(kLedProgId, m_ui->ledHost, m_ledObject));
    if (m_pLed != nullptr) {
        m_pLed->setProperty("ctrlId", 13741);
        m_pLed->setMinimumSize(24, 24);
    }

    m_statusTimer.setInterval(200);
    connect(&m_statusTimer, &QTimer::timeout, this, &CTavimoDlg::OnStatusTimer);
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(1000);
    connect(&m_connectTimer, &QTimer::timeout, this, &CTavimoDlg::DoConnect);
    connect(&m_slowRetryTimer, &QTimer::timeout, this, [this] {
        if (!m_connectTimer.isActive()) {
            m_bRetrying = true;
            Connect();
        }
    });

    connect(m_ui->connectButton, &QPushButton::clicked, this, &CTavimoDlg::OnConnect);
    connect(m_ui->compassButton, &QPushButton::clicked, this, &CTavimoDlg::OnCompass);
    connect(m_ui->view3dButton, &QPushButton::clicked, this, &CTavimoDlg::On3DView);
    connect(m_ui->advancedButton, &QPushButton::clicked, this, &CTavimoDlg::OnAdvanced);
    connect(m_ui->variationApplyButton, &QPushButton::clicked, this, &CTavimoDlg::OnApplyVariation);
    connect(m_ui->outputApplyButton, &QPushButton::clicked, this, &CTavimoDlg::OnApplyOutput);
    connect(m_ui->frequencyCombo, &QComboBox::activated, this, &CTavimoDlg::OnSelChangeFrequency);
    connect(m_ui->primaryTelegramCombo, &QComboBox::activated, this,
            [this] { OnSelChangeTelegram(true); });
    connect(m_ui->secondaryTelegramCombo, &QComboBox::activated, this,
            [this] { OnSelChangeTelegram(false); });
    for (QComboBox* list : {m_ui->primaryPortCombo, m_ui->primaryBaudCombo}) {
        connect(list, &QComboBox::activated, this, [this] { OnSelChangePortOrBaud(true); });
    }
    for (QComboBox* list : {m_ui->secondaryPortCombo, m_ui->secondaryBaudCombo}) {
        connect(list, &QComboBox::activated, this, [this] { OnSelChangePortOrBaud(false); });
    }
}

CTavimoDlg::~CTavimoDlg() {
    if (m_bInitialised) {
        delete m_pTrayIcon;
        m_pTrayIcon = nullptr;
        m_statusTimer.stop();
        m_connectTimer.stop();
        StopSensorIfRunning();
        SaveSettings();
        if (m_pXsensModule != nullptr) {
            m_pXsensModule->UnadviseSink(m_dwSinkCookie);
            delete m_pXsensModule;
            m_pXsensModule = nullptr;
        }
        DestroyChildren();
    }
    if (AfxGetMainWnd() == &m_messageTarget) {
        AfxSetMainWnd(nullptr);
    }
}

QWidget* CTavimoDlg::Control(int id) const {
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w->property("ctrlId").toInt() == id) {
            return w;
        }
    }
    return nullptr;
}

int CTavimoDlg::DoModal() {
    OnInitDialog();
    if (m_bQuitRequested) {
        return IDCANCEL;
    }
    // A loop of our own rather than exec(): exec() would end as soon as the window hides,
    // and an embedded window lives hidden in the notification area.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, [&loop](int result) { loop.exit(result); });
    show();
    return loop.exec(QEventLoop::DialogExec);
}

BOOL CTavimoDlg::OnInitDialog() {
    m_bInitialised = true;
    AfxSetMainWnd(&m_messageTarget);
    platform::SetPromptCaption(windowTitle().toStdString());
    m_log.Trace("OnInitDialog", "OnInitDialog");
    if (m_bEmbedded) {
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            m_pTrayIcon = new QSystemTrayIcon(TavimoIcon(), this);
            m_pTrayIcon->setToolTip(windowTitle().left(127));
            connect(m_pTrayIcon, &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        if (reason == QSystemTrayIcon::DoubleClick) {
                            showNormal();
                        } else if (reason == QSystemTrayIcon::Context) {
                            activateWindow();
                            std::unique_ptr<QMenu> menu = BuildTrayMenu();
                            if (QAction* chosen = menu->exec(QCursor::pos())) {
                                OnTrayCommand(chosen->data().toUInt());
                            }
                        }
                    });
            m_pTrayIcon->show();
        }
    } else {
        setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    }
    m_log.Trace("CTavimoDlg", "OnInitDialog()");
    m_log.Trace("OnInitDialog", "After menu Set Up");
    m_portManager.AddPortAgent(new CCommsManager);
    m_log.Trace("OnInitDialog", "After Port Agent");
    FillLists();
    // A list the user picks from holds the user's choice from then on: a text of the file
    // that was not understood is no longer kept for its node.
    const std::pair<QComboBox*, const char*> nodes[] = {
        {m_ui->sensorPortCombo, XML_SENSOR_PORT},
        {m_ui->primaryPortCombo, XML_PRIMARY_PORT},
        {m_ui->secondaryPortCombo, XML_SECONDARY_PORT},
        {m_ui->sensorBaudCombo, XML_SENSOR_BAUD},
        {m_ui->primaryBaudCombo, XML_PRIMARY_BAUD},
        {m_ui->secondaryBaudCombo, XML_SECONDARY_BAUD},
        {m_ui->primaryTelegramCombo, XML_PRIMARY_TELEGRAM},
        {m_ui->secondaryTelegramCombo, XML_SECONDARY_TELEGRAM},
        {m_ui->frequencyCombo, XML_TELEGRAM_OUTPUT_FREQUENCY}};
    for (const auto& [list, node] : nodes) {
        connect(list, &QComboBox::activated, this, [this, key = std::string(node)] {
            std::erase_if(m_settings.m_notUnderstood,
                          [&key](const SettingNotUnderstood& e) { return e.node == key; });
        });
    }
    m_log.Trace("OnInitDialog", "After Combos Set up");
    // A configuration named but not there yet starts as the shipped default, so that every
    // change the user makes is kept.
    std::string reason;
    const bool made = m_store.CreateIfMissing(&reason);
    std::string loadReason;
    if (!LoadSettings(&loadReason) || !made) {
        ReportUnreadableConfiguration(reason.empty() ? loadReason : reason);
        if (m_bQuitRequested) {
            return TRUE;
        }
    } else {
        ReportNotUnderstood();
    }
    m_log.Trace("OnInitDialog", "After Xml Set up");

    m_pXsensModule = new CXsensModule(this);
    if (!m_pXsensModule->Initialise()) {
        if (m_bEmbedded) {
            RaiseAlarm(
                "Unable to launch the Tavimo.",
                "The Tavimo was unable to create an essential component. Please ensure that the "
                "ActiveX control: MTobj.dll is correctly registered.");
        } else {
            AfxMessageBox(
                "The Tavimo was unable to create an essential component and therefore needs to "
                "close.\n\n"
                "Please ensure that the ActiveX control: MTobj.dll is correctly registered before "
                "attempting to restart this application.",
                MB_ICONEXCLAMATION);
        }
        delete m_pXsensModule;
        m_pXsensModule = nullptr;
        PostQuit(kExitComponentMissing);
        return TRUE;
    }
    // The sensor link has published itself for the sink (it withdraws when deleted).
    m_pXsensModule->SetSmoothing(m_settings.m_bApplySmoothing);
    m_pXsensModule->SetMagneticVariation(static_cast<float>(m_settings.m_dMagneticVariation));
    m_pXsensModule->SetHeaveSettings(m_settings.m_heave);
    // Logging switched on in the file writes the Euler log from the first sample, as the
    // Advanced dialog's "Logging" button shows.
    if (m_settings.m_bLogging) {
        m_pXsensModule->SetEulerLogFolder(true, m_settings.m_strLogFolder);
    }

    m_statusTimer.start();
    m_dLastSampleTime = 0.0;
    m_ui->advancedButton->setEnabled(false);

    CComPtr<IMotionTrackerSink> sink;
    HRESULT hr = CoCreateInstance(CLSID_MotionTrackerSink, nullptr, CLSCTX_ALL,
                                  IID_IMotionTrackerSink, reinterpret_cast<void**>(&sink));
    if (FAILED(hr)) {
        m_log.LogError(hr, "OnInitDialog", "IMotionTrackerSink");
        return TRUE;
    }
    hr = m_pXsensModule->AdviseSink(sink, &m_dwSinkCookie);
    if (FAILED(hr)) {
        m_log.LogError(hr, "OnInitDialog", "Advise");
        return TRUE;
    }

    if (m_pLed != nullptr) {
        m_pLed->SetActiveColor(kRed);
        m_pLed->SetActive(true);
    }

    OnSelChangeFrequency();
    OnSelChangeTelegram(true);
    OnSelChangeTelegram(false);
    UpdateFrequencyEnabling();
    m_log.Trace("OnInitDialog", "After Enable Frequency");
    UpdateTelegramOutput(m_ui->secondaryTelegramCombo, m_ui->secondaryPortCombo,
                         m_ui->secondaryBaudCombo, m_nSecondaryId);
    m_log.Trace("OnInitDialog", "After Update Telegram Output");
    UpdateTelegramOutput(m_ui->primaryTelegramCombo, m_ui->primaryPortCombo, m_ui->primaryBaudCombo,
                         m_nPrimaryId);
    m_log.Trace("OnInitDialog", "After Telegram Output Set");
    Connect();
    m_log.Trace("OnInitDialog", "After Connect");
    m_pXsensModule->SetSensorPortWorkerPort(m_settings.m_nMSIOPort, m_settings.m_nMSIOBaud);

    m_pVariationEdit = new CCJLatitudeEdit(m_ui->variationHost);
    auto* hostLayout = new QVBoxLayout(m_ui->variationHost);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    hostLayout->addWidget(m_pVariationEdit);
    m_pVariationEdit->setProperty("ctrlId", 13746);
    m_pVariationEdit->SetMask();
    ShowVariation();
    connect(m_pVariationEdit, &QLineEdit::textEdited, this,
            [this] { m_ui->variationApplyButton->setEnabled(true); });
    m_pVariationEdit->installEventFilter(this);
    m_ui->variationApplyButton->setEnabled(false);
    m_log.Trace("OnInitDialog", "InitDialog Completed");
    return TRUE;
}

void CTavimoDlg::FillLists() {
    std::vector<std::string> names;
    std::vector<std::string> other;
    m_portManager.GetAvailablePorts(names, other, -1);
    for (QComboBox* list :
         {m_ui->sensorPortCombo, m_ui->primaryPortCombo, m_ui->secondaryPortCombo}) {
        list->clear();
        for (const std::string& name : names) {
            list->addItem(QString::fromStdString(name));
        }
        list->setCurrentIndex(list->count() > 0 ? 0 : -1);
    }
    for (QComboBox* list : {m_ui->primaryTelegramCombo, m_ui->secondaryTelegramCombo}) {
        list->clear();
        for (int type = 0; type < kOutputTelegramCount; ++type) {
            list->addItem(QString::fromStdString(telegrams::Label(type)), type);
        }
        list->setCurrentIndex(0);
    }
    m_ui->frequencyCombo->clear();
    for (int hz : kFrequencies) {
        char text[16];
        std::snprintf(text, sizeof(text), "%d Hz", hz);
        m_ui->frequencyCombo->addItem(text, hz);
    }
    m_ui->frequencyCombo->addItem("Max Output");
    m_ui->frequencyCombo->setCurrentIndex(m_ui->frequencyCombo->count() - 1);
}

void CTavimoDlg::ReportUnreadableConfiguration(const std::string& reason) {
    // The file is left as it is (a later save cannot load it either), but the user must
    // know that the outputs it holds are not running.
    const std::string file = m_store.FileName();
    m_log.TraceNow("OnInitDialog", "unable to read the configuration file %s: %s", file.c_str(),
                   reason.c_str());
    if (m_bEmbedded) {
        RaiseAlarm("Unable to read the Tavimo configuration file.",
                   "The Tavimo cannot read its configuration file " + file + ": " + reason +
                       ". The file has been left as it is. The Tavimo stops until the file is "
                       "corrected or removed.");
        PostQuit(kExitConfigurationUnreadable);
        return;
    }
    AfxMessageBox("The Tavimo cannot read its configuration file:\n" + file + "\n\n" + reason +
                      "\n\nThe Tavimo runs with the default settings, without telegram "
                      "outputs, and leaves the file as it is. Correct or remove the file and "
                      "restart the application to use your settings.",
                  MB_ICONEXCLAMATION);
}

void CTavimoDlg::ReportNotUnderstood() {
    // Once at start: every value the module did not understand, what it uses instead.
    if (m_settings.m_notUnderstood.empty()) {
        return;
    }
    std::string lines;
    for (const SettingNotUnderstood& entry : m_settings.m_notUnderstood) {
        const std::string line = m_store.Describe(entry);
        m_log.TraceNow("OnInitDialog", "%s", line.c_str());
        lines += line + "\n";
    }
    if (m_bEmbedded) {
        RaiseAlarm("Tavimo configuration values not understood.",
                   "The Tavimo did not understand these values of its configuration file and "
                   "uses others instead; the file keeps them as they are:\n" +
                       lines);
        return;
    }
    AfxMessageBox(
        "The Tavimo did not understand these values of its configuration file and "
        "uses others instead (the file keeps them as they are until you change them "
        "in the window):\n\n" +
            lines,
        MB_ICONEXCLAMATION);
}

void CTavimoDlg::SelectNoting(QComboBox* list, const char* node, const std::string& text,
                              const std::string& valid) {
    SelectExact(list, text);
    if (text.empty() || Text(list) == text) {
        return;
    }
    std::string values = valid;
    if (values.empty()) {
        // The entries of the list, the first dozen of them.
        for (int i = 0; i < list->count() && i < 12; ++i) {
            values += (i == 0 ? "" : ", ") + list->itemText(i).toStdString();
        }
        values = list->count() > 12 ? "one of " + values + ", ..." : "one of " + values;
    }
    m_settings.NotUnderstood(node, text, values, Text(list));
}

void CTavimoDlg::SelectTelegram(QComboBox* list, const char* node, const std::string& name) {
    // The file names a type as the configuration does ("SignalK"); the list shows its label.
    const std::optional<int> type = telegrams::TypeFromName(name);
    if (type) {
        list->setCurrentIndex(list->findData(*type));
    }
    if (name.empty() || type) {
        return;
    }
    std::string values = "one of";
    for (int code = 0; code < kOutputTelegramCount; ++code) {
        values += std::string(code == 0 ? " " : ", ") + g_szOutputTelegramNames[code];
    }
    m_settings.NotUnderstood(node, name, values, TelegramName(list));
}

std::string CTavimoDlg::TelegramName(const QComboBox* list) {
    return g_szOutputTelegramNames[TelegramType(list)];
}

bool CTavimoDlg::LoadSettings(std::string* reason) {
    const bool loaded = m_store.LoadSettings(m_settings, reason);
    ShowSettings();
    return loaded;
}

void CTavimoDlg::ShowSettings() {
    const std::string ports = "a port of the port map (tavimo-ports lists them)";
    SelectNoting(m_ui->sensorPortCombo, XML_SENSOR_PORT, m_settings.m_strSensorPort, ports);
    SelectNoting(m_ui->primaryPortCombo, XML_PRIMARY_PORT, m_settings.m_strPrimaryPort, ports);
    SelectNoting(m_ui->secondaryPortCombo, XML_SECONDARY_PORT, m_settings.m_strSecondaryPort,
                 ports);
    SelectNoting(m_ui->sensorBaudCombo, XML_SENSOR_BAUD, m_settings.m_strSensorBaud, {});
    SelectNoting(m_ui->primaryBaudCombo, XML_PRIMARY_BAUD, m_settings.m_strPrimaryBaud, {});
    SelectNoting(m_ui->secondaryBaudCombo, XML_SECONDARY_BAUD, m_settings.m_strSecondaryBaud, {});
    SelectTelegram(m_ui->primaryTelegramCombo, XML_PRIMARY_TELEGRAM,
                   m_settings.m_strPrimaryTelegram);
    SelectTelegram(m_ui->secondaryTelegramCombo, XML_SECONDARY_TELEGRAM,
                   m_settings.m_strSecondaryTelegram);
    for (QComboBox* list :
         {m_ui->primaryTelegramCombo, m_ui->primaryBaudCombo, m_ui->primaryPortCombo,
          m_ui->secondaryTelegramCombo, m_ui->secondaryBaudCombo, m_ui->secondaryPortCombo}) {
        list->setEnabled(m_settings.m_bEnableOutputUI);
    }
    SelectNoting(m_ui->frequencyCombo, XML_TELEGRAM_OUTPUT_FREQUENCY, m_settings.m_strFrequency,
                 "1 Hz, 2 Hz, 5 Hz, 10 Hz, 25 Hz or Max Output (a telegram for every sample, as "
                 "many as the sensor gives)");
}

void CTavimoDlg::SaveSettings() {
    m_settings.m_strSensorPort = Text(m_ui->sensorPortCombo);
    m_settings.m_strSensorBaud = Text(m_ui->sensorBaudCombo);
    m_store.SaveSettings(m_settings);
}

short CTavimoDlg::PortNumber(const QString& text) {
    // "COM12" gives 12; a text of three characters or fewer gives 0.
    const std::string s = text.toStdString();
    return s.size() > 3 ? static_cast<short>(std::atoi(s.c_str() + 3)) : static_cast<short>(0);
}

int CTavimoDlg::TelegramType(const QComboBox* list) {
    const int type = list->currentIndex() >= 0 ? list->currentData().toInt() : 0;
    return type >= 0 && type < kOutputTelegramCount ? type : 0;
}

void CTavimoDlg::StopSensorIfRunning() {
    if (m_pXsensModule != nullptr && m_bSensorRunning) {
        m_pXsensModule->StopSensor();
        m_bSensorRunning = false;
    }
}

void CTavimoDlg::Connect() {
    StopSensorIfRunning();
    if (m_pLed != nullptr) {
        m_pLed->SetActiveColor(kOrange);
        m_pLed->SetFlashing(true);
    }
    m_connectTimer.start();
}

void CTavimoDlg::OnConnect() {
    m_bConnectRequested = true;
    Connect();
}

void CTavimoDlg::DoConnect() {
    m_connectTimer.stop();
    if (m_pXsensModule != nullptr) {
        const short port = PortNumber(m_ui->sensorPortCombo->currentText());
        const long baud = m_ui->sensorBaudCombo->currentText().toLong();
        m_pXsensModule->OpenSensorPort(port, baud);
        m_pXsensModule->SetFilterSettings(m_settings.m_fFilterGain,
                                          m_settings.m_fMagnetometerWeight);
        short actualPort = 0;
        long actualBaud = 0;
        m_pXsensModule->GetSensorSettings(actualPort, actualBaud, m_strDeviceId,
                                          m_settings.m_fFilterGain,
                                          m_settings.m_fMagnetometerWeight, m_nSampleRate);
        if (!m_strDeviceId.empty()) {
            m_nOpenAttempts = 0;
            m_dLastSampleTime = 0.0;
            if (m_pLed != nullptr) {
                m_pLed->SetActiveColor(kGreen);
            }
            m_ui->advancedButton->setEnabled(true);
            CheckRateAndStart();
            if (m_bEmbedded && !m_bConnectRequested) {
                hide();
            }
        } else {
            if (m_pLed != nullptr) {
                m_pLed->SetActiveColor(kRed);
            }
            m_ui->advancedButton->setEnabled(false);
            OpenFailed();
        }
    }
    if (m_pLed != nullptr) {
        m_pLed->SetFlashing(false);
    }
    m_bConnectRequested = false;
}

void CTavimoDlg::OpenFailed() {
    if (m_bSensorLost) {
        return;  // the slow retry goes on; it was said once
    }
    const std::string port = Text(m_ui->sensorPortCombo);
    if (m_nOpenAttempts < CMotionTrackerHealthCheck::kMaxAttempts) {
        ++m_nOpenAttempts;
        const std::string text = "The sensor on " + port +
                                 " cannot be opened: trying again in 1 s (attempt " +
                                 std::to_string(m_nOpenAttempts) + " of " +
                                 std::to_string(CMotionTrackerHealthCheck::kMaxAttempts) + ")";
        m_log.TraceNow("DoConnect", "%s", text.c_str());
        std::fprintf(stderr, "Tavimo: %s\n", text.c_str());
        QTimer::singleShot(static_cast<int>(CMotionTrackerHealthCheck::kSilenceMs), this, [this] {
            if (!m_bSensorRunning) {
                Connect();
            }
        });
        return;
    }
    m_nOpenAttempts = 0;
    SensorLost();
}

void CTavimoDlg::SensorLost() {
    if (m_bEmbedded) {
        RaiseAlarm("No longer receiving valid data from the motion sensor hardware.",
                   "The Tavimo is no longer receiving valid data from the motion sensor "
                   "hardware. The "
                   "Tavimo will be restarted in an attempt to fix the problem.");
        PostQuit(kExitSensorLost);  // a service manager starts the module again
        return;
    }
    if (m_bSensorLost && m_bRetrying) {
        return;  // a slow retry's connection that found nothing: it was said once
    }
    if (AfxMessageBox("The Tavimo is no longer receiving valid data from the motion sensor "
                      "hardware.\nThis problem may be resolved by closing and restarting the "
                      "application.\n\nDo you wish to exit the Tavimo Application?",
                      MB_YESNO) == IDYES) {
        PostQuit(0);
        return;
    }
    // Staying: the sensor is tried again every half minute for as long as it takes (a
    // device unplugged for a while, an IIO sensor that comes back).
    if (m_bSensorLost) {
        return;
    }
    m_bSensorLost = true;
    const std::string text = Format(
        "The sensor is lost: trying it again every %.0f s until it answers", kSlowRetryMs / 1000.0);
    m_log.TraceNow("SensorLost", "%s", text.c_str());
    std::fprintf(stderr, "Tavimo: %s\n", text.c_str());
    m_slowRetryTimer.start(kSlowRetryMs);
}

void CTavimoDlg::ReloadSettings() {
    const std::string file = m_store.FileName();
    // Read into a copy first: a file that cannot be read leaves the settings in use alone.
    CTavimoSettings trial = m_settings;
    std::string reason;
    if (!m_store.LoadSettings(trial, &reason)) {
        const std::string text =
            "Cannot reload " + file + ": " + reason + "; the settings in use stay as they are";
        m_log.TraceNow("ReloadSettings", "%s", text.c_str());
        std::fprintf(stderr, "Tavimo: %s\n", text.c_str());
        return;
    }
    const std::string sensorPort = Text(m_ui->sensorPortCombo);
    const std::string sensorBaud = Text(m_ui->sensorBaudCombo);
    const auto row = [this](bool primary) {
        return primary ? Text(m_ui->primaryTelegramCombo) + "|" + Text(m_ui->primaryPortCombo) +
                             "|" + Text(m_ui->primaryBaudCombo)
                       : Text(m_ui->secondaryTelegramCombo) + "|" + Text(m_ui->secondaryPortCombo) +
                             "|" + Text(m_ui->secondaryBaudCombo);
    };
    const std::string primaryBefore = row(true);
    const std::string secondaryBefore = row(false);
    m_settings = std::move(trial);
    ShowSettings();
    ReportNotUnderstood();
    const std::string text = "Reloaded " + file;
    m_log.TraceNow("ReloadSettings", "%s", text.c_str());
    std::fprintf(stderr, "Tavimo: %s\n", text.c_str());
    if (m_pXsensModule == nullptr) {
        return;
    }
    m_pXsensModule->SetSmoothing(m_settings.m_bApplySmoothing);
    m_pXsensModule->SetMagneticVariation(static_cast<float>(m_settings.m_dMagneticVariation));
    m_pXsensModule->SetHeaveSettings(m_settings.m_heave);
    ShowVariation();
    OnSelChangeFrequency();
    EnableRow(true);
    EnableRow(false);
    UpdateFrequencyEnabling();
    // Only an output whose row changed is started again; the others go on as they were.
    m_bPrimaryChanged = row(true) != primaryBefore;
    m_bSecondaryChanged = row(false) != secondaryBefore;
    if (m_bPrimaryChanged || m_bSecondaryChanged) {
        OnApplyOutput();
    } else {
        SaveSettings();
    }
    if (Text(m_ui->sensorPortCombo) != sensorPort || Text(m_ui->sensorBaudCombo) != sensorBaud) {
        Connect();
    }
}

void CTavimoDlg::CheckRateAndStart() {
    SaveSettings();
    if (static_cast<long>(m_nSampleRate) * 270 > m_ui->sensorBaudCombo->currentText().toLong()) {
        AfxMessageBox("Sample Rate too high for this Baud rate !");
        return;
    }
    if (m_pXsensModule == nullptr) {
        return;
    }
    if (!m_bSensorRunning) {
        m_pXsensModule->StartSensor();
        m_bSensorRunning = true;
    }
    m_pXsensModule->SetTimeWindow(m_settings.m_nTimeWindow);
}

void CTavimoDlg::UpdateTelegramOutput(QComboBox* telegramList, QComboBox* portList,
                                      QComboBox* baudList, int& outputId) {
    if (m_pXsensModule == nullptr) {
        return;
    }
    const int type = TelegramType(telegramList);
    const short port = PortNumber(portList->currentText());
    const long baud = baudList->currentText().toLong();
    if (type == 0) {
        if (outputId != 0) {
            m_pXsensModule->RemoveTelegramWorker(outputId);
            outputId = 0;
        }
    } else if (outputId != 0) {
        m_pXsensModule->ModifyTelegramWorker(outputId, type, port, baud);
    } else {
        outputId = m_pXsensModule->AddTelegramWorker(type, port, baud);
    }
}

void CTavimoDlg::UpdateOutputApply() {
    m_ui->outputApplyButton->setEnabled(m_bPrimaryChanged || m_bSecondaryChanged);
}

void CTavimoDlg::UpdateFrequencyEnabling() {
    m_ui->frequencyCombo->setEnabled(TelegramType(m_ui->primaryTelegramCombo) != 0 ||
                                     TelegramType(m_ui->secondaryTelegramCombo) != 0);
}

void CTavimoDlg::OnSelChangeTelegram(bool primary) {
    QComboBox* list = primary ? m_ui->primaryTelegramCombo : m_ui->secondaryTelegramCombo;
    std::string& stored =
        primary ? m_settings.m_strPrimaryTelegram : m_settings.m_strSecondaryTelegram;
    if (TelegramName(list) != stored) {
        stored = TelegramName(list);
        (primary ? m_bPrimaryChanged : m_bSecondaryChanged) = true;
        UpdateOutputApply();
    }
    EnableRow(primary);
    UpdateFrequencyEnabling();
}

void CTavimoDlg::EnableRow(bool primary) {
    const bool on =
        TelegramType(primary ? m_ui->primaryTelegramCombo : m_ui->secondaryTelegramCombo) != 0;
    (primary ? m_ui->primaryPortCombo : m_ui->secondaryPortCombo)->setEnabled(on);
    (primary ? m_ui->primaryBaudCombo : m_ui->secondaryBaudCombo)->setEnabled(on);
}

void CTavimoDlg::OnSelChangePortOrBaud(bool primary) {
    QComboBox* port = primary ? m_ui->primaryPortCombo : m_ui->secondaryPortCombo;
    QComboBox* baud = primary ? m_ui->primaryBaudCombo : m_ui->secondaryBaudCombo;
    std::string& storedPort = primary ? m_settings.m_strPrimaryPort : m_settings.m_strSecondaryPort;
    std::string& storedBaud = primary ? m_settings.m_strPrimaryBaud : m_settings.m_strSecondaryBaud;
    bool changed = false;
    if (Text(port) != storedPort) {
        storedPort = Text(port);
        changed = true;
    }
    if (Text(baud) != storedBaud) {
        storedBaud = Text(baud);
        changed = true;
    }
    if (changed) {
        (primary ? m_bPrimaryChanged : m_bSecondaryChanged) = true;
    }
    UpdateOutputApply();
}

void CTavimoDlg::OnSelChangeFrequency() {
    if (m_pXsensModule == nullptr) {
        return;
    }
    m_settings.m_strFrequency = Text(m_ui->frequencyCombo);
    if (m_ui->frequencyCombo->currentText() == "Max Output") {
        m_pXsensModule->SetOutputInterval(0.0);
        return;
    }
    const int hz = m_ui->frequencyCombo->currentData().toInt();
    if (hz > 0) {
        m_pXsensModule->SetOutputInterval(static_cast<double>(1000 / hz));  // whole milliseconds
    }
}

void CTavimoDlg::OnApplyOutput() {
    StopSensorIfRunning();
    if (m_bPrimaryChanged) {
        UpdateTelegramOutput(m_ui->primaryTelegramCombo, m_ui->primaryPortCombo,
                             m_ui->primaryBaudCombo, m_nPrimaryId);
        m_bPrimaryChanged = false;
    }
    if (m_bSecondaryChanged) {
        UpdateTelegramOutput(m_ui->secondaryTelegramCombo, m_ui->secondaryPortCombo,
                             m_ui->secondaryBaudCombo, m_nSecondaryId);
        m_bSecondaryChanged = false;
    }
    CheckRateAndStart();
    UpdateOutputApply();
    SaveSettings();
}

void CTavimoDlg::ShowVariation() {
    if (m_pVariationEdit != nullptr) {
        m_pVariationEdit->SetValue(m_settings.m_dMagneticVariation);
    }
}

void CTavimoDlg::OnApplyVariation() {
    if (m_pXsensModule == nullptr || m_pVariationEdit == nullptr) {
        return;
    }
    const double value = m_pVariationEdit->GetValue();
    if (value >= -180.0 && value <= 180.0) {
        m_settings.m_dMagneticVariation = value;
        m_pXsensModule->SetMagneticVariation(static_cast<float>(value));
        ShowVariation();
        m_ui->variationApplyButton->setEnabled(false);
        SaveSettings();
        return;
    }
    char text[256];
    std::snprintf(text, sizeof(text), "Please enter a Magnetic Variation value between: %s and %s.",
                  m_pVariationEdit->FormatValue(-180.0).c_str(),
                  m_pVariationEdit->FormatValue(180.0).c_str());
    AfxMessageBox(text);
    ShowVariation();
    m_pVariationEdit->setFocus();
}

void CTavimoDlg::ShowOutputPortState() {
    // An output whose port cannot be opened says so on its row, so a crew sees why an
    // instrument gets nothing; the row clears when the port opens.
    const std::pair<int, QComboBox*> rows[] = {{m_nPrimaryId, m_ui->primaryPortCombo},
                                               {m_nSecondaryId, m_ui->secondaryPortCombo}};
    for (const auto& [id, port] : rows) {
        const bool failed = id != 0 && m_pXsensModule->IsTelegramOutputPortFailed(id);
        const QString tip = failed ? QStringLiteral(
                                         "This output's port cannot be opened: its "
                                         "telegrams are not sent until it opens.")
                                   : QString();
        if (port->toolTip() != tip) {
            port->setToolTip(tip);
            port->setStyleSheet(failed ? QStringLiteral("QComboBox { color: red; }") : QString());
        }
    }
}

void CTavimoDlg::ShowHeadingStanding() {
    // A heading from a magnetometer never calibrated, or disturbed, or from the gyroscope
    // alone is flagged beside it and shown in the warning colour: never silently trusted.
    const QString flag =
        QString::fromUtf8(mtobj::StandingText(m_pXsensModule->GetHeadingStanding()));
    if (m_ui->headingFlag->text() == flag && m_ui->headingFlag->isHidden() == flag.isEmpty()) {
        return;
    }
    m_ui->headingFlag->setText(flag);
    m_ui->headingFlag->setVisible(!flag.isEmpty());
    m_ui->headingValue->setStyleSheet(
        flag.isEmpty() ? QString() : QStringLiteral("QLabel { color: #c00000; }"));
    m_ui->headingValue->setToolTip(
        flag.isEmpty() ? QString() : QStringLiteral("The heading is not to be trusted: ") + flag);
}

void CTavimoDlg::OnStatusTimer() {
    if (m_pXsensModule == nullptr) {
        return;
    }
    ShowOutputPortState();
    ShowHeadingStanding();
    // The newest sample gives the age, and the angles when smoothing is off.
    double newest = 0.0;
    float pitch = 0.0F;
    float roll = 0.0F;
    float heading = 0.0F;
    bool ok = m_pXsensModule->GetOrientationDataLatest(newest, pitch, roll, heading);
    double time = newest;
    const double now = CTickwise::GetPCMilliSecs();
    if (ok && m_settings.m_bApplySmoothing) {
        // Smoothed: the orientation now, on the same time base as the telegrams, but never
        // carried further than a few sample periods past the newest sample, so a silent
        // sensor's attitude stands still instead of running away.
        time = std::min(now,
                        newest + kDisplayExtrapolationPeriods * m_pXsensModule->GetSamplePeriod());
        ok = m_pXsensModule->GetOrientationData(time, pitch, roll, heading);
    }
    const double minutes = newest != 0.0 ? (now - newest) * (1.0 / 60000.0) : 0.0;
    m_strAge = Format("%6.1f min /", minutes) +
               CTickwise::ConvertPCMilliSecsToOleDateTime(newest).Format(" %H:%M:%S");
    m_ui->ageValue->setText(QString::fromStdString(m_strAge));
    // A failed look-up (too few samples in the window) keeps the last good values.
    if (ok && time > m_dLastSampleTime) {
        if (m_bSensorLost && now - newest < 2000.0) {
            m_bSensorLost = m_bRetrying = false;
            m_slowRetryTimer.stop();
            m_log.TraceNow("OnTimer", "The sensor answers again");
            std::fprintf(stderr, "Tavimo: The sensor answers again\n");
        }
        m_dLastSampleTime = time;
        m_strPitch = Format("%5.2f", pitch);
        m_strRoll = Format("%5.2f", roll);
        m_strHeading = Format("%5.2f", heading);
        m_ui->pitchValue->setText(QString::fromStdString(m_strPitch));
        m_ui->rollValue->setText(QString::fromStdString(m_strRoll));
        m_ui->headingValue->setText(QString::fromStdString(m_strHeading));
        if (m_pAttitudeDlg != nullptr) {
            m_pAttitudeDlg->SetAttitude(heading, roll, pitch);
        }
        if (m_p3DViewDlg != nullptr) {
            m_p3DViewDlg->SetRotationMatrix(m_pXsensModule->GetRotationMatrix().data());
        }
    }
}

void CTavimoDlg::RaiseAlarm(const std::string& text, const std::string& detail) {
    CAlarmClient client(windowTitle().toStdString().c_str());
    client.RaiseAlarm(text, true, false, detail);
}

void CTavimoDlg::PostQuit(int exitCode) {
    m_bQuitRequested = true;
    m_nExitCode = exitCode;
    done(IDCANCEL);
}

void CTavimoDlg::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_BINARY_TELEGRAM:
            // The binary worker's notice: accepted and ignored; the copy is ours to free.
            FreeBinaryTelegram(lParam);
            break;
        case WM_QUIT:  // the service manager or the terminal asked the program to end
            PostQuit(0);
            break;
        case WM_TAVIMO_ATTITUDE_CLOSED:
            if (m_pAttitudeDlg != nullptr &&
                reinterpret_cast<CAttitudeDlg*>(lParam) == m_pAttitudeDlg) {
                m_pAttitudeDlg->deleteLater();
                m_pAttitudeDlg = nullptr;
            } else if (m_p3DViewDlg != nullptr &&
                       reinterpret_cast<C3DViewDlg*>(lParam) == m_p3DViewDlg) {
                m_p3DViewDlg->deleteLater();
                m_p3DViewDlg = nullptr;
            }
            break;
        case WM_TAVIMO_RECONNECT_SENSOR:
            if (m_pXsensModule != nullptr) {
                m_pXsensModule->Reconnect();
            }
            break;
        case WM_TAVIMO_SENSOR_LOST:
            SensorLost();
            break;
        case WM_TAVIMO_RELOAD_SETTINGS:
            ReloadSettings();
            break;
        default:
            break;
    }
}

std::unique_ptr<QMenu> CTavimoDlg::BuildTrayMenu() {
    auto menu = std::make_unique<QMenu>();
    CMenu resource;
    if (!resource.LoadMenu(IDR_TRAYMENU) || resource.GetSubMenu(0) == nullptr) {
        return menu;
    }
    CMenu* popup = resource.GetSubMenu(0);
    const UINT removed = isVisible() ? ID_TRAY_RESTORE : ID_TRAY_HIDE;
    for (int i = 0; i < popup->GetMenuItemCount(); ++i) {
        const UINT id = popup->GetMenuItemID(i);
        if (id == removed) {
            continue;
        }
        std::string text;
        popup->GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
        QAction* action = menu->addAction(QString::fromStdString(text));
        action->setData(id);
    }
    return menu;
}

void CTavimoDlg::OnTrayCommand(UINT command) {
    switch (command) {
        case ID_TRAY_HIDE:
            hide();
            break;
        case ID_TRAY_RESTORE:
            showNormal();
            break;
        case ID_TRAY_EXIT:
            PostQuit(0);
            break;
        default:
            break;
    }
}

void CTavimoDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (m_bEmbedded) {
        hide();
        return;
    }
    if (AfxMessageBox("Do you wish to exit the Tavimo Application?", MB_YESNO) == IDYES) {
        done(IDOK);
    }
}

void CTavimoDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape end the dialog at once, without the question.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            done(IDOK);
            return;
        case Qt::Key_Escape:
            done(IDCANCEL);
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CTavimoDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    for (QWidget* child :
         {static_cast<QWidget*>(m_pAttitudeDlg), static_cast<QWidget*>(m_p3DViewDlg)}) {
        if (child != nullptr) {
            child->show();
        }
    }
}

void CTavimoDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    for (QWidget* child :
         {static_cast<QWidget*>(m_pAttitudeDlg), static_cast<QWidget*>(m_p3DViewDlg)}) {
        if (child != nullptr) {
            child->hide();
        }
    }
}

bool CTavimoDlg::eventFilter(QObject* watched, QEvent* event) {
    // The user may have chosen another degree format for the suite since the mask was built.
    if (watched == m_pVariationEdit && event->type() == QEvent::FocusIn &&
        m_pVariationEdit->UnitsChanged()) {
        m_pVariationEdit->SetMask();
        ShowVariation();
    }
    return QDialog::eventFilter(watched, event);
}

void CTavimoDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The window menu's "About" entry.
    const std::string about = LoadStringOrEmpty(IDS_ABOUTBOX);
    if (about.empty()) {
        return;
    }
    QMenu menu(this);
    QString text = QString::fromStdString(about);
    text.replace("&", "");
    menu.addAction(text, this, &CTavimoDlg::OnAbout);
    menu.exec(event->globalPos());
}

void CTavimoDlg::OnAbout() {
    QDialog about(this);
    about.setWindowTitle("About  Tavimo");
    about.setWindowIcon(TavimoIcon());
    auto* layout = new QVBoxLayout(&about);
    layout->addWidget(new QLabel("Tavimo Version 1.0", &about));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.setProperty("ctrlId", IDD_ABOUTBOX);
    about.exec();
}

void CTavimoDlg::OnCompass() {
    if (m_pAttitudeDlg != nullptr) {
        delete m_pAttitudeDlg;
        m_pAttitudeDlg = nullptr;
        return;
    }
    m_pAttitudeDlg = CAttitudeDlg::Create(&m_messageTarget);
    if (m_pAttitudeDlg == nullptr) {
        AfxMessageBox(
            "Unable to display the Attitude window.\n\nPlease ensure that the ActiveX control: "
            "Attitude.ocx is correctly registered.",
            MB_ICONEXCLAMATION);
    }
}

void CTavimoDlg::On3DView() {
    if (m_p3DViewDlg != nullptr) {
        delete m_p3DViewDlg;
        m_p3DViewDlg = nullptr;
        return;
    }
    m_p3DViewDlg = C3DViewDlg::Create(&m_messageTarget);
    if (m_p3DViewDlg == nullptr) {
        AfxMessageBox(
            "Unable to display the Attitude window.\n\nPlease ensure that the ActiveX control: "
            "Attitude.ocx is correctly registered.",
            MB_ICONEXCLAMATION);
        return;
    }
    float offset = 0.0F;
    if (m_store.GetHeadingOffset(offset)) {
        m_p3DViewDlg->SetHeadingOffset(offset);
    }
}

void CTavimoDlg::DestroyChildren() {
    delete m_pAttitudeDlg;
    m_pAttitudeDlg = nullptr;
    delete m_p3DViewDlg;
    m_p3DViewDlg = nullptr;
}

void CTavimoDlg::OnAdvanced() {
    StopSensorIfRunning();
    CAdvancedDlg dlg(this);
    dlg.exec();
    SaveSettings();
    CheckRateAndStart();
}
