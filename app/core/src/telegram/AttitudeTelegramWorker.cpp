#include "app/AttitudeTelegramWorker.h"

#include "app/ServiceActivity.h"

CAttitudeTelegramWorker::CAttitudeTelegramWorker(int telegramType, short comNumber, unsigned baud)
    : m_nTelegramType(telegramType) {
    m_telegram.m_sText.reserve(telegrams::kMaxTelegramLength);
    SetPort(comNumber, baud);  // the thread's first pass opens the port
}

void CAttitudeTelegramWorker::SendTelegrams() {
    if (m_pPort == nullptr) {
        return;
    }
    // One attitude for the whole cycle: both telegrams of a pair tell the same moment.
    const Attitude attitude = GetAttitude();
    switch (m_nTelegramType.load()) {
        case TELEGRAM_HDM:
            Send(EKind::HDM, attitude);
            break;
        case TELEGRAM_HDT:
            Send(EKind::HDT, attitude);
            break;
        case TELEGRAM_TSS1:
            Send(EKind::TSS1, attitude);
            break;
        case TELEGRAM_TSS2:
            Send(EKind::TSS2, attitude);
            break;
        case TELEGRAM_PRDID:
            Send(EKind::PRDID, attitude);
            break;
        case TELEGRAM_HDT_TSS1:
            Send(EKind::HDT, attitude);
            Send(EKind::TSS1, attitude);
            break;
        case TELEGRAM_HDM_TSS1:
            Send(EKind::HDM, attitude);
            Send(EKind::TSS1, attitude);
            break;
        default:
            break;
    }
}

void CAttitudeTelegramWorker::SendHDT() {
    Send(EKind::HDT, GetAttitude());
}
void CAttitudeTelegramWorker::SendHDM() {
    Send(EKind::HDM, GetAttitude());
}
void CAttitudeTelegramWorker::SendTSS1() {
    Send(EKind::TSS1, GetAttitude());
}
void CAttitudeTelegramWorker::SendTSS2() {
    Send(EKind::TSS2, GetAttitude());
}
void CAttitudeTelegramWorker::SendPRDID() {
    Send(EKind::PRDID, GetAttitude());
}

void CAttitudeTelegramWorker::Send(EKind kind, const Attitude& a) {
    // The port pointer changes only on this thread (OpenPort), so it is read here freely.
    if (m_pPort == nullptr) {
        return;
    }
    char text[telegrams::kMaxTelegramLength];
    std::size_t length = 0;
    const mtobj::Motion* motion = a.motion ? &*a.motion : nullptr;
    switch (kind) {
        case EKind::HDT:
            length = telegrams::FormatHDT(text, a.trueHeading);
            break;
        case EKind::HDM:
            length = telegrams::FormatHDM(text, a.magneticHeading);
            break;
        case EKind::TSS1:
            length = telegrams::FormatTSS1(text, a.roll, a.pitch, motion);
            break;
        case EKind::TSS2:
            length = telegrams::FormatTSS2(text, a.trueHeading, a.roll, a.pitch, motion);
            break;
        case EKind::PRDID:
            length = telegrams::FormatPRDID(text, a.pitch, a.roll, a.trueHeading);
            break;
    }
    m_telegram.SetText(text, length);  // within the reserved room: no allocation
    // A dropped or failed send is not retried.
    CServiceActivity::TelegramAnswered(m_pPort->SendTelegram(&m_telegram, 0) != FALSE);
}
