#include "app/AdvancedDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
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

    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CAdvancedDlg::OnOK);
    connect(m_ui->rateApplyButton, &QPushButton::clicked, this, &CAdvancedDlg::OnApplySampleRate);
    connect(m_ui->baudApplyButton, &QPushButton::clicked, this, &CAdvancedDlg::OnApplyBaudRate);
    connect(m_ui->smoothingCheck, &QCheckBox::clicked, this, &CAdvancedDlg::OnSmoothing);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CAdvancedDlg::OnBrowseFolder);
    connect(m_ui->loggingButton, &QPushButton::clicked, this, &CAdvancedDlg::OnLogging);
}

CAdvancedDlg::~CAdvancedDlg() = default;

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
    if (!Validate(m_ui->gainEdit->text(), 0.1, 100.0, EField::Real, m_ui->gainEdit, gain) ||
        !Validate(m_ui->weightEdit->text(), 0.1, 100.0, EField::Real, m_ui->weightEdit, weight) ||
        !Validate(m_ui->windowEdit->text(), 0.0, 10000.0, EField::Unsigned, m_ui->windowEdit,
                  window)) {
        return;
    }
    m_fFilterGain = static_cast<float>(gain);
    m_fMagnetometerWeight = static_cast<float>(weight);
    m_nTimeWindow = static_cast<unsigned>(window);
    CTavimoSettings& settings = m_pMainDlg->Settings();
    settings.m_nTimeWindow = static_cast<int>(m_nTimeWindow);
    settings.m_fFilterGain = m_fFilterGain;
    settings.m_fMagnetometerWeight = m_fMagnetometerWeight;
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
