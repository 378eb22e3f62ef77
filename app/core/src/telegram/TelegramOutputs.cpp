// The telegram output area's workers behind the sensor link's ITelegramOutput: the
// attitude workers of the two output rows and the binary worker of the sensor-side port.
#include <memory>
#include <utility>

#include "app/AttitudeTelegramWorker.h"
#include "app/BinaryTelegramWorker.h"
#include "app/XsensModule.h"

namespace {

template <class Worker>
class CWorkerOutput final : public ITelegramOutput {
public:
    template <class... Args>
    explicit CWorkerOutput(Args&&... args) : m_worker(new Worker(std::forward<Args>(args)...)) {}
    bool Start() override { return m_worker->StartThread(); }
    void Stop() override { m_worker->StopThread(); }
    void SetAttitude(double time, float roll, float pitch, float heading,
                     float variation) override {
        m_worker->SetAttitude(time, roll, pitch, heading, variation);
    }
    void SetMotion(const std::optional<mtobj::Motion>& motion) override {
        m_worker->SetMotion(motion);
    }
    void SetRateOfTurn(std::optional<float> degreesPerMinute) override {
        m_worker->SetRateOfTurn(degreesPerMinute);
    }
    void SetPort(short comNumber, unsigned baud) override { m_worker->SetPort(comNumber, baud); }
    bool IsPortFailed() const override { return m_worker->IsPortFailed(); }
    void SetTelegramType(int type) override {
        if constexpr (requires { m_worker->SetTelegramType(type); }) {
            m_worker->SetTelegramType(type);
        }
    }

private:
    // A worker whose thread is stuck past its stop time-out is kept, not freed under it.
    std::unique_ptr<Worker, CThreadObjectDeleter> m_worker;
};

}  // namespace

TelegramOutputFactory DefaultTelegramOutputFactory() {
    return {[](int type, short comNumber, unsigned baud) -> std::unique_ptr<ITelegramOutput> {
                return std::make_unique<CWorkerOutput<CAttitudeTelegramWorker>>(type, comNumber,
                                                                                baud);
            },
            []() -> std::unique_ptr<ITelegramOutput> {
                return std::make_unique<CWorkerOutput<CBinaryTelegramWorker>>();
            }};
}
