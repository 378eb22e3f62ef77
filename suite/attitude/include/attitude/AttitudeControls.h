// The attitude control (a compass card with an attitude indicator, the main window's
// "Compass" window) and the 3-D view control (a vessel drawn from the sensor's rotation
// matrix, the "3D View" window), as COM classes. The main window creates them with
// CoCreateInstance, so a control that is not registered gives REGDB_E_CLASSNOTREG and the
// window shows its failure message.
//
// Getting the widget: every control answers IControlWidget (platform/ControlWidget.h).
// After creating the control, ask for IControlWidget and call GetWidget(); put that widget
// into the window (a layout or setParent). The control owns its widget: releasing the last
// reference deletes it, taking it out of its window. A window destroyed first deletes the
// widget with it; the control then answers E_UNEXPECTED. Use both on the GUI thread.
#pragma once

#include "platform/Com.h"
#include "platform/ControlWidget.h"

namespace attitude {
// Class ids and ProgIDs of our own: the outside controls they stand in for name none.
inline const CLSID CLSID_AttitudeCtrl = MakeGuid("{325D5F10-8ADB-42FC-AE60-064FC0472B29}");
inline const CLSID CLSID_View3DCtrl = MakeGuid("{3BA85A7F-6AD1-4007-A2D7-3F33103FF242}");
inline constexpr const char* kAttitudeCtrlProgId = "Attitude.AttitudeCtrl.1";
inline constexpr const char* kView3DCtrlProgId = "Attitude.View3DCtrl.1";

inline const IID IID_IAttitudeCtrl = MakeGuid("{DBADA26F-780E-4514-A9BB-8F5F16F75389}");
inline const IID IID_IView3DCtrl = MakeGuid("{6FF72730-9960-43B1-A032-C3938196DAD4}");
}  // namespace attitude

// The attitude control: what the main window's display refresh hands it.
class IAttitudeCtrl : public IUnknown {
public:
    // Degrees: heading brought into [0, 360); roll positive with starboard down, pitch
    // positive with the bow up. E_INVALIDARG for a value that is not finite.
    virtual HRESULT SetAttitude(float heading, float roll, float pitch) = 0;
    virtual HRESULT GetAttitude(float* heading, float* roll, float* pitch) = 0;
};

// The 3-D view control.
class IView3DCtrl : public IUnknown {
public:
    // The sensor's nine rotation-matrix elements m0..m8 as delivered: row i is the vessel's
    // axis i (bow, port, up) in the earth frame (north, west, up). The rows are made
    // orthonormal before drawing; E_INVALIDARG for a count other than nine, a value that
    // is not finite, or rows that span no rotation (the zeroed matrix before any sample).
    virtual HRESULT SetRotationMatrix(const float* matrix, ULONG count) = 0;
    // "HeadingOffsetDegs": the vessel is drawn turned clockwise by this many degrees.
    virtual HRESULT SetHeadingOffset(float degrees) = 0;
    virtual HRESULT GetHeadingOffset(float* degrees) = 0;
};

namespace attitude {
// Enters one control in the class table until the registration is revoked.
CComClassRegistration RegisterAttitudeCtrl();
CComClassRegistration RegisterView3DCtrl();

// Both controls, for the lifetime of this object (the program holds one while it runs).
class CAttitudeControlsRegistration {
public:
    CAttitudeControlsRegistration()
        : m_attitude(RegisterAttitudeCtrl()), m_view3D(RegisterView3DCtrl()) {}
    void Revoke() {
        m_attitude.Revoke();
        m_view3D.Revoke();
    }
    bool IsRegistered() const { return m_attitude.IsRegistered() && m_view3D.IsRegistered(); }

private:
    CComClassRegistration m_attitude;
    CComClassRegistration m_view3D;
};
}  // namespace attitude
