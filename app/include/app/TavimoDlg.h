// The program's main window: shows pitch, roll, magnetic heading and the age of the data
// five times a second, lets the user choose the sensor's port and baud rate, the magnetic
// variation and up to two telegram outputs, and reacts to the health check's messages.
// Started with "Embedded" it lives hidden behind a notification-area icon and reports
// faults as alarms instead of message boxes.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>

#include "app/QtMessageTarget.h"
#include "app/Settings.h"
#include "interfaces/CommsManager.h"
#include "interfaces/ErrorLog.h"
#include "interfaces/PortManager.h"
#include "platform/Com.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSystemTrayIcon;
class QMenu;
class CXsensModule;
class CLedCtrl;
class CCJLatitudeEdit;
class CCommandLineInfoEx;
class CAttitudeDlg;
class C3DViewDlg;

namespace Ui {
class CTavimoDlg;
}

// Private messages of the main window; the workers' own (WM_USER+100, +103, +104) are
// declared beside their senders.
constexpr UINT WM_TAVIMO_TRAY_NOTIFY = WM_USER + 101;
constexpr UINT WM_TAVIMO_ATTITUDE_CLOSED = WM_USER + 102;
// Read the configuration file again (SIGHUP).
constexpr UINT WM_TAVIMO_RELOAD_SETTINGS = WM_USER + 105;

constexpr UINT IDD_TAVIMO_DIALOG = 13652;
constexpr UINT IDD_ABOUTBOX = 13653;
constexpr UINT IDS_ABOUTBOX = 13654;
constexpr UINT IDR_TRAYICON = 13662;
constexpr UINT IDR_TRAYMENU = 13663;
constexpr UINT IDI_TAVIMO = 13664;
constexpr UINT ID_TRAY_HIDE = 37200;
constexpr UINT ID_TRAY_EXIT = 37201;
constexpr UINT ID_TRAY_RESTORE = 37202;
constexpr UINT IDM_ABOUTBOX = 16;

// The window's own texts, registered with the program's resources.
void RegisterTavimoDlgResources();

class CTavimoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTavimoDlg(const CCommandLineInfoEx& commandLine, QWidget* parent = nullptr);
    ~CTavimoDlg() override;

    // Initialises the window and runs it modally; returns at once when initialisation
    // asked the program to quit.
    int DoModal();
    // The start-up sequence; TRUE always (a failure posts the quit instead).
    BOOL OnInitDialog();
    bool QuitRequested() const { return m_bQuitRequested; }
    // The process's exit status: non-zero when the module quit because the sensor was
    // lost while embedded, so a service manager starts it again.
    int ExitCode() const { return m_nExitCode; }

    // False when the configuration file could not be read (then the defaults apply), with
    // the reason in *reason.
    bool LoadSettings(std::string* reason = nullptr);
    // Selects the lists' entries from the settings, noting texts that match none.
    void ShowSettings();
    void SaveSettings();
    void Connect();
    void DoConnect();
    void CheckRateAndStart();
    void StopSensorIfRunning();
    void UpdateTelegramOutput(QComboBox* telegramList, QComboBox* portList, QComboBox* baudList,
                              int& outputId);
    // A message posted to the main window (runs on the window's thread).
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The 200 ms display refresh.
    void OnStatusTimer();
    // The heading's standing beside it (nothing while trusted).
    void ShowHeadingStanding();
    // With smoothing on, the display carries the attitude at most this many sample periods
    // past the newest sample (120 ms at 25 Hz); a silent sensor's attitude then stands still.
    static constexpr double kDisplayExtrapolationPeriods = 3.0;

    // The controls by resource id (the labels, lists and buttons of the template).
    QWidget* Control(int id) const;
    CXsensModule* SensorLink() const { return m_pXsensModule; }
    CTavimoSettings& Settings() { return m_settings; }
    const CTavimoSettingsStore& SettingsStore() const { return m_store; }
    CLedCtrl* Led() const { return m_pLed; }
    CCJLatitudeEdit* VariationEdit() const { return m_pVariationEdit; }
    bool IsEmbedded() const { return m_bEmbedded; }
    bool IsSensorRunning() const { return m_bSensorRunning; }
    const std::string& DeviceId() const { return m_strDeviceId; }
    void SetDeviceId(const std::string& id) { m_strDeviceId = id; }
    short SampleRate() const { return m_nSampleRate; }
    void SetSampleRate(short rate) { m_nSampleRate = rate; }
    int PrimaryOutputId() const { return m_nPrimaryId; }
    int SecondaryOutputId() const { return m_nSecondaryId; }
    CAttitudeDlg* AttitudeWindow() const { return m_pAttitudeDlg; }
    C3DViewDlg* ViewWindow() const { return m_p3DViewDlg; }
    QSystemTrayIcon* TrayIcon() const { return m_pTrayIcon; }
    // The tray menu as it would open now (Hide or Restore, and Exit).
    std::unique_ptr<QMenu> BuildTrayMenu();
    void OnTrayCommand(UINT command);

    // Button and list handlers.
    void OnConnect();
    void OnCompass();
    void On3DView();
    void OnAdvanced();
    void OnApplyVariation();
    void OnApplyOutput();
    void OnSelChangeFrequency();
    void OnSelChangeTelegram(bool primary);
    void OnSelChangePortOrBaud(bool primary);
    void OnAbout();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillLists();
    void UpdateOutputApply();
    void UpdateFrequencyEnabling();
    void EnableRow(bool primary);
    void RaiseAlarm(const std::string& text, const std::string& detail);
    void ShowOutputPortState();
    // A configuration file that cannot be read or made: a message box, or an alarm and a
    // non-zero exit when embedded.
    void ReportUnreadableConfiguration(const std::string& reason);
    // Says once at start what the configuration file held that was not understood.
    void ReportNotUnderstood();
    // Selects the list's entry with exactly the file's text; a text that matches none is
    // recorded as not understood (what `valid` says it can be, or the list's entries), with
    // the entry kept instead.
    void SelectNoting(QComboBox* list, const char* node, const std::string& text,
                      const std::string& valid);
    void PostQuit(int exitCode = 0);
    void DestroyChildren();
    void ShowVariation();
    static short PortNumber(const QString& text);
    static int TelegramType(const QComboBox* list);
    // The configuration file's name of the type a telegram list shows ("SignalK").
    static std::string TelegramName(const QComboBox* list);
    // Selects the type the file names; a name not in the list is noted as not understood.
    void SelectTelegram(QComboBox* list, const char* node, const std::string& name);

    std::unique_ptr<Ui::CTavimoDlg> m_ui;
    CErrorLog m_log;
    CTavimoSettingsStore m_store;
    CTavimoSettings m_settings;
    short m_nSampleRate = 25;
    std::string m_strDeviceId;
    std::string m_strPitch, m_strRoll, m_strHeading, m_strAge;
    CXsensModule* m_pXsensModule = nullptr;
    CPortManager m_portManager;
    CAttitudeDlg* m_pAttitudeDlg = nullptr;
    C3DViewDlg* m_p3DViewDlg = nullptr;
    bool m_bEmbedded = false;
    bool m_bSensorRunning = false;
    bool m_bConnectRequested = false;
    bool m_bPrimaryChanged = false;
    bool m_bSecondaryChanged = false;
    int m_nPrimaryId = 0;
    int m_nSecondaryId = 0;
    double m_dLastSampleTime = 0.0;
    QTimer m_statusTimer;   // id 1001, 200 ms
    QTimer m_connectTimer;  // id 1002, 1000 ms
    // A sensor that cannot be opened is tried again like a silent one: a second apart, as
    // many times as the health check reconnects, then it is lost. With the window (not
    // embedded) a lost sensor is then tried every kSlowRetryMs until it answers again.
    static constexpr int kSlowRetryMs = 30000;
    QTimer m_slowRetryTimer;
    int m_nOpenAttempts = 0;
    bool m_bSensorLost = false;  // lost, and tried again slowly
    bool m_bRetrying = false;    // a connection the slow retry made is running
    void OpenFailed();
    void SensorLost();
    // Reads the configuration file again, with the checks of the start, and applies it:
    // outputs, rate, variation, smoothing, heave, and the sensor when its port changed.
    void ReloadSettings();
    DWORD m_dwSinkCookie = 0;
    CLedCtrl* m_pLed = nullptr;
    CComPtr<IUnknown> m_ledObject;
    CCJLatitudeEdit* m_pVariationEdit = nullptr;
    QSystemTrayIcon* m_pTrayIcon = nullptr;
    CQtMessageTarget m_messageTarget;
    bool m_bQuitRequested = false;
    bool m_bInitialised = false;
    int m_nExitCode = 0;
};
