// The data block: a named node in a tree of blocks that owns named, typed properties and
// answers reads and writes by name, by ":"-separated path through the tree or by property
// ID, converts through the tree's units block, and tells its listeners about every change.
// Each block guards its properties with its own recursive mutex, taken with a time-out in
// milliseconds, so blocks may be shared between threads.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <libxml/tree.h>

#include "platform/Resources.h"
#include "platform/RuntimeClass.h"
#include "platform/Types.h"
#include "tagbook/NamedObject.h"
#include "tagbook/PropItem.h"
#include "tagbook/TimedMutex.h"
#include "utilon/TreeObject.h"

class CDataBlock;
class CDocument;

// Notification codes sent to a block's notify targets.
inline constexpr UINT TBN_DESTROYING = 0x7002;       // the block is being destroyed
inline constexpr UINT TBN_CHILDADDED = 0x7003;       // child = the new child block
inline constexpr UINT TBN_CHILDREMOVING = 0x7004;    // child = the child being removed
inline constexpr UINT TBN_VALIDATENAME = 0x7005;     // text = proposed name; result != 0 vetoes
inline constexpr UINT TBN_RENAMED = 0x7006;          // text = the new name
inline constexpr UINT TBN_PROPERTYCHANGED = 0x7007;  // text = the property name

// The record every notification carries.
struct NM_TAGBOOK : NMHDR {
    LRESULT result = 0;            // filled by listeners
    CDataBlock* pBlock = nullptr;  // the sender
    CDataBlock* pChild = nullptr;  // child codes only
    std::string text;              // a property or block name, or empty

    NM_TAGBOOK(UINT notifyCode, UINT_PTR senderID) : NMHDR{nullptr, senderID, notifyCode} {}
    NM_TAGBOOK(const NM_TAGBOOK&) = default;
    NM_TAGBOOK& operator=(const NM_TAGBOOK&) = default;
};

// What a notify target's OnCmdMsg receives as its extra data: code is
// (WM_NOTIFY << 16) | notification code, id the sender's notify ID.
struct AFX_NOTIFY {
    LRESULT* pResult;
    NMHDR* pNMHDR;
};

inline constexpr int CN_COMMAND = 0;
inline constexpr int CN_UPDATE_COMMAND_UI = -1;
inline constexpr int MakeNotifyCode(UINT notifyCode) {
    return static_cast<int>((WM_NOTIFY << 16) | (notifyCode & 0xFFFF));
}

// A block's listeners. A listener that is itself a tree object has its slot attached, so
// its destruction clears the slot; removed listeners leave an empty slot that routing
// skips, so a listener may remove itself while a notification is being delivered.
class CCmdTargetList {
public:
    enum ERouting { RouteToFirst, RouteToAll };

    explicit CCmdTargetList(ERouting routing) : m_routing(routing) {}
    ~CCmdTargetList() { Clear(); }
    CCmdTargetList(const CCmdTargetList&) = delete;
    CCmdTargetList& operator=(const CCmdTargetList&) = delete;

    // False for null or a target already in the list.
    bool Add(CCmdTarget* target);
    // False when the target is not in the list.
    bool Remove(CCmdTarget* target);
    // Detaches every slot and empties the list.
    void Clear();
    bool IsEmpty() const;
    // Routes to the first target that handles the message, or to every target; nonzero
    // when some target handled it. A target that throws ends only its own delivery.
    BOOL Route(UINT id, int code, void* extra, void* handlerInfo);
    // Drops empty slots; only when no routing is under way.
    void Compact();

private:
    struct Slot {
        CCmdTarget* plain = nullptr;  // a target that is not a tree object
        CTreeObject* tree = nullptr;  // a tree-object target, cleared when it dies
        bool isTree = false;
        CCmdTarget* Target() const { return isTree ? tree : plain; }
    };
    ERouting m_routing;
    std::list<Slot> m_slots;  // stable addresses: tree targets hold pointers to slots
    int m_nRouting = 0;
};

// What a tree's units block offers the blocks that convert through it. The units block
// (found by the path ":Units") implements it; a tree without one stores values as given.
class CUnitsConversion {
public:
    virtual ~CUnitsConversion() = default;
    virtual BOOL ConvertForDisplay(const std::string& category, double value, std::string& text,
                                   long flag, int decPlaces, const std::string& unit) = 0;
    virtual BOOL ConvertFromDisplay(const std::string& category, const std::string& text,
                                    double& value, long flag, std::string* unit) = 0;
    virtual BOOL ConvertForDisplay(const std::string& category, const C2DPoint& value,
                                   std::vector<std::string>& texts, long flag) = 0;
    virtual BOOL ConvertForDisplay(const std::string& category, const C3DPoint& value,
                                   std::vector<std::string>& texts, long flag) = 0;
    virtual BOOL ConvertFromDisplay(const std::string& category,
                                    const std::vector<std::string>& texts, C2DPoint& value,
                                    long flag) = 0;
    virtual BOOL ConvertFromDisplay(const std::string& category,
                                    const std::vector<std::string>& texts, C3DPoint& value,
                                    long flag) = 0;
};

// A property declaration "Name[Type:Qualifiers=Initial]", taken apart.
struct CPropertyDecl {
    std::string name;
    std::string type;
    std::string qualifiers;
    std::string initial;
    // False when the name or the type is empty.
    static bool Parse(const std::string& decl, CPropertyDecl& out);
};

// The type code that goes with a C++ value type.
template <class T>
struct PropTypeOf;
template <>
struct PropTypeOf<std::string> {
    static constexpr int code = PROP_STRING;
};
template <>
struct PropTypeOf<std::vector<std::string>> {
    static constexpr int code = PROP_STRING_ARRAY;
};
template <>
struct PropTypeOf<double> {
    static constexpr int code = PROP_REAL;
};
template <>
struct PropTypeOf<int> {
    static constexpr int code = PROP_INTEGER;
};
template <>
struct PropTypeOf<DWORD> {
    static constexpr int code = PROP_DWORD;
};
template <>
struct PropTypeOf<C2DPoint> {
    static constexpr int code = PROP_2DPOINT;
};
template <>
struct PropTypeOf<C3DPoint> {
    static constexpr int code = PROP_3DPOINT;
};
template <>
struct PropTypeOf<CRGBColour> {
    static constexpr int code = PROP_COLOUR;
};
template <>
struct PropTypeOf<COleDateTime> {
    static constexpr int code = PROP_TIMESTAMP;
};

class CDataBlock : public CTreeObject, public CNamedObject {
    DECLARE_DYNCREATE(CDataBlock)
public:
    using PropertyHandler = void (CDataBlock::*)(CPropItem*);

    // The time-out, in milliseconds, of every operation that takes none of its own.
    static double m_dDefaultTimeout;

    explicit CDataBlock(CDataBlock* parent = nullptr);
    ~CDataBlock() override;

    // ---- identity and tree
    DWORD GetUID() const { return m_dwUID; }
    // The live block with that UID, or null (also when the UID lock times out).
    static CDataBlock* GetObjectA(DWORD uid);
    CDataBlock* GetParentBlock() const;
    CDataBlock* GetRootBlock();
    CDataBlock* GetChildObject(const std::string& name) const;
    // ":" then each ancestor below the root and the block itself, each followed by ":".
    std::string GetPath() const;
    CDocument* GetDocument() const { return m_pDocument.load(); }
    BOOL SetDocument(CDocument* document);
    UINT GetNotifyID() const { return m_nNotifyID.load(); }
    BOOL SetNotifyID(UINT id);

    // A shortcut stands for another block, found by UID on every use.
    CDataBlock* SetShortcutTarget(CDataBlock* target);
    DWORD SetShortcutTargetUID(DWORD uid);
    CDataBlock* GetShortcutTarget() const;
    DWORD GetShortcutTargetUID() const { return m_dwShortcutTarget.load(); }
    BOOL IsShortcut() const { return m_dwShortcutTarget.load() != 0 ? TRUE : FALSE; }

    BOOL SetName(const std::string& name) override;
    BOOL IsNameValid(const std::string& name) override;
    void PostRename(const std::string& previous) override;
    using CNamedObject::GetName;

    // Once only: the "UID" property, the block's menu, the property handlers.
    virtual BOOL Initialise();
    BOOL IsInitialised() const { return m_bInitialised; }

    // ---- properties: type-free forms, which all typed forms call
    virtual BOOL AddProperty(const std::string& name, const std::string& type, UINT id,
                             const std::string& qualifiers, const std::string& initial);
    virtual BOOL AddProperty(const std::string& decl, UINT id);
    virtual BOOL DeleteProperty(const std::string& name, double timeout = m_dDefaultTimeout);
    virtual BOOL Add(const std::string& path, void* data, int type,
                     double timeout = m_dDefaultTimeout);
    virtual BOOL Set(const std::string& path, void* data, int type, int addIfMissing = 0,
                     double timeout = m_dDefaultTimeout);
    virtual BOOL Get(const std::string& path, void* data, int type,
                     double timeout = m_dDefaultTimeout);
    virtual BOOL SetByID(CPropItem* item, void* data, int type, double timeout = m_dDefaultTimeout);
    virtual BOOL GetByID(CPropItem* item, void* data, int type, double timeout = m_dDefaultTimeout);
    virtual BOOL Update(const std::string& name, void* data, int type,
                        double timeout = m_dDefaultTimeout);
    virtual BOOL UpdateByID(CPropItem* item, void* data, int type,
                            double timeout = m_dDefaultTimeout);

    // ---- typed forms
    template <class T>
    BOOL Add(const std::string& path, const T& value, double timeout = m_dDefaultTimeout) {
        return Add(path, const_cast<T*>(&value), PropTypeOf<T>::code, timeout);
    }
    BOOL Add(const std::string& path, const char* text, double timeout = m_dDefaultTimeout) {
        return Add(path, std::string(text != nullptr ? text : ""), timeout);
    }
    template <class T>
    BOOL Set(const std::string& path, const T& value, int addIfMissing = 0,
             double timeout = m_dDefaultTimeout) {
        return Set(path, const_cast<T*>(&value), PropTypeOf<T>::code, addIfMissing, timeout);
    }
    BOOL Set(const std::string& path, const char* text, int addIfMissing = 0,
             double timeout = m_dDefaultTimeout) {
        return Set(path, std::string(text != nullptr ? text : ""), addIfMissing, timeout);
    }
    template <class T>
    BOOL Get(const std::string& path, T& value, double timeout = m_dDefaultTimeout) {
        return Get(path, static_cast<void*>(&value), PropTypeOf<T>::code, timeout);
    }
    template <class T>
    BOOL Update(const std::string& name, const T& value, double timeout = m_dDefaultTimeout) {
        return Update(name, const_cast<T*>(&value), PropTypeOf<T>::code, timeout);
    }
    BOOL Update(const std::string& name, const char* text, double timeout = m_dDefaultTimeout) {
        return Update(name, std::string(text != nullptr ? text : ""), timeout);
    }
    template <class T>
    BOOL SetByID(UINT id, const T& value, double timeout = m_dDefaultTimeout) {
        return SetByID(GetPropertyByID(id, timeout), const_cast<T*>(&value), PropTypeOf<T>::code,
                       timeout);
    }
    template <class T>
    BOOL GetByID(UINT id, T& value, double timeout = m_dDefaultTimeout) {
        return GetByID(GetPropertyByID(id, timeout), static_cast<void*>(&value),
                       PropTypeOf<T>::code, timeout);
    }
    template <class T>
    BOOL UpdateByID(UINT id, const T& value, double timeout = m_dDefaultTimeout) {
        return UpdateByID(GetPropertyByID(id, timeout), const_cast<T*>(&value), PropTypeOf<T>::code,
                          timeout);
    }
    // The same with the path taken from the string table.
    template <class T>
    BOOL Add(UINT pathID, const T& value, double timeout = m_dDefaultTimeout) {
        return Add(LoadName(pathID), value, timeout);
    }
    template <class T>
    BOOL Set(UINT pathID, const T& value, int addIfMissing = 0,
             double timeout = m_dDefaultTimeout) {
        return Set(LoadName(pathID), value, addIfMissing, timeout);
    }
    template <class T>
    BOOL Get(UINT pathID, T& value, double timeout = m_dDefaultTimeout) {
        return Get(LoadName(pathID), value, timeout);
    }
    template <class T>
    BOOL Update(UINT nameID, const T& value, double timeout = m_dDefaultTimeout) {
        return Update(LoadName(nameID), value, timeout);
    }

    // A ready item; fails when its name is taken. The block owns it on success only.
    BOOL AddProperty(CPropItem* item, double timeout = m_dDefaultTimeout);
    BOOL DeleteAllProperties(double timeout = m_dDefaultTimeout);
    CPropItem* GetProperty(const std::string& name, double timeout = m_dDefaultTimeout);
    CPropItem* GetPropertyByID(UINT id, double timeout = m_dDefaultTimeout);
    BOOL IsProperty(const std::string& name);
    BOOL IsProperty(UINT nameID);
    // With an empty name: the block's modified flag.
    BOOL IsModified(const std::string& name = std::string(), double timeout = m_dDefaultTimeout);
    BOOL SetModifiedFlag(const std::string& name, BOOL modified,
                         double timeout = m_dDefaultTimeout);
    // Every item's flag; the block's own flag is cleared whatever the argument.
    BOOL SetModifiedFlag(BOOL modified = FALSE, double timeout = m_dDefaultTimeout);
    BOOL GetChoices(const std::string& name, std::vector<std::string>& choices);
    BOOL SetChoices(const std::string& name, const std::vector<std::string>& choices);
    BOOL SetUnits(const std::string& name, const std::string& category);
    BOOL SetUnits(UINT nameID, UINT categoryID);
    BOOL SetUnitsByID(UINT id, const std::string& category);
    BOOL SetFormatString(const std::string& name, const std::string& format);
    BOOL SetFormatStringByID(UINT id, const std::string& format);
    // Names in the order of addition (position 0 means no more).
    POSITION GetFirstPropertyNamePosition() const;
    std::string GetNextPropertyName(POSITION& pos) const;
    // Skips empty names.
    void GetPropertyNames(std::list<std::string>& names);
    // Each name followed by the separator.
    std::string GetPropertyNames(const std::string& separator);
    BOOL DumpProperties(std::vector<std::string>& out, double timeout = m_dDefaultTimeout);

    // ---- handlers
    BOOL RegisterPropertyHandler(UINT id, PropertyHandler handler);
    template <class D>
    BOOL RegisterPropertyHandler(UINT id, void (D::*handler)(CPropItem*)) {
        return RegisterPropertyHandler(id, static_cast<PropertyHandler>(handler));
    }
    BOOL CallPropertyHandler(CPropItem* item);

    // ---- XML output (S_OK or the failing status)
    HRESULT GenerateXmlElementForProperty(xmlDocPtr doc, xmlNodePtr parent,
                                          const std::string& element, UINT id, std::string* error);
    HRESULT GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                        const std::string& element, double value,
                                        const std::string& category, std::string* error);

    // ---- listeners, menus, routing
    virtual BOOL AddCommandTarget(CCmdTarget* target, double timeout = m_dDefaultTimeout);
    virtual BOOL RemoveCommandTarget(CCmdTarget* target, double timeout = m_dDefaultTimeout);
    virtual BOOL AddNotifyTarget(CCmdTarget* target, double timeout = m_dDefaultTimeout);
    virtual BOOL RemoveNotifyTarget(CCmdTarget* target, double timeout = m_dDefaultTimeout);
    BOOL LoadMenuA(UINT menuID);
    BOOL LoadMenuA(CMenu* menu, const std::string& prefix);
    BOOL OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo) override;
    // Sends the record to every notify target; nonzero when one handled it.
    BOOL Notify(NM_TAGBOOK& record);
    BOOL IsNotifying() const { return m_nNotifying.load() > 0 ? TRUE : FALSE; }

    virtual CDataBlock* FindHandler(const std::string& path, std::string& rest);
    // The deepest block the path names, and in rest the property name left over.
    CDataBlock* Lookup(const std::string& path, std::string* rest = nullptr);
    CDataBlock* Lookup(UINT pathID, std::string* rest = nullptr);

    // The string-table entry, or empty.
    static std::string LoadName(UINT id);

protected:
    void OnAddChild(CTreeObject* child) override;
    void OnDeleteChild(CTreeObject* child) override;
    BOOL SetParent(CTreeObject* parent) override;

    virtual void DefinePropertyHandlers();
    virtual CPropItem* OnAddProperty(const std::string& name, void* data, int type);
    virtual BOOL OnGetProperty(const std::string& name, CPropItem* item, void* data, int type);
    virtual BOOL OnSetProperty(const std::string& name, CPropItem* item, void* data, int type);
    virtual void OnPropertyChanged(const std::string& name);
    virtual void OnRenameChild(CDataBlock* child, const std::string& oldName);

    // The tree's units block, when there is one.
    CUnitsConversion* FindUnits();
    // The block's name for traces: its run-time class name.
    const char* ClassName() const { return GetRuntimeClass()->m_lpszClassName; }

    UINT m_nMenuID = 0;  // menu loaded by Initialise; set by derived blocks

private:
    friend class CBlockLock;
    bool LockProperties(double timeout) const;
    void UnlockProperties() const;
    CPropItem* FindItem(const std::string& name) const;
    bool InsertByID(CPropItem* item);
    BOOL AddSimpleProperty(const std::string& name, int type, UINT id,
                           const std::string& qualifiers, const std::string& initial);
    BOOL AddClassProperty(const std::string& name, const std::string& className, UINT id,
                          const std::string& qualifiers);
    BOOL ChangeTargets(CCmdTargetList& list, CCmdTarget* target, bool add, const char* what,
                       double timeout);
    BOOL SendSimple(UINT code, CDataBlock* child, const std::string& text, LRESULT* result);
    void NoteChildName(const std::string& name, DWORD uid);

    DWORD m_dwUID = 0;
    std::atomic<CDocument*> m_pDocument{nullptr};
    BOOL m_bInitialised = FALSE;
    BOOL m_bModified = FALSE;
    CCmdTargetList m_listCommandTargets{CCmdTargetList::RouteToFirst};
    CCmdTargetList m_listNotifyTargets{CCmdTargetList::RouteToAll};
    std::atomic<UINT> m_nNotifyID{0};
    std::unique_ptr<tagbook::CTimedRecursiveMutex> m_pMutex;
    std::atomic<DWORD> m_dwShortcutTarget{0};
    std::unordered_map<std::string, DWORD> m_mapChildren;
    mutable std::mutex m_mutexChildren;  // the children map alone; never held across calls
    std::unordered_map<std::string, std::unique_ptr<CPropItem>> m_mapProperties;
    std::unordered_map<UINT, CPropItem*> m_mapPropertyIDs;
    std::vector<std::string> m_listNames;
    std::unordered_map<UINT, PropertyHandler> m_mapHandlers;
    std::atomic<int> m_nNotifying{0};
};

// Holds a block's property mutex for a scope, when it could be had within the time-out.
class CBlockLock {
public:
    CBlockLock(const CDataBlock& block, double timeout)
        : m_block(block), m_locked(block.LockProperties(timeout)) {}
    ~CBlockLock() {
        if (m_locked) {
            m_block.UnlockProperties();
        }
    }
    CBlockLock(const CBlockLock&) = delete;
    CBlockLock& operator=(const CBlockLock&) = delete;
    bool IsLocked() const { return m_locked; }
    void Unlock() {
        if (m_locked) {
            m_block.UnlockProperties();
            m_locked = false;
        }
    }

private:
    const CDataBlock& m_block;
    bool m_locked;
};
