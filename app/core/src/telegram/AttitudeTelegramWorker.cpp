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
    // One attitude for the whole cycle: every sentence of a type tells the same moment.
    const Attitude attitude = GetAttitude();
    for (const telegrams::Sentence* sentence : telegrams::SentencesOf(m_nTelegramType.load())) {
        Send(*sentence, attitude);
    }
}

void CAttitudeTelegramWorker::SendHDT() {
    Send(mtobj::telegrams::kHDT, GetAttitude());
}
void CAttitudeTelegramWorker::SendHDM() {
    Send(mtobj::telegrams::kHDM, GetAttitude());
}
void CAttitudeTelegramWorker::SendTSS1() {
    Send(mtobj::telegrams::kTSS1, GetAttitude());
}
void CAttitudeTelegramWorker::SendTSS2() {
    Send(mtobj::telegrams::kTSS2, GetAttitude());
}
void CAttitudeTelegramWorker::SendPRDID() {
    Send(mtobj::telegrams::kPRDID, GetAttitude());
}

void CAttitudeTelegramWorker::Send(const telegrams::Sentence& sentence, const Attitude& a) {
    // The port pointer changes only on this thread (OpenPort), so it is read here freely.
    if (m_pPort == nullptr) {
        return;
    }
    const telegrams::Moment moment{.time = a.time,
                                   .roll = a.roll,
                                   .pitch = a.pitch,
                                   .trueHeading = a.trueHeading,
                                   .magneticHeading = a.magneticHeading,
                                   .variation = a.magneticVariation,
                                   .rateOfTurn = a.rateOfTurn,
                                   .motion = a.motion ? &*a.motion : nullptr};
    char text[telegrams::kMaxTelegramLength];
    const std::size_t length = sentence.format(text, moment);
    m_telegram.SetText(text, length);  // within the reserved room: no allocation
    // A dropped or failed send is not retried.
    CServiceActivity::TelegramAnswered(m_pPort->SendTelegram(&m_telegram, 0) != FALSE);
}
