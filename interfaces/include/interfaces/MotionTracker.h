// The sensor object's interface: a dual interface whose operations stand in the order of
// the sensor's slot table (slots 0 to 2 are IUnknown's, 3 to 6 IDispatch's). Slots the
// program never calls keep their place so that the numbering holds; a sensor object
// answers them with E_NOTIMPL.
#pragma once

#include <cstdint>

#include "platform/Com.h"

#define TAVIMO_MT_RESERVED(n) virtual HRESULT Reserved##n() = 0;

class IMotionTracker : public IDispatch {
public:
    // Slot 7: what each sample array holds (0 quaternion, 1 Euler angles, 2 rotation matrix).
    virtual HRESULT SetOutputMode(std::int16_t mode, std::int16_t reserved) = 0;
    // Slot 8.
    virtual HRESULT GetOutputMode(std::int16_t* mode) = 0;
    // Slot 9: 1 adds a second array of extra data after every sample.
    virtual HRESULT SetExtraData(std::int16_t flag) = 0;
    // Slot 10: opens the sensor's port ("COM<port>"); success means the device answers.
    virtual HRESULT OpenPort(std::int16_t port, LONG baud) = 0;
    // Slot 11.
    virtual HRESULT ClosePort() = 0;
    // Slot 12.
    virtual HRESULT SetFilterSettings(float gain, std::int16_t parameter, float weight) = 0;
    TAVIMO_MT_RESERVED(13)
    // Slot 14: takes the oldest queued sample; flag 1 with a float array, flag 0 when
    // nothing is queued.
    virtual HRESULT GetNextSample(std::int16_t* flag, VARIANT* sample, std::int16_t reserved) = 0;
    TAVIMO_MT_RESERVED(15)
    // Slot 16.
    virtual HRESULT GetFilterSettings(float* gain, std::int16_t* parameter, float* weight) = 0;
    TAVIMO_MT_RESERVED(17)
    // Slot 18: starts sampling; data events follow.
    virtual HRESULT StartProcess() = 0;
    // Slot 19.
    virtual HRESULT StopProcess() = 0;
    TAVIMO_MT_RESERVED(20)
    TAVIMO_MT_RESERVED(21)
    TAVIMO_MT_RESERVED(22)
    TAVIMO_MT_RESERVED(23)
    TAVIMO_MT_RESERVED(24)
    TAVIMO_MT_RESERVED(25)
    TAVIMO_MT_RESERVED(26)
    // Slot 27: the device id; the caller owns the string.
    virtual HRESULT GetDeviceId(BSTR* deviceId) = 0;
    TAVIMO_MT_RESERVED(28)
    TAVIMO_MT_RESERVED(29)
    TAVIMO_MT_RESERVED(30)
    // Slot 31: E_INVALIDARG for a rate the sensor refuses.
    virtual HRESULT SetSampleRate(std::int16_t rate) = 0;
    // Slot 32.
    virtual HRESULT GetSampleRate(std::int16_t* rate) = 0;
    TAVIMO_MT_RESERVED(33)
    TAVIMO_MT_RESERVED(34)
    // Slot 35: E_INVALIDARG for a baud rate the sensor refuses.
    virtual HRESULT SetBaudRate(LONG baud) = 0;
    // Slot 36.
    virtual HRESULT GetBaudRate(LONG* baud) = 0;
    // Slot 37: keeps the current settings in the sensor; S_OK when stored.
    virtual HRESULT SaveSettings(BSTR deviceId) = 0;
    TAVIMO_MT_RESERVED(38)
    TAVIMO_MT_RESERVED(39)
    TAVIMO_MT_RESERVED(40)
    TAVIMO_MT_RESERVED(41)
    TAVIMO_MT_RESERVED(42)
    TAVIMO_MT_RESERVED(43)
    TAVIMO_MT_RESERVED(44)
    TAVIMO_MT_RESERVED(45)
    TAVIMO_MT_RESERVED(46)
    TAVIMO_MT_RESERVED(47)
    TAVIMO_MT_RESERVED(48)
    TAVIMO_MT_RESERVED(49)
    TAVIMO_MT_RESERVED(50)
    TAVIMO_MT_RESERVED(51)
    TAVIMO_MT_RESERVED(52)
    TAVIMO_MT_RESERVED(53)
    TAVIMO_MT_RESERVED(54)
    TAVIMO_MT_RESERVED(55)
    TAVIMO_MT_RESERVED(56)
    TAVIMO_MT_RESERVED(57)
    TAVIMO_MT_RESERVED(58)
    TAVIMO_MT_RESERVED(59)
    TAVIMO_MT_RESERVED(60)
    TAVIMO_MT_RESERVED(61)
    TAVIMO_MT_RESERVED(62)
    TAVIMO_MT_RESERVED(63)
    TAVIMO_MT_RESERVED(64)
    TAVIMO_MT_RESERVED(65)
    // Slot 66: a token the object hands out right after creation.
    virtual HRESULT GetToken(DWORD* token) = 0;
};

#undef TAVIMO_MT_RESERVED

inline const CLSID CLSID_MTObj = MakeGuid("{BB280865-7A0D-11D6-926B-008048B33483}");
inline const IID IID_IMotionTracker = MakeGuid("{BB280863-7A0D-11D6-926B-008048B33483}");
