// Property items: one named, typed value of a data block. The block never touches a
// value directly; it calls the typed or type-free setters and getters and takes a setter
// result of 1 to mean "the value changed", which it turns into a change notification.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/OleDateTime.h"
#include "platform/RuntimeClass.h"
#include "platform/Types.h"
#include "tagbook/TimedMutex.h"
#include "utilon/Colour.h"
#include "utilon/Points.h"

// Type codes shared by the items and the data block; the value pointer that goes with a
// code points at the type named beside it.
enum EPropType {
    PROP_STRING = 0,        // std::string
    PROP_STRING_ARRAY = 1,  // std::vector<std::string>
    PROP_REAL = 2,          // double
    PROP_INTEGER = 3,       // int
    PROP_DWORD = 4,         // DWORD
    PROP_2DPOINT = 5,       // C2DPoint
    PROP_3DPOINT = 6,       // C3DPoint
    PROP_COLOUR = 7,        // CRGBColour
    PROP_TIMESTAMP = 8,     // COleDateTime
};

class CPropItem : public CObject {
    DECLARE_DYNAMIC(CPropItem)
public:
    // Type names, indexed by type code.
    static const char* const m_arrayTypes[9];

    CPropItem();
    ~CPropItem() override;
    CPropItem(const CPropItem&) = delete;
    CPropItem& operator=(const CPropItem&) = delete;

    // Typed setters: 1 when the value changed, 0 when it did not or the type does not
    // apply to the item.
    virtual int Set(const COleDateTime& value);
    virtual int Set(const CRGBColour& value);
    virtual int Set(const C3DPoint& value);
    virtual int Set(const C2DPoint& value);
    virtual int Set(DWORD value);
    virtual int Set(int value);
    virtual int Set(double value);
    virtual int Set(const std::vector<std::string>& value);
    virtual int Set(const std::string& text) = 0;
    int Set(const char* text) { return Set(std::string(text != nullptr ? text : "")); }
    virtual int Set(void* data, int type);
    // Typed getters: 1 and the value, or 0 when the type does not apply.
    virtual int Get(COleDateTime& value);
    virtual int Get(CRGBColour& value);
    virtual int Get(C3DPoint& value);
    virtual int Get(C2DPoint& value);
    virtual int Get(DWORD& value);
    virtual int Get(int& value);
    virtual int Get(double& value);
    virtual int Get(std::vector<std::string>& value);
    virtual int Get(std::string& text) = 0;
    virtual int Get(void* data, int type);

    virtual int SetName(const std::string& name);
    // Fails for 0 and 65535, which mean "no ID".
    virtual int SetID(UINT id);
    virtual int SetModifiedFlag(BOOL modified);
    virtual std::string GetChoices();
    virtual int GetChoices(std::vector<std::string>& choices);
    virtual int SetChoices(const std::string& choices);
    virtual int SetChoices(const std::vector<std::string>& choices);

    const std::string& GetName() const { return m_sName; }
    int GetType() const { return m_nType; }
    std::string GetTypeName() const;
    UINT GetID() const { return m_nID; }
    BOOL HasRange() const { return m_bHasRange; }
    BOOL IsNumeric() const { return m_bNumeric; }
    BOOL IsEnumerate() const { return m_bEnumerate; }
    int SetEnumerate(BOOL enumerate);
    BOOL IsReadOnly() const { return m_bReadOnly; }
    int SetReadOnly(BOOL readOnly);
    BOOL IsModified() const { return m_bModified; }
    double GetModificationTime() const { return m_dModificationTime; }
    double GetTimeLastUpdated() const { return m_dLastUpdate; }
    int GetUnits(std::string& category, std::string& unit) const;
    int SetUnits(const std::string& category, const std::string& unit);
    const std::string& GetFormatString() const { return m_sFormat; }
    int SetFormatString(const std::string& format);

    // The item's own lock, for a holder that pins one item across several operations.
    int Lock(DWORD timeoutMs);
    int Unlock();
    BOOL IsLocked() const { return m_nLockCount.load() > 0 ? TRUE : FALSE; }

    static bool IsIDValid(UINT id) { return id != 0 && id != 65535; }
    // A new item of the type, named and set from the data; null for an empty name, null
    // data or an unknown type. The caller owns it.
    static CPropItem* AddProperty(const std::string& name, void* data, int type);
    static int GetProperty(CPropItem* item, void* data, int type);
    static int SetProperty(CPropItem* item, void* data, int type);
    // The type code of a type name (any case; "Int" is Integer), or -1.
    static int GetPropertyType(const std::string& typeName);

protected:
    // Every setter starts here: the update time moves whether or not the value changes.
    void Touch();
    // The common tail of a setter whose value differs: stored by the caller, then this.
    int Changed();

    std::string m_sName;
    int m_nType = -1;
    BOOL m_bModified = FALSE;
    double m_dModificationTime = 0.0;
    double m_dLastUpdate = 0.0;
    UINT m_nID = 0;
    BOOL m_bReadOnly = FALSE;
    BOOL m_bNumeric = FALSE;
    BOOL m_bEnumerate = FALSE;
    BOOL m_bHasRange = FALSE;
    std::string m_sUnitCategory;
    std::string m_sUnit;
    std::string m_sFormat;
    std::unique_ptr<tagbook::CTimedRecursiveMutex> m_pLock;
    std::atomic<int> m_nLockCount{0};
};

class CPropItem_CString : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_CString)
public:
    CPropItem_CString();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const std::string& text) override;
    int Get(std::string& text) override;

private:
    std::string m_value;
};

class CPropItem_CStringArray : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_CStringArray)
public:
    CPropItem_CStringArray();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const std::vector<std::string>& value) override;
    int Set(const std::string& text) override;
    int Get(std::vector<std::string>& value) override;
    // The number of elements.
    int Get(int& count) override;
    int Get(std::string& text) override;

private:
    std::vector<std::string> m_value;
};

class CPropItem_double : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_double)
public:
    CPropItem_double();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(double value) override;
    int Set(const std::string& text) override;
    int Get(double& value) override;
    int Get(std::string& text) override;

private:
    double m_value = 0.0;
};

class CPropItem_int : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_int)
public:
    CPropItem_int();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(int value) override;
    int Set(const std::string& text) override;
    int Get(int& value) override;
    int Get(std::string& text) override;
    // An integer whose ID is a menu's ID takes that menu's item texts as its choices.
    int SetID(UINT id) override;
    std::string GetChoices() override;
    int GetChoices(std::vector<std::string>& choices) override;
    int SetChoices(const std::string& choices) override;
    int SetChoices(const std::vector<std::string>& choices) override;

    // The index of a choice (by name, any case, or by number), or -1.
    int GetEnumValue(const std::string& text) const;
    // The choice name of an index; the number itself when that gives no name.
    std::string GetEnumName(int value) const;
    BOOL IsValid(const std::string& text) const;
    BOOL IsValid(int value) const;

private:
    int m_value = 0;
    std::vector<std::string> m_choices;
};

class CPropItem_DWORD : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_DWORD)
public:
    CPropItem_DWORD();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(DWORD value) override;
    int Set(const std::string& text) override;
    int Get(DWORD& value) override;
    int Get(std::string& text) override;

private:
    DWORD m_value = 0;
};

class CPropItem_C2DPoint : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_C2DPoint)
public:
    CPropItem_C2DPoint();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const C2DPoint& value) override;
    int Set(const std::string& text) override;
    int Get(C2DPoint& value) override;
    int Get(std::string& text) override;

private:
    C2DPoint m_value;
};

class CPropItem_C3DPoint : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_C3DPoint)
public:
    CPropItem_C3DPoint();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const C3DPoint& value) override;
    int Set(const std::string& text) override;
    int Get(C3DPoint& value) override;
    int Get(std::string& text) override;

private:
    C3DPoint m_value;
};

class CPropItem_CRGBColour : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_CRGBColour)
public:
    CPropItem_CRGBColour();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const CRGBColour& value) override;
    int Set(const std::string& text) override;
    int Get(CRGBColour& value) override;
    int Get(std::string& text) override;

private:
    CRGBColour m_value;
};

class CPropItem_COleDateTime : public CPropItem {
    DECLARE_DYNAMIC(CPropItem_COleDateTime)
public:
    CPropItem_COleDateTime();
    using CPropItem::Get;
    using CPropItem::Set;
    int Set(const COleDateTime& value) override;
    int Set(const std::string& text) override;
    int Get(COleDateTime& value) override;
    int Get(std::string& text) override;

    // The text the item writes when it has no format string of its own.
    static constexpr const char* kDefaultFormat = "%a %d %b %Y, %H:%M:%S";

private:
    COleDateTime m_value;
};
