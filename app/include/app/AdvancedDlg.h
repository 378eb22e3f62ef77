// The "Advanced" dialog: the connected sensor's id, its sample rate and baud rate
// (applied to the sensor at once), the filter gain and magnetometer weight, smoothing and
// its time window, the Euler log, and the calibration of a raw sensor.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "mtobj/CalibrationSteps.h"

namespace Ui {
class CAdvancedDlg;
}
class CTavimoDlg;

constexpr int IDD_ADVANCED = 13660;

class CAdvancedDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAdvancedDlg(CTavimoDlg* mainDlg);
    ~CAdvancedDlg() override;

    // Validates and copies the values back into the main window; the dialog stays open
    // (with a message and the focus on the field) when a value is out of range.
    void OnOK();
    void OnApplySampleRate();
    void OnApplyBaudRate();
    void OnSmoothing();
    void OnBrowseFolder();
    void OnLogging();

    // Calibration of a raw sensor, taken by the running sensor: the dialog holds the sensor
    // stopped, so a step starts it for its duration (the telegrams go on meanwhile) and stops
    // it again when the step ends. Progress is polled while a step runs; closing the dialog
    // cancels a step in progress.
    void OnCalibrationStep(mtobj::CalibrationStep step);
    void OnFinishStep();
    void OnCancelStep();
    void OnApplyHeadingOffset();
    void OnUndoCalibration();
    void OnResetCalibration();
    void OnCalibrationTimer();
    // Shows the heave at the monitoring point and whether it has settled (once a second).
    void ShowHeave();
    bool IsCalibrating() const { return m_calibrationTimer.isActive(); }
    void done(int result) override;
    // The folder browser: the chosen folder, or empty when cancelled (tests replace it).
    std::function<std::string(const std::string& start)> m_browse;

    short SampleRate() const { return m_nSampleRate; }
    float FilterGain() const { return m_fFilterGain; }
    float MagnetometerWeight() const { return m_fMagnetometerWeight; }
    unsigned TimeWindow() const { return m_nTimeWindow; }

private:
    void SelectBaud(long baud);
    void SelectRate(short rate);
    void ShowSensorValues();
    void ReadSensorBack(class CXsensModule* link);
    // The group's state: enabled or why not, the stored calibration and the last result.
    void ShowCalibration();
    void EnableCalibrationButtons(bool stepRunning);
    void EndCalibrationStep();
    enum class EField { Real, Unsigned };
    bool Validate(const QString& text, double low, double high, EField kind, QWidget* field,
                  double& value);

    std::unique_ptr<Ui::CAdvancedDlg> m_ui;
    CTavimoDlg* m_pMainDlg;
    short m_nSampleRate;
    float m_fFilterGain;
    float m_fMagnetometerWeight;
    unsigned m_nTimeWindow;
    std::string m_strDeviceId;
    QTimer m_calibrationTimer;
    QTimer m_heaveTimer;
    QString m_lastCalibrationResult;
    bool m_bStartedSensorForStep = false;
};
