#include "app/AdvancedDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstdio>

#include "app/TavimoDlg.h"
#include "app/XsensModule.h"
#include "platform/Prompt.h"
#include "ui_AdvancedDlg.h"

namespace {
// Selects the first entry that begins with the text.
void SelectPrefix(QComboBox* list, const QString& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i).startsWith(text)) {
            list->setCurrentIndex(i);
            return;
        }
    }
}

QString Fixed(double value) {
    return QString::asprintf("%5.2f", value);
}

constexpr int kCalibrationPollMs = 250;
}  // namespace

CAdvancedDlg::CAdvancedDlg(CTavimoDlg* mainDlg)
    : QDialog(mainDlg),
      m_ui(std::make_unique<Ui::CAdvancedDlg>()),
      m_pMainDlg(mainDlg),
      m_nSampleRate(mainDlg->SampleRate()),
      m_fFilterGain(mainDlg->Settings().m_fFilterGain),
      m_fMagnetometerWeight(mainDlg->Settings().m_fMagnetometerWeight),
      m_nTimeWindow(static_cast<unsigned>(mainDlg->Settings().m_nTimeWindow)),
      m_strDeviceId(mainDlg->DeviceId()) {
    m_ui->setupUi(this);
    m_browse = [this](const std::string& start) {
        QFileDialog browser(this, "Log File Folder", QString::fromStdString(start));
        browser.setFileMode(QFileDialog::Directory);
        browser.setOption(QFileDialog::ShowDirsOnly, true);
        if (!start.empty()) {
            browser.selectFile(QString::fromStdString(start));
        }
        return browser.exec() == QDialog::Accepted && !browser.selectedFiles().isEmpty()
                   ? browser.selectedFiles().front().toStdString()
                   : std::string();
    };
    const CTavimoSettings& settings = mainDlg->Settings();
    ShowSensorValues();
    m_ui->windowEdit->setText(QString::number(m_nTimeWindow));
    m_ui->folderEdit->setText(QString::fromStdString(settings.m_strLogFolder));
    auto* sensorBaud = qobject_cast<QComboBox*>(mainDlg->Control(13711));
    if (sensorBaud != nullptr) {
        SelectPrefix(m_ui->baudCombo, sensorBaud->currentText());
    }
    m_ui->loggingButton->setChecked(settings.m_bLogging);
    m_ui->smoothingCheck->setChecked(settings.m_bApplySmoothing);
    m_ui->pointXEdit->setText(QString::number(settings.m_heave.x));
    m_ui->pointYEdit->setText(QString::number(settings.m_heave.y));
    m_ui->pointZEdit->setText(QString::number(settings.m_heave.z));
    m_ui->heavePeriodEdit->setText(QString::number(settings.m_heave.period));
    m_ui->gnssPortEdit->setText(QString::fromStdString(settings.m_heave.gnssPort));
    m_ui->gnssPortEdit->setPlaceholderText(QStringLiteral("none"));
    m_ui->gnssBaudEdit->setText(QString::number(settings.m_heave.gnssBaud));
    m_ui->antennaXEdit->setText(QString::number(settings.m_heave.antennaX));
    m_ui->antennaYEdit->setText(QString::number(settings.m_heave.antennaY));
    m_ui->antennaZEdit->setText(QString::number(settings.m_heave.antennaZ));
    m_heaveTimer.setInterval(1000);
    connect(&m_heaveTimer, &QTimer::timeout, this, &CAdvancedDlg::ShowHeave);
    m_heaveTimer.start();
    ShowHeave();

    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CAdvancedDlg::OnOK);
    connect(m_ui->rateApplyButton, &QPushButton::clicked, this, &CAdvancedDlg::OnApplySampleRate);
    connect(m_ui->baudApplyButton, &QPushButton::clicked, this, &CAdvancedDlg::OnApplyBaudRate);
    connect(m_ui->smoothingCheck, &QCheckBox::clicked, this, &CAdvancedDlg::OnSmoothing);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CAdvancedDlg::OnBrowseFolder);
    connect(m_ui->loggingButton, &QPushButton::clicked, this, &CAdvancedDlg::OnLogging);

    m_calibrationTimer.setInterval(kCalibrationPollMs);
    connect(&m_calibrationTimer, &QTimer::timeout, this, &CAdvancedDlg::OnCalibrationTimer);
    connect(m_ui->restButton, &QPushButton::clicked, this,
            [this] { OnCalibrationStep(mtobj::CalibrationStep::Rest); });
    connect(m_ui->levelButton, &QPushButton::clicked, this,
            [this] { OnCalibrationStep(mtobj::CalibrationStep::Level); });
    connect(m_ui->magButton, &QPushButton::clicked, this,
            [this] { OnCalibrationStep(mtobj::CalibrationStep::Mag); });
    connect(m_ui->finishButton, &QPushButton::clicked, this, &CAdvancedDlg::OnFinishStep);
    connect(m_ui->cancelStepButton, &QPushButton::clicked, this, &CAdvancedDlg::OnCancelStep);
    connect(m_ui->headingOffsetApplyButton, &QPushButton::clicked, this,
            &CAdvancedDlg::OnApplyHeadingOffset);
    connect(m_ui->undoButton, &QPushButton::clicked, this, &CAdvancedDlg::OnUndoCalibration);
    connect(m_ui->resetButton, &QPushButton::clicked, this, &CAdvancedDlg::OnResetCalibration);
    m_ui->calibrationProgress->setTextVisible(true);
    m_ui->calibrationProgress->setFormat(QString());
    m_ui->headingOffsetEdit->setPlaceholderText("e.g. -2.5");
    // The calibration's description is laid out in columns.
    m_ui->calibrationText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ShowCalibration();
}

CAdvancedDlg::~CAdvancedDlg() {
    OnCancelStep();
}

void CAdvancedDlg::ShowSensorValues() {
    m_ui->deviceIdValue->setText(QString::fromStdString(m_strDeviceId));
    m_ui->gainEdit->setText(Fixed(m_fFilterGain));
    m_ui->weightEdit->setText(Fixed(m_fMagnetometerWeight));
    SelectRate(m_nSampleRate);
}

void CAdvancedDlg::SelectRate(short rate) {
    SelectPrefix(m_ui->rateCombo, QString::asprintf("%d", rate));
}

void CAdvancedDlg::SelectBaud(long baud) {
    const QString text = QString::asprintf("%ld", baud);
    SelectPrefix(m_ui->baudCombo, text);
    if (auto* sensorBaud = qobject_cast<QComboBox*>(m_pMainDlg->Control(13711))) {
        SelectPrefix(sensorBaud, text);
    }
}

bool CAdvancedDlg::Validate(const QString& text, double low, double high, EField kind,
                            QWidget* field, double& value) {
    // The framework's own texts: a real number, or an unsigned integer whose bad or
    // negative input asks for a positive integer.
    const QString trimmed = text.trimmed();
    bool ok = false;
    char message[128] = {};
    if (kind == EField::Real) {
        value = trimmed.toDouble(&ok);
        if (!ok) {
            std::snprintf(message, sizeof(message), "Please enter a number.");
        } else if (const float f = static_cast<float>(value);
                   f < static_cast<float>(low) || f > static_cast<float>(high)) {
            // The fields are floats: compared, and written, as floats.
            std::snprintf(message, sizeof(message), "Please enter a number between %.*g and %.*g.",
                          FLT_DIG, static_cast<double>(static_cast<float>(low)), FLT_DIG,
                          static_cast<double>(static_cast<float>(high)));
        }
    } else {
        const qulonglong number = trimmed.startsWith('-') ? 0 : trimmed.toULongLong(&ok);
        ok = ok && number <= UINT_MAX;
        value = static_cast<double>(number);
        if (!ok) {
            std::snprintf(message, sizeof(message), "Please enter a positive integer.");
        } else if (value < low || value > high) {
            std::snprintf(message, sizeof(message), "Please enter an integer between %u and %u.",
                          static_cast<unsigned>(low), static_cast<unsigned>(high));
        }
    }
    if (message[0] == '\0') {
        return true;
    }
    AfxMessageBox(message, MB_ICONEXCLAMATION);
    field->setFocus();
    return false;
}

void CAdvancedDlg::OnOK() {
    double gain = 0.0;
    double weight = 0.0;
    double window = 0.0;
    mtobj::HeaveSettings heave = m_pMainDlg->Settings().m_heave;
    const double arm = mtobj::HeaveSettings::kLongestArm;
    double baud = 0;
    if (!Validate(m_ui->gainEdit->text(), 0.1, 100.0, EField::Real, m_ui->gainEdit, gain) ||
        !Validate(m_ui->weightEdit->text(), 0.1, 100.0, EField::Real, m_ui->weightEdit, weight) ||
        !Validate(m_ui->windowEdit->text(), 0.0, 10000.0, EField::Unsigned, m_ui->windowEdit,
                  window) ||
        !Validate(m_ui->pointXEdit->text(), -arm, arm, EField::Real, m_ui->pointXEdit, heave.x) ||
        !Validate(m_ui->pointYEdit->text(), -arm, arm, EField::Real, m_ui->pointYEdit, heave.y) ||
        !Validate(m_ui->pointZEdit->text(), -arm, arm, EField::Real, m_ui->pointZEdit, heave.z) ||
        !Validate(m_ui->heavePeriodEdit->text(), attfilter::CHeaveFilter::kMinPeriod,
                  attfilter::CHeaveFilter::kMaxPeriod, EField::Real, m_ui->heavePeriodEdit,
                  heave.period) ||
        !Validate(m_ui->gnssBaudEdit->text(), 1, mtobj::HeaveSettings::kFastestBaud,
                  EField::Unsigned, m_ui->gnssBaudEdit, baud) ||
        !Validate(m_ui->antennaXEdit->text(), -arm, arm, EField::Real, m_ui->antennaXEdit,
                  heave.antennaX) ||
        !Validate(m_ui->antennaYEdit->text(), -arm, arm, EField::Real, m_ui->antennaYEdit,
                  heave.antennaY) ||
        !Validate(m_ui->antennaZEdit->text(), -arm, arm, EField::Real, m_ui->antennaZEdit,
                  heave.antennaZ)) {
        return;
    }
    heave.gnssBaud = static_cast<long>(baud);
    heave.gnssPort = m_ui->gnssPortEdit->text().trimmed().toStdString();
    if (const std::string problem = heave.Problem(); !problem.empty()) {
        AfxMessageBox("Please enter " + problem + ".", MB_ICONEXCLAMATION);
        m_ui->gnssPortEdit->setFocus();
        return;
    }
    m_fFilterGain = static_cast<float>(gain);
    m_fMagnetometerWeight = static_cast<float>(weight);
    m_nTimeWindow = static_cast<unsigned>(window);
    CTavimoSettings& settings = m_pMainDlg->Settings();
    settings.m_nTimeWindow = static_cast<int>(m_nTimeWindow);
    settings.m_fFilterGain = m_fFilterGain;
    settings.m_fMagnetometerWeight = m_fMagnetometerWeight;
    settings.m_heave = heave;
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        link->SetHeaveSettings(heave);
    }
    m_pMainDlg->SetDeviceId(m_strDeviceId);
    m_pMainDlg->SetSampleRate(m_nSampleRate);
    accept();
}

void CAdvancedDlg::OnApplySampleRate() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    if (link == nullptr) {
        return;
    }
    m_nSampleRate = static_cast<short>(m_ui->rateCombo->currentText().toInt());
    link->SetSampleRate(m_nSampleRate);
    ReadSensorBack(link);
}

void CAdvancedDlg::OnApplyBaudRate() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    if (link == nullptr) {
        return;
    }
    link->SetSensorBaudRate(m_ui->baudCombo->currentText().toLong());
    ReadSensorBack(link);
}

void CAdvancedDlg::ReadSensorBack(CXsensModule* link) {
    // The lists show what the sensor reports now, also after it refused the change. The
    // gain and weight edits keep what the user typed: OK decides about them.
    short port = 0;
    long baud = 0;
    link->GetSensorSettings(port, baud, m_strDeviceId, m_fFilterGain, m_fMagnetometerWeight,
                            m_nSampleRate);
    SelectBaud(baud);
    SelectRate(m_nSampleRate);
}

void CAdvancedDlg::OnSmoothing() {
    const bool on = m_ui->smoothingCheck->isChecked();
    m_pMainDlg->Settings().m_bApplySmoothing = on;
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        link->SetSmoothing(on);
    }
}

void CAdvancedDlg::OnBrowseFolder() {
    const std::string chosen = m_browse(m_pMainDlg->Settings().m_strLogFolder);
    if (chosen.empty()) {
        return;
    }
    CTavimoSettings& settings = m_pMainDlg->Settings();
    settings.m_strLogFolder = chosen;
    m_ui->folderEdit->setText(QString::fromStdString(chosen));
    // A running log moves to the new folder at once.
    if (CXsensModule* link = m_pMainDlg->SensorLink(); link != nullptr && settings.m_bLogging) {
        link->SetEulerLogFolder(true, chosen);
    }
}

void CAdvancedDlg::OnLogging() {
    CTavimoSettings& settings = m_pMainDlg->Settings();
    settings.m_bLogging = !settings.m_bLogging;
    m_ui->loggingButton->setChecked(settings.m_bLogging);
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        link->SetEulerLogFolder(settings.m_bLogging, settings.m_strLogFolder);
    }
}

// ---- Calibration -------------------------------------------------------------------------------

void CAdvancedDlg::ShowCalibration() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    std::string why = "There is no sensor.";
    const bool available = link != nullptr && link->CanCalibrate(&why);
    m_ui->calibrationGroup->setEnabled(available);
    m_ui->calibrationNote->setText(
        available ? QStringLiteral("Steps run while the sensor delivers: At Rest and Level with "
                                   "the vessel still (and level), Circle while it turns a full "
                                   "circle (Finish ends it early).")
                  : QString::fromStdString(why));
    EnableCalibrationButtons(IsCalibrating());
    QString text;
    if (!m_lastCalibrationResult.isEmpty()) {
        text = m_lastCalibrationResult + "\n\n";
    }
    std::string current;
    std::string previous;
    if (available && link->DescribeCalibration(current, previous)) {
        text += "Stored calibration of " + QString::fromStdString(m_strDeviceId) + ":\n" +
                (current.empty() ? QStringLiteral("none: the sensor is not calibrated\n")
                                 : QString::fromStdString(current));
        if (!previous.empty()) {
            text += "\nPrevious (Undo brings it back):\n" + QString::fromStdString(previous);
        }
    }
    m_ui->calibrationText->setPlainText(text);
}

void CAdvancedDlg::EnableCalibrationButtons(bool stepRunning) {
    for (QWidget* idle :
         {static_cast<QWidget*>(m_ui->restButton), static_cast<QWidget*>(m_ui->levelButton),
          static_cast<QWidget*>(m_ui->magButton), static_cast<QWidget*>(m_ui->headingOffsetEdit),
          static_cast<QWidget*>(m_ui->headingOffsetApplyButton),
          static_cast<QWidget*>(m_ui->undoButton), static_cast<QWidget*>(m_ui->resetButton)}) {
        idle->setEnabled(!stepRunning);
    }
    m_ui->finishButton->setEnabled(stepRunning);
    m_ui->cancelStepButton->setEnabled(stepRunning);
}

void CAdvancedDlg::OnCalibrationStep(mtobj::CalibrationStep step) {
    CXsensModule* link = m_pMainDlg->SensorLink();
    if (link == nullptr || IsCalibrating()) {
        return;
    }
    // The step is taken from what the running sensor delivers.
    if (!m_pMainDlg->IsSensorRunning()) {
        m_pMainDlg->CheckRateAndStart();
        m_bStartedSensorForStep = m_pMainDlg->IsSensorRunning();
    }
    const HRESULT hr = link->BeginCalibrationStep(step);
    if (FAILED(hr)) {
        m_lastCalibrationResult =
            hr == E_NOTIMPL ? QStringLiteral("This sensor needs no calibration.")
                            : QStringLiteral("The sensor is not running: the step cannot begin.");
        EndCalibrationStep();
        return;
    }
    m_lastCalibrationResult.clear();
    m_ui->calibrationProgress->setValue(0);
    m_calibrationTimer.start();
    EnableCalibrationButtons(true);
    OnCalibrationTimer();
}

void CAdvancedDlg::ShowHeave() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    const std::optional<mtobj::Motion> motion =
        link != nullptr ? link->GetMotion() : std::optional<mtobj::Motion>();
    if (!motion) {
        m_ui->heaveStatusLabel->setText(QStringLiteral("No heave from this sensor."));
        return;
    }
    const bool settled = motion->status == 'U';
    const char* ground = mtobj::GroundVelocityText(motion->ground);
    m_ui->heaveStatusLabel->setText(
        QString::asprintf("Heave %+.2f m, %s%s%s", motion->heave,
                          settled ? "settled (U)" : "settling or not to be trusted yet (u)",
                          *ground != '\0' ? "; " : "", ground));
}

void CAdvancedDlg::OnCalibrationTimer() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    if (link == nullptr) {
        EndCalibrationStep();
        return;
    }
    const mtobj::CalibrationProgress p = link->GetCalibrationProgress();
    const QString name = QString::fromUtf8(mtobj::StepName(p.step));
    if (p.state == mtobj::CalibrationState::Collecting ||
        p.state == mtobj::CalibrationState::Computing) {
        const double part = p.askedSeconds > 0 ? p.collectedSeconds / p.askedSeconds : 0.0;
        m_ui->calibrationProgress->setValue(static_cast<int>(std::clamp(part, 0.0, 1.0) * 1000));
        QString format = p.state == mtobj::CalibrationState::Computing
                             ? name + ": computing"
                             : QString::asprintf("%s: %.1f of %.0f s", mtobj::StepName(p.step),
                                                 p.collectedSeconds, p.askedSeconds);
        if (p.step == mtobj::CalibrationStep::Mag) {
            format += QString::asprintf(", circle %.0f deg", p.coverageDegrees);
        }
        m_ui->calibrationProgress->setFormat(format);
        return;
    }
    m_ui->calibrationProgress->setValue(p.state == mtobj::CalibrationState::Applied ? 1000 : 0);
    m_ui->calibrationProgress->setFormat(
        p.state == mtobj::CalibrationState::Applied ? name + ": applied" : name + ": not applied");
    m_lastCalibrationResult = QString::fromStdString(p.text);
    EndCalibrationStep();
}

void CAdvancedDlg::EndCalibrationStep() {
    m_calibrationTimer.stop();
    // The dialog holds the sensor stopped, as before the step.
    if (m_bStartedSensorForStep) {
        m_pMainDlg->StopSensorIfRunning();
        m_bStartedSensorForStep = false;
    }
    ShowCalibration();
}

void CAdvancedDlg::OnFinishStep() {
    if (CXsensModule* link = m_pMainDlg->SensorLink(); link != nullptr && IsCalibrating()) {
        link->FinishCalibrationStep();
        OnCalibrationTimer();
    }
}

void CAdvancedDlg::OnCancelStep() {
    if (!IsCalibrating()) {
        return;
    }
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        link->CancelCalibrationStep();
    }
    m_lastCalibrationResult = QStringLiteral("Step cancelled; the calibration is unchanged.");
    m_ui->calibrationProgress->setValue(0);
    m_ui->calibrationProgress->setFormat(QString());
    EndCalibrationStep();
}

void CAdvancedDlg::done(int result) {
    OnCancelStep();
    QDialog::done(result);
}

void CAdvancedDlg::OnApplyHeadingOffset() {
    CXsensModule* link = m_pMainDlg->SensorLink();
    double offset = 0.0;
    if (link == nullptr || !Validate(m_ui->headingOffsetEdit->text(), -180.0, 180.0, EField::Real,
                                     m_ui->headingOffsetEdit, offset)) {
        return;
    }
    m_lastCalibrationResult =
        SUCCEEDED(link->SetHeadingOffset(offset))
            ? QString::asprintf("Heading offset %.3f deg stored and applied.", offset)
            : QStringLiteral("The heading offset could not be stored.");
    ShowCalibration();
}

void CAdvancedDlg::OnUndoCalibration() {
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        m_lastCalibrationResult =
            SUCCEEDED(link->UndoCalibration())
                ? QStringLiteral("Back to the calibration before the last change.")
                : QStringLiteral("There is no earlier calibration to go back to.");
        ShowCalibration();
    }
}

void CAdvancedDlg::OnResetCalibration() {
    if (CXsensModule* link = m_pMainDlg->SensorLink()) {
        m_lastCalibrationResult =
            SUCCEEDED(link->ResetCalibration())
                ? QStringLiteral("Calibration forgotten (Undo brings it back).")
                : QStringLiteral("The calibration could not be reset.");
        ShowCalibration();
    }
}
