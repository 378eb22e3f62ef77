// The blocks that travel through Comlane's queues: received or to-be-sent bytes,
// control-line events, and the library's own I/O requests.
#pragma once

#include <cstdint>

#include "platform/Sync.h"
#include "platform/Types.h"

// A block of bytes. The caller allocates the data with new[] and sets data and length;
// whoever holds the block last destroys it. Received blocks carry one zero byte after
// the data, the character time of the line and the PC time of their first character.
class CBuffer {
public:
    CBuffer() = default;
    virtual ~CBuffer() {
        delete[] m_pData;
        m_pData = nullptr;
        m_dwLength = 0;
    }
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    double m_dfCharacterTime = 0.0;  // ms per character on the line; 0 for caller's blocks
    double m_dfTimeStamp = 0.0;      // PC ms of the first character; 0 for caller's blocks
    BYTE* m_pData = nullptr;
    DWORD m_dwLength = 0;
};

// Comm event codes, as the serial driver's event mask has them.
constexpr DWORD EV_CTS = 0x0008;    // the CTS line came on
constexpr DWORD EV_BREAK = 0x0040;  // a break was detected

// A control-line event seen on the port.
struct CSerialEvent {
    DWORD m_dwEventCode = 0;     // EV_CTS or EV_BREAK
    double m_dfTimeStamp = 0.0;  // PC ms when the event was seen
};

// The I/O request block the completion queue hands back.
struct OVERLAPPED {
    std::uintptr_t Internal = 0;
    std::uintptr_t InternalHigh = 0;
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    void* hEvent = nullptr;
};

// Operations of a CBufferedOverlapped.
enum : DWORD {
    OP_READ_PENDING = 1,
    OP_START_READ = 2,
    OP_WRITE_REQUESTED = 3,
    OP_WRITE_PENDING = 4,
};

// One read or write request with its own buffer. The overlapped block comes first, so
// the address the completion queue hands back is the address of the request.
class CBufferedOverlapped {
public:
    explicit CBufferedOverlapped(int size);
    ~CBufferedOverlapped();
    CBufferedOverlapped(const CBufferedOverlapped&) = delete;
    CBufferedOverlapped& operator=(const CBufferedOverlapped&) = delete;

    OVERLAPPED m_overlapped;
    int m_nSize = 0;
    BYTE* m_pBuffer = nullptr;
    DWORD m_dwOperation = 0;
    DWORD m_dwSpare = 0;
    CCriticalSection m_lock;
    DWORD m_dwCreationTick = 0;  // ms tick when the request was made
};
