// In place of an I/O completion port: a queue of completions fed by a poller that runs
// the line's pending reads and writes as non-blocking transfers. Requests are issued in
// order; each comes back as one completion with the bytes it moved.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "comlane/Buffers.h"
#include "comlane/SerialDevice.h"

namespace comlane {

constexpr std::uintptr_t kShutdownKey = 5;

class CCompletionPort {
public:
    CCompletionPort();
    ~CCompletionPort();
    CCompletionPort(const CCompletionPort&) = delete;
    CCompletionPort& operator=(const CCompletionPort&) = delete;

    // Starts carrying requests on the device; completions come back with this key.
    bool Bind(CSerialDevice* device, std::uintptr_t key);
    void Post(DWORD bytes, std::uintptr_t key, CBufferedOverlapped* request);
    // Blocks for the next completion.
    void Get(DWORD& bytes, std::uintptr_t& key, CBufferedOverlapped*& request);
    // Reads up to the request's size into its buffer once bytes arrive. With a read
    // interval, bytes that follow within the interval join the same read, so a message
    // sent in one go comes back as one block.
    void IssueRead(CBufferedOverlapped* request);
    void SetReadInterval(DWORD ms) { m_readIntervalMs = ms; }
    // Writes the first length bytes of the request's buffer.
    void IssueWrite(CBufferedOverlapped* request, DWORD length);
    // Completes every pending read at once with 0 bytes, as a read that ends empty does
    // (a line whose driver gives up on a read); the issuer reads again. Returns how many.
    int CompletePendingReadsEmpty();
    // Stops the poller. Write requests still pending or queued are destroyed; read
    // requests belong to their issuer.
    void Close();

private:
    struct Completion {
        DWORD bytes;
        std::uintptr_t key;
        CBufferedOverlapped* request;
    };
    void Poll();
    void Wake();
    // Reads more into a read that has bytes, while they keep coming within the interval.
    // -1 when the line failed.
    long Gather(CBufferedOverlapped* request, long have);

    std::mutex m_mutex;
    std::condition_variable m_completed;
    std::deque<Completion> m_completions;
    std::deque<CBufferedOverlapped*> m_reads;
    std::deque<CBufferedOverlapped*> m_writes;
    CSerialDevice* m_device = nullptr;
    std::uintptr_t m_key = 0;
    bool m_stop = false;
    bool m_failed = false;  // the line has gone: no more transfers
    std::atomic<DWORD> m_readIntervalMs{0};
    int m_wakeFd = -1;
    std::thread m_poller;
};

}  // namespace comlane
