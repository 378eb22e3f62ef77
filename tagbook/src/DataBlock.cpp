#include "tagbook/DataBlock.h"

#include <strings.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "interfaces/Tickwise.h"
#include "platform/Com.h"
#include "tagbook/TagbookResources.h"
#include "tagbook/UnitBlock.h"
#include "tagbook/XmlReportGenerator.h"
#include "utilon/Numbers.h"
#include "utilon/OrvexTrace.h"
#include "utilon/Text.h"

IMPLEMENT_DYNCREATE(CDataBlock, CTreeObject)

double CDataBlock::m_dDefaultTimeout = 1000.0;

namespace {
// The UID counter and the map of live blocks; function-local so that a block constructed
// during static initialisation finds them ready.
struct UIDTable {
    tagbook::CTimedRecursiveMutex mutex;
    std::unordered_map<DWORD, CDataBlock*> blocks;
    DWORD next = 1;
};
UIDTable& UIDs() {
    static UIDTable table;
    return table;
}

std::string TrimChars(const std::string& text, const char* chars) {
    const std::size_t first = text.find_first_not_of(chars);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(chars) - first + 1);
}
constexpr const char* kBlanks = " \t\r\n";

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// Path walks forward from block to block (children, the root, shortcut targets); shortcut
// loops would forward for ever, so a walk deeper than any real tree fails instead.
thread_local int t_forwardDepth = 0;
constexpr int kMaxForwardDepth = 64;
class ForwardGuard {
public:
    ForwardGuard() { ++t_forwardDepth; }
    ~ForwardGuard() { --t_forwardDepth; }
    ForwardGuard(const ForwardGuard&) = delete;
    ForwardGuard& operator=(const ForwardGuard&) = delete;
    bool TooDeep() const { return t_forwardDepth > kMaxForwardDepth; }
};

// One step of a path walk: counts the depth and holds the block's lock for the step,
// unless the walk went too deep or the lock was not had within the time-out.
class CWalkStep {
public:
    CWalkStep(const CDataBlock& block, double timeout) {
        if (!m_guard.TooDeep()) {
            m_lock.emplace(block, timeout);
        }
    }
    bool IsLocked() const { return m_lock && m_lock->IsLocked(); }
    void Unlock() {
        if (m_lock) {
            m_lock->Unlock();
        }
    }

private:
    ForwardGuard m_guard;
    std::optional<CBlockLock> m_lock;
};

// The action's result under the block's lock; failed when the lock is not had in time.
template <class Result, class Action>
Result UnderLock(const CDataBlock& block, double timeout, Result failed, Action action) {
    CBlockLock lock(block, timeout);
    return lock.IsLocked() ? action() : failed;
}

// The action on the property the look-up finds, under the block's lock; FALSE when the
// lock is not had in time or there is no such property.
template <class Find, class Action>
BOOL WithProperty(const CDataBlock& block, double timeout, Find find, Action action) {
    CBlockLock lock(block, timeout);
    CPropItem* item = lock.IsLocked() ? find() : nullptr;
    return item != nullptr ? action(*item) : FALSE;
}

// The module a class property names in its qualifiers: entries module(configuration),
// the "Release" one chosen; a text without parentheses is the module name itself.
std::string ModuleFromQualifiers(const std::string& qualifiers) {
    if (qualifiers.find('(') == std::string::npos) {
        return TrimChars(TrimChars(qualifiers, kBlanks), "\"");
    }
    std::string rest = qualifiers;
    while (!rest.empty()) {
        std::string entry = Chomp(rest, ")", 1);
        const std::string module = TrimChars(TrimChars(Before(entry, "("), kBlanks), "\"");
        const std::string configuration = TrimChars(TrimChars(After(entry, "("), kBlanks), "\"");
        if (configuration == "Release") {
            return module;
        }
    }
    return {};
}
}  // namespace

// ---------------------------------------------------------------------------------------
// Listener lists

bool CCmdTargetList::Add(CCmdTarget* target) {
    if (target == nullptr) {
        return false;
    }
    for (const Slot& slot : m_slots) {
        if (slot.Target() == target) {
            return false;
        }
    }
    Compact();
    m_slots.emplace_back();
    Slot& slot = m_slots.back();
    if (auto* tree = dynamic_cast<CTreeObject*>(target)) {
        slot.isTree = true;
        tree->Attach(slot.tree);
    } else {
        slot.plain = target;
    }
    return true;
}

bool CCmdTargetList::Remove(CCmdTarget* target) {
    for (Slot& slot : m_slots) {
        if (target != nullptr && slot.Target() == target) {
            if (slot.isTree && slot.tree != nullptr) {
                slot.tree->Detach(slot.tree);
            }
            slot.tree = nullptr;
            slot.plain = nullptr;
            return true;
        }
    }
    return false;
}

void CCmdTargetList::Clear() {
    for (Slot& slot : m_slots) {
        if (slot.isTree && slot.tree != nullptr) {
            slot.tree->Detach(slot.tree);
        }
        slot.tree = nullptr;
        slot.plain = nullptr;
    }
    if (m_nRouting == 0) {
        m_slots.clear();
    }
}

bool CCmdTargetList::IsEmpty() const {
    return std::none_of(m_slots.begin(), m_slots.end(),
                        [](const Slot& s) { return s.Target() != nullptr; });
}

void CCmdTargetList::Compact() {
    if (m_nRouting == 0) {
        m_slots.remove_if([](const Slot& s) { return s.Target() == nullptr; });
    }
}

BOOL CCmdTargetList::Route(UINT id, int code, void* extra, void* handlerInfo) {
    BOOL handled = FALSE;
    ++m_nRouting;
    // Slots added during the walk are reached too; removed ones read null and are skipped.
    for (auto it = m_slots.begin(); it != m_slots.end(); ++it) {
        CCmdTarget* target = it->Target();
        if (target == nullptr) {
            continue;
        }
        BOOL result = FALSE;
        try {
            result = target->OnCmdMsg(id, code, extra, handlerInfo);
        } catch (...) {
            ORVEX_TRACE(4, "CCmdTargetList::Route(): target 0x%p threw\n",
                        static_cast<void*>(target));
            result = FALSE;
        }
        if (result != 0) {
            handled = TRUE;
            if (m_routing == RouteToFirst) {
                break;
            }
        }
    }
    --m_nRouting;
    return handled;
}

// ---------------------------------------------------------------------------------------
// Declarations

bool CPropertyDecl::Parse(const std::string& decl, CPropertyDecl& out) {
    out = CPropertyDecl();
    const std::size_t open = decl.find('[');
    if (open == std::string::npos) {
        return false;
    }
    out.name = decl.substr(0, open);
    while (!out.name.empty() && out.name.back() == ':') {
        out.name.pop_back();
    }
    const std::size_t close = decl.find(']', open + 1);
    if (close == std::string::npos) {
        return false;
    }
    const std::string inside = decl.substr(open + 1, close - open - 1);
    // The type ends at the first ":" or "=", unless that is the first character.
    std::size_t end = inside.find_first_of(":=");
    if (end == 0) {
        end = inside.find_first_of(":=", 1);
    }
    out.type = TrimChars(inside.substr(0, end), kBlanks);
    const std::string remainder = end == std::string::npos ? std::string() : inside.substr(end);
    const std::size_t colon = remainder.find(':');
    const std::size_t equals = remainder.find('=');
    if (colon != std::string::npos && (equals == std::string::npos || colon < equals)) {
        const std::string q = remainder.substr(
            colon + 1, equals == std::string::npos ? std::string::npos : equals - colon - 1);
        out.qualifiers = TrimChars(TrimChars(q, kBlanks), "\"");
    }
    if (equals != std::string::npos) {
        out.initial = TrimChars(TrimChars(remainder.substr(equals + 1), "\""), kBlanks);
    }
    return !out.name.empty() && !out.type.empty();
}

// ---------------------------------------------------------------------------------------
// Construction and identity

CDataBlock::CDataBlock(CDataBlock* parent)
    : CTreeObject(nullptr), m_pMutex(std::make_unique<tagbook::CTimedRecursiveMutex>()) {
    tagbook::RegisterResources();
    UIDTable& table = UIDs();
    // The UID must be unique whatever the wait: construction cannot fail, so it waits.
    table.mutex.Lock(INFINITE);
    m_dwUID = table.next++;
    table.blocks[m_dwUID] = this;
    table.mutex.Unlock();
    // Joined only now, so the parent sees a whole block in its hooks.
    if (parent != nullptr) {
        parent->AddChild(this);
    }
}

CDataBlock::~CDataBlock() {
    DeleteAllChildren(TRUE, RUNTIME_CLASS(CDataBlock));
    // Leave the parent while still a whole block, so it hears of the removal.
    if (CTreeObject* parent = GetParent()) {
        parent->DeleteChild(this, FALSE);
    }
    {
        CBlockLock lock(*this, m_dDefaultTimeout);
        if (!m_listNotifyTargets.IsEmpty()) {
            NM_TAGBOOK record(TBN_DESTROYING, GetNotifyID());
            Notify(record);
        }
        // Listeners that are tree objects hold our slots: detach them all before the
        // lists go, whatever the lock did.
        m_listNotifyTargets.Clear();
        m_listCommandTargets.Clear();
        m_listNotifyTargets.Compact();
        m_listCommandTargets.Compact();
        m_mapPropertyIDs.clear();
        m_listNames.clear();
        m_mapProperties.clear();
    }
    UIDTable& table = UIDs();
    table.mutex.Lock(INFINITE);
    table.blocks.erase(m_dwUID);
    table.mutex.Unlock();
}

CDataBlock* CDataBlock::GetObjectA(DWORD uid) {
    UIDTable& table = UIDs();
    if (!table.mutex.Lock(m_dDefaultTimeout)) {
        return nullptr;
    }
    const auto it = table.blocks.find(uid);
    CDataBlock* block = it != table.blocks.end() ? it->second : nullptr;
    table.mutex.Unlock();
    return block;
}

CDataBlock* CDataBlock::GetParentBlock() const {
    return dynamic_cast<CDataBlock*>(GetParent());
}

CDataBlock* CDataBlock::GetRootBlock() {
    CDataBlock* block = this;
    while (CDataBlock* parent = block->GetParentBlock()) {
        block = parent;
    }
    return block;
}

CDataBlock* CDataBlock::GetChildObject(const std::string& name) const {
    DWORD uid = 0;
    {
        std::lock_guard lock(m_mutexChildren);
        const auto it = m_mapChildren.find(name);
        if (it == m_mapChildren.end()) {
            return nullptr;
        }
        uid = it->second;
    }
    return GetObjectA(uid);
}

std::string CDataBlock::GetPath() const {
    std::vector<const CDataBlock*> chain;
    for (const CDataBlock* block = this; block->GetParentBlock() != nullptr;
         block = block->GetParentBlock()) {
        chain.push_back(block);
    }
    std::string path = ":";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += (*it)->GetName();
        path += ':';
    }
    return path;
}

BOOL CDataBlock::SetDocument(CDocument* document) {
    m_pDocument.store(document);
    return TRUE;
}

BOOL CDataBlock::SetNotifyID(UINT id) {
    m_nNotifyID.store(id);
    return TRUE;
}

CDataBlock* CDataBlock::SetShortcutTarget(CDataBlock* target) {
    CDataBlock* previous = GetShortcutTarget();
    SetShortcutTargetUID(target != nullptr ? target->GetUID() : 0);
    return previous;
}

DWORD CDataBlock::SetShortcutTargetUID(DWORD uid) {
    return m_dwShortcutTarget.exchange(uid);
}

CDataBlock* CDataBlock::GetShortcutTarget() const {
    const DWORD uid = m_dwShortcutTarget.load();
    return uid != 0 ? GetObjectA(uid) : nullptr;
}

BOOL CDataBlock::SetName(const std::string& name) {
    ORVEX_TRACE(4, "SetName(%s)\n", name.c_str());
    if (CNamedObject::SetName(name) == 0) {
        return FALSE;
    }
    SendSimple(TBN_RENAMED, nullptr, name, nullptr);
    return TRUE;
}

BOOL CDataBlock::IsNameValid(const std::string& name) {
    ORVEX_TRACE(4, "IsNameValid(%s)\n", name.c_str());
    if (CNamedObject::IsNameValid(name) == 0 || name.empty()) {
        return FALSE;
    }
    LRESULT result = 0;
    SendSimple(TBN_VALIDATENAME, nullptr, name, &result);
    return result == 0 ? TRUE : FALSE;
}

void CDataBlock::PostRename(const std::string& previous) {
    if (CDataBlock* parent = GetParentBlock()) {
        parent->OnRenameChild(this, previous);
    }
}

BOOL CDataBlock::Initialise() {
    ORVEX_TRACE(4, "Initialise()\n");
    if (m_bInitialised != 0) {
        return TRUE;
    }
    m_bInitialised = TRUE;
    AddProperty("UID", "DWORD", 0, "ReadOnly", "");
    Update("UID", m_dwUID);
    if (m_nMenuID != 0) {
        LoadMenuA(m_nMenuID);
    }
    DefinePropertyHandlers();
    return TRUE;
}

void CDataBlock::DefinePropertyHandlers() {}

// ---------------------------------------------------------------------------------------
// Locking

bool CDataBlock::LockProperties(double timeout) const {
    return m_pMutex->Lock(timeout);
}

void CDataBlock::UnlockProperties() const {
    m_pMutex->Unlock();
}

CPropItem* CDataBlock::FindItem(const std::string& name) const {
    const auto it = m_mapProperties.find(name);
    return it != m_mapProperties.end() ? it->second.get() : nullptr;
}

bool CDataBlock::InsertByID(CPropItem* item) {
    if (item == nullptr || !CPropItem::IsIDValid(item->GetID())) {
        return false;
    }
    m_mapPropertyIDs[item->GetID()] = item;
    return true;
}

// ---------------------------------------------------------------------------------------
// Paths

CDataBlock* CDataBlock::FindHandler(const std::string& path, std::string& rest) {
    rest.clear();
    CDataBlock* handler = nullptr;
    if (!path.empty()) {
        if (IsShortcut() != 0) {
            rest = path;
            handler = GetShortcutTarget();
        } else {
            const std::size_t colon = path.find(':');
            if (colon == std::string::npos) {
                handler = GetChildObject(path);
            } else if (colon + 1 < path.size() && path[colon + 1] == ':') {
                // "::" names no block: the walk stops here and the whole path is a
                // property name, which no item has, instead of jumping to the root.
                handler = nullptr;
            } else {
                rest = path.substr(colon + 1);
                handler = colon == 0 ? GetRootBlock() : GetChildObject(path.substr(0, colon));
            }
        }
    }
    if (handler != nullptr) {
        return handler;
    }
    rest =
        path.substr(path.find_first_not_of(':') == std::string::npos ? path.size()
                                                                     : path.find_first_not_of(':'));
    return nullptr;
}

CDataBlock* CDataBlock::Lookup(const std::string& path, std::string* rest) {
    ForwardGuard guard;
    if (guard.TooDeep()) {
        return nullptr;
    }
    if (IsShortcut() != 0) {
        CDataBlock* target = GetShortcutTarget();
        return target != nullptr ? target->Lookup(path, rest) : nullptr;
    }
    std::string remaining;
    CDataBlock* handler = FindHandler(path, remaining);
    if (handler != nullptr) {
        return handler->Lookup(remaining, rest);
    }
    if (rest != nullptr) {
        *rest = remaining;
    }
    return this;
}

CDataBlock* CDataBlock::Lookup(UINT pathID, std::string* rest) {
    return Lookup(LoadName(pathID), rest);
}

std::string CDataBlock::LoadName(UINT id) {
    tagbook::RegisterResources();
    std::string text;
    if (LoadString(id, text) == 0) {
        ORVEX_TRACE(4, "ERROR: CDataBlock::LoadName(): No string table entry found for ID %d\n",
                    static_cast<int>(id));
        return {};
    }
    return text;
}

CUnitsConversion* CDataBlock::FindUnits() {
    std::string rest;
    CDataBlock* block = Lookup(":Units", &rest);
    if (block == nullptr || !rest.empty()) {
        return nullptr;
    }
    return dynamic_cast<CUnitsConversion*>(block);
}

// ---------------------------------------------------------------------------------------
// Adding and removing properties

BOOL CDataBlock::Add(const std::string& path, void* data, int type, double timeout) {
    CWalkStep lock(*this, timeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    std::string rest;
    CDataBlock* handler = FindHandler(path, rest);
    lock.Unlock();
    if (handler != nullptr) {
        return handler->Add(rest, data, type, timeout);
    }
    if (IsShortcut() != 0) {
        return FALSE;  // the block it stands for is gone
    }
    CBlockLock again(*this, timeout);
    if (!again.IsLocked()) {
        return FALSE;
    }
    return OnAddProperty(rest, data, type) != nullptr ? TRUE : FALSE;
}

CPropItem* CDataBlock::OnAddProperty(const std::string& name, void* data, int type) {
    std::unique_ptr<CPropItem> item(CPropItem::AddProperty(name, data, type));
    if (!item) {
        return nullptr;
    }
    ORVEX_TRACE(4, "CDataBlock[\"%s\"]::Add(\"%s\") OK\n", GetName().c_str(), name.c_str());
    if (AddProperty(item.get(), m_dDefaultTimeout) == 0) {
        return nullptr;
    }
    m_bModified = TRUE;
    return item.release();
}

BOOL CDataBlock::AddProperty(CPropItem* item, double timeout) {
    if (item == nullptr) {
        return FALSE;
    }
    CBlockLock lock(*this, timeout);
    if (!lock.IsLocked() || FindItem(item->GetName()) != nullptr) {
        return FALSE;
    }
    m_mapProperties.emplace(item->GetName(), std::unique_ptr<CPropItem>(item));
    m_listNames.push_back(item->GetName());
    InsertByID(item);
    m_bModified = TRUE;
    return TRUE;
}

BOOL CDataBlock::DeleteProperty(const std::string& name, double timeout) {
    return UnderLock(*this, timeout, FALSE, [&]() -> BOOL {
        const auto it = m_mapProperties.find(name);
        if (it == m_mapProperties.end()) {
            return FALSE;
        }
        const UINT id = it->second->GetID();
        if (const auto byID = m_mapPropertyIDs.find(id);
            byID != m_mapPropertyIDs.end() && byID->second == it->second.get()) {
            m_mapPropertyIDs.erase(byID);
        }
        m_listNames.erase(std::find(m_listNames.begin(), m_listNames.end(), name));
        m_mapProperties.erase(it);
        m_bModified = TRUE;
        return TRUE;
    });
}

BOOL CDataBlock::DeleteAllProperties(double timeout) {
    return UnderLock(*this, timeout, FALSE, [this]() -> BOOL {
        m_mapPropertyIDs.clear();
        m_listNames.clear();
        m_mapProperties.clear();
        m_bModified = TRUE;
        return TRUE;
    });
}

CPropItem* CDataBlock::GetProperty(const std::string& name, double timeout) {
    return UnderLock(*this, timeout, static_cast<CPropItem*>(nullptr),
                     [&] { return FindItem(name); });
}

CPropItem* CDataBlock::GetPropertyByID(UINT id, double timeout) {
    if (!CPropItem::IsIDValid(id)) {
        return nullptr;
    }
    return UnderLock(*this, timeout, static_cast<CPropItem*>(nullptr), [&]() -> CPropItem* {
        const auto it = m_mapPropertyIDs.find(id);
        return it != m_mapPropertyIDs.end() ? it->second : nullptr;
    });
}

BOOL CDataBlock::IsProperty(const std::string& name) {
    return GetProperty(name) != nullptr ? TRUE : FALSE;
}

BOOL CDataBlock::IsProperty(UINT nameID) {
    return IsProperty(LoadName(nameID));
}

// ---------------------------------------------------------------------------------------
// Declarations

BOOL CDataBlock::AddProperty(const std::string& decl, UINT id) {
    ORVEX_TRACE(4, "Adding property to CDataBlock[\"%s\"]:\n", GetName().c_str());
    ORVEX_TRACE(4, "\tID: %d,\tSpecification: \"%s\"\n", static_cast<int>(id), decl.c_str());
    CPropertyDecl parsed;
    if (!CPropertyDecl::Parse(decl, parsed)) {
        return FALSE;
    }
    return AddProperty(parsed.name, parsed.type, id, parsed.qualifiers, parsed.initial);
}

BOOL CDataBlock::AddProperty(const std::string& name, const std::string& type, UINT id,
                             const std::string& qualifiers, const std::string& initial) {
    ORVEX_TRACE(4, "\tName: \"%s\"\n", name.c_str());
    ORVEX_TRACE(4, "\tType: %s\t\tQualifiers: %s\tInitialValue: %s\n", type.c_str(),
                qualifiers.c_str(), initial.c_str());
    if (name.empty() || type.empty()) {
        return FALSE;
    }
    const int code = CPropItem::GetPropertyType(type);
    if (code >= 0) {
        return AddSimpleProperty(name, code, id, qualifiers, initial);
    }
    return AddClassProperty(name, type, id, qualifiers);
}

BOOL CDataBlock::AddSimpleProperty(const std::string& name, int type, UINT id,
                                   const std::string& qualifiers, const std::string& initial) {
    std::string s;
    std::vector<std::string> sa;
    double d = 0.0;
    int i = 0;
    DWORD dw = 0;
    C2DPoint p2;
    C3DPoint p3;
    CRGBColour colour;
    COleDateTime stamp;
    void* empty = nullptr;
    switch (type) {
        case PROP_STRING:
            empty = &s;
            break;
        case PROP_STRING_ARRAY:
            empty = &sa;
            break;
        case PROP_REAL:
            empty = &d;
            break;
        case PROP_INTEGER:
            empty = &i;
            break;
        case PROP_DWORD:
            empty = &dw;
            break;
        case PROP_2DPOINT:
            empty = &p2;
            break;
        case PROP_3DPOINT:
            empty = &p3;
            break;
        case PROP_COLOUR:
            empty = &colour;
            break;
        case PROP_TIMESTAMP:
            stamp = CTickwise::GetPCOleDateTime();
            empty = &stamp;
            break;
        default:
            return FALSE;
    }
    if (Add(name, empty, type, m_dDefaultTimeout) == 0) {
        return FALSE;
    }
    // The name may be a path into a child block: the item lives where the path ends.
    std::string itemName;
    CDataBlock* owner = Lookup(name, &itemName);
    CPropItem* item = owner != nullptr ? owner->GetProperty(itemName) : nullptr;
    if (item == nullptr) {
        return FALSE;
    }
    if (CPropItem::IsIDValid(id)) {
        CBlockLock lock(*owner, m_dDefaultTimeout);
        if (lock.IsLocked() && item->SetID(id) != 0) {
            owner->InsertByID(item);
        }
    }
    bool readOnly = false;
    std::string rest = qualifiers;
    while (!rest.empty()) {
        const std::string qualifier = TrimChars(Chomp(rest, "|", 1), kBlanks);
        if (strcasecmp(qualifier.c_str(), "ReadOnly") == 0) {
            readOnly = true;
        } else if (StartsWithNoCase(qualifier, "Choices")) {
            item->SetChoices(After(qualifier, ":"));
        } else if (StartsWithNoCase(qualifier, "Units:")) {
            const std::string units = TrimChars(TrimChars(After(qualifier, ":"), "\""), kBlanks);
            item->SetUnits(Before(units, "/"), After(units, "/"));
        } else if (StartsWithNoCase(qualifier, "Format:")) {
            item->SetFormatString(TrimChars(TrimChars(After(qualifier, ":"), kBlanks), "\""));
        }
    }
    if (!initial.empty()) {
        Set(name, initial, 0, m_dDefaultTimeout);
    }
    if (readOnly) {
        item->SetReadOnly(TRUE);
    }
    return TRUE;
}

BOOL CDataBlock::AddClassProperty(const std::string& name, const std::string& className, UINT id,
                                  const std::string& qualifiers) {
    if (!qualifiers.empty()) {
        // Our block classes register themselves when their library is linked; the module
        // is named for the trace only.
        ORVEX_TRACE(4, "\tModule: %s\n", ModuleFromQualifiers(qualifiers).c_str());
    }
    const CRuntimeClass* cls = CRuntimeClass::FromName(className.c_str());
    if (cls == nullptr || !cls->IsDerivedFrom(RUNTIME_CLASS(CDataBlock)) ||
        cls->m_pfnCreateObject == nullptr) {
        ORVEX_TRACE(4, "\tERROR: %s is not a data block class\n", className.c_str());
        return FALSE;
    }
    std::string childName;
    CDataBlock* owner = Lookup(name, &childName);
    // A second child of one name could never be reached by a path: refused, as a second
    // property of one name is.
    if (owner == nullptr || childName.empty() || owner->GetChildObject(childName) != nullptr) {
        return FALSE;
    }
    std::unique_ptr<CObject> object(cls->CreateObject());
    auto* child = dynamic_cast<CDataBlock*>(object.get());
    if (child == nullptr) {
        return FALSE;
    }
    child->SetName(childName);
    if (owner->AddChild(child) == 0) {
        return FALSE;
    }
    object.release();  // the parent owns it now
    child->Initialise();
    if (CPropItem::IsIDValid(id)) {
        return child->LoadMenuA(id);
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Writing and reading

BOOL CDataBlock::Set(const std::string& path, void* data, int type, int addIfMissing,
                     double timeout) {
    CWalkStep lock(*this, timeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    if (CPropItem* item = FindItem(path)) {
        return OnSetProperty(path, item, data, type);
    }
    std::string rest;
    CDataBlock* handler = FindHandler(path, rest);
    if (handler != nullptr) {
        lock.Unlock();
        return handler->Set(rest, data, type, addIfMissing, timeout);
    }
    if (addIfMissing == 0 || IsShortcut() != 0) {
        return FALSE;
    }
    lock.Unlock();
    return Add(rest, data, type, timeout);
}

BOOL CDataBlock::OnSetProperty(const std::string& name, CPropItem* item, void* data, int type) {
    if (item == nullptr) {
        return FALSE;
    }
    if (item->IsReadOnly() != 0) {
        ORVEX_TRACE(4, "WARNING: %s[\"%s\"]::Set() call made on READ-ONLY property (\"%s\")\n",
                    ClassName(), GetName().c_str(), name.c_str());
        return FALSE;
    }
    int result = -1;  // -1: not converted through the units block
    std::string category;
    std::string unit;
    item->GetUnits(category, unit);
    if (!category.empty() && data != nullptr &&
        (type == PROP_STRING || type == PROP_STRING_ARRAY)) {
        if (CUnitsConversion* units = FindUnits()) {
            const int itemType = item->GetType();
            std::vector<std::string> fields;
            if (type == PROP_STRING) {
                std::string text = *static_cast<const std::string*>(data);
                while (!text.empty()) {
                    std::string field = Chomp(text, ",", 1);
                    if (!TrimChars(field, kBlanks).empty()) {
                        fields.push_back(field);
                    }
                }
            } else {
                fields = *static_cast<const std::vector<std::string>*>(data);
            }
            if (itemType == PROP_REAL && type == PROP_STRING) {
                double value = 0.0;
                if (units->ConvertFromDisplay(category, *static_cast<const std::string*>(data),
                                              value, 0, nullptr) != 0) {
                    result = item->Set(value);
                }
            } else if (itemType == PROP_2DPOINT) {
                C2DPoint value;
                if (units->ConvertFromDisplay(category, fields, value, 0) != 0) {
                    result = item->Set(value);
                }
            } else if (itemType == PROP_3DPOINT) {
                C3DPoint value;
                if (units->ConvertFromDisplay(category, fields, value, 0) != 0) {
                    result = item->Set(value);
                }
            }
        }
    }
    if (result < 0) {
        result = item->Set(data, type);
    }
    // The handler hears of every attempt, also one that changed nothing or failed.
    CallPropertyHandler(item);
    if (result > 0) {
        m_bModified = TRUE;
        OnPropertyChanged(name);
    }
    return result > 0 ? TRUE : FALSE;
}

void CDataBlock::OnPropertyChanged(const std::string& name) {
    ORVEX_TRACE(4, "OnPropertyChanged(%s)\n", name.c_str());
    SendSimple(TBN_PROPERTYCHANGED, nullptr, name, nullptr);
}

BOOL CDataBlock::Get(const std::string& path, void* data, int type, double timeout) {
    CWalkStep lock(*this, timeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    // A name this block holds answers at once; otherwise the path is walked.
    CPropItem* item = FindItem(path);
    std::string rest = path;
    if (item == nullptr) {
        CDataBlock* handler = FindHandler(path, rest);
        if (handler != nullptr) {
            lock.Unlock();
            return handler->Get(rest, data, type, timeout);
        }
        item = FindItem(rest);
    }
    const BOOL ok = OnGetProperty(rest, item, data, type);
    if (ok == 0) {
        ORVEX_TRACE(4, "WARNING: CDataBlock[\"%s\"]::Get(\"%s\") FAILED!\n", GetName().c_str(),
                    path.c_str());
    }
    return ok;
}

BOOL CDataBlock::OnGetProperty(const std::string& /*name*/, CPropItem* item, void* data, int type) {
    if (item == nullptr || data == nullptr) {
        return FALSE;
    }
    std::string category;
    std::string unit;
    item->GetUnits(category, unit);
    if (!category.empty() && type == PROP_STRING) {
        if (CUnitsConversion* units = FindUnits()) {
            auto& text = *static_cast<std::string*>(data);
            std::vector<std::string> fields;
            BOOL converted = FALSE;
            if (item->GetType() == PROP_REAL) {
                double value = 0.0;
                item->Get(value);
                converted = units->ConvertForDisplay(category, value, text, 0, -1, std::string());
            } else if (item->GetType() == PROP_2DPOINT) {
                C2DPoint value;
                item->Get(value);
                converted = units->ConvertForDisplay(category, value, fields, 0);
            } else if (item->GetType() == PROP_3DPOINT) {
                C3DPoint value;
                item->Get(value);
                converted = units->ConvertForDisplay(category, value, fields, 0);
            }
            if (converted != 0) {
                if (item->GetType() != PROP_REAL) {
                    text.clear();
                    for (const std::string& field : fields) {
                        text += text.empty() ? "" : ", ";
                        text += field;
                    }
                }
                return TRUE;
            }
        }
    }
    return item->Get(data, type) != 0 ? TRUE : FALSE;
}

BOOL CDataBlock::SetByID(CPropItem* item, void* data, int type, double timeout) {
    return WithProperty(
        *this, timeout, [item] { return item; },
        [&](CPropItem& found) { return OnSetProperty(found.GetName(), &found, data, type); });
}

BOOL CDataBlock::GetByID(CPropItem* item, void* data, int type, double timeout) {
    if (item == nullptr) {
        return FALSE;
    }
    return UnderLock(*this, timeout, FALSE, [&] {
        const BOOL ok = OnGetProperty(item->GetName(), item, data, type);
        if (ok == 0) {
            ORVEX_TRACE(4, "WARNING: CDataBlock[\"%s\"]::GetByID(\"%s\") FAILED!\n",
                        GetName().c_str(), item->GetName().c_str());
        }
        return ok;
    });
}

BOOL CDataBlock::Update(const std::string& name, void* data, int type, double timeout) {
    return UnderLock(*this, timeout, FALSE, [&]() -> BOOL {
        CPropItem* item = FindItem(name);
        if (item == nullptr) {
            ORVEX_TRACE(4, "CDataBlock[\"%s\"]::Update(\"%s\") - property does not exist\n",
                        GetName().c_str(), name.c_str());
            return FALSE;
        }
        return UpdateByID(item, data, type, timeout);
    });
}

BOOL CDataBlock::UpdateByID(CPropItem* item, void* data, int type, double timeout) {
    return WithProperty(
        *this, timeout, [item] { return item; },
        [&](CPropItem& found) -> BOOL {
            if (found.Set(data, type) == 0) {
                return FALSE;
            }
            m_bModified = TRUE;
            OnPropertyChanged(found.GetName());
            return TRUE;
        });
}

// ---------------------------------------------------------------------------------------
// Flags, choices, units, names

BOOL CDataBlock::IsModified(const std::string& name, double timeout) {
    if (name.empty()) {
        return UnderLock(*this, timeout, FALSE, [this]() -> BOOL { return m_bModified; });
    }
    return WithProperty(
        *this, timeout, [&] { return FindItem(name); },
        [](CPropItem& item) { return item.IsModified(); });
}

BOOL CDataBlock::SetModifiedFlag(const std::string& name, BOOL modified, double timeout) {
    return WithProperty(
        *this, timeout, [&] { return FindItem(name); },
        [modified](CPropItem& item) { return item.SetModifiedFlag(modified); });
}

BOOL CDataBlock::SetModifiedFlag(BOOL modified, double timeout) {
    return UnderLock(*this, timeout, FALSE, [&]() -> BOOL {
        for (auto& [name, item] : m_mapProperties) {
            item->SetModifiedFlag(modified);
        }
        m_bModified = FALSE;
        return TRUE;
    });
}

BOOL CDataBlock::GetChoices(const std::string& name, std::vector<std::string>& choices) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return FindItem(name); },
        [&](CPropItem& item) { return item.GetChoices(choices); });
}

BOOL CDataBlock::SetChoices(const std::string& name, const std::vector<std::string>& choices) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return FindItem(name); },
        [&](CPropItem& item) { return item.SetChoices(choices); });
}

BOOL CDataBlock::SetUnits(const std::string& name, const std::string& category) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return FindItem(name); },
        [&](CPropItem& item) { return item.SetUnits(category, std::string()); });
}

BOOL CDataBlock::SetUnits(UINT nameID, UINT categoryID) {
    return SetUnits(LoadName(nameID), LoadName(categoryID));
}

BOOL CDataBlock::SetUnitsByID(UINT id, const std::string& category) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return GetPropertyByID(id); },
        [&](CPropItem& item) { return item.SetUnits(category, std::string()); });
}

namespace {
// A format string replaces the property's units.
BOOL ApplyFormatString(CPropItem& item, const std::string& format) {
    item.SetFormatString(format);
    return item.SetUnits(std::string(), std::string());
}
}  // namespace

BOOL CDataBlock::SetFormatString(const std::string& name, const std::string& format) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return FindItem(name); },
        [&](CPropItem& item) { return ApplyFormatString(item, format); });
}

BOOL CDataBlock::SetFormatStringByID(UINT id, const std::string& format) {
    return WithProperty(
        *this, m_dDefaultTimeout, [&] { return GetPropertyByID(id); },
        [&](CPropItem& item) { return ApplyFormatString(item, format); });
}

CTreeObject::POSITION CDataBlock::GetFirstPropertyNamePosition() const {
    CBlockLock lock(*this, m_dDefaultTimeout);
    return !lock.IsLocked() || m_listNames.empty() ? 0 : 1;
}

std::string CDataBlock::GetNextPropertyName(POSITION& pos) const {
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked() || pos == 0 || pos > m_listNames.size()) {
        pos = 0;
        return {};
    }
    std::string name = m_listNames[pos - 1];
    pos = pos < m_listNames.size() ? pos + 1 : 0;
    return name;
}

void CDataBlock::GetPropertyNames(std::list<std::string>& names) {
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return;
    }
    for (const std::string& name : m_listNames) {
        if (!name.empty()) {
            names.push_back(name);
        }
    }
}

std::string CDataBlock::GetPropertyNames(const std::string& separator) {
    std::string text;
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return text;
    }
    for (const std::string& name : m_listNames) {
        text += name;
        text += separator;
    }
    return text;
}

BOOL CDataBlock::DumpProperties(std::vector<std::string>& out, double timeout) {
    {
        CBlockLock lock(*this, timeout);
        if (!lock.IsLocked()) {
            return FALSE;
        }
        const std::string path = GetPath();
        for (const std::string& name : m_listNames) {
            CPropItem* item = FindItem(name);
            std::string text;
            if (OnGetProperty(name, item, &text, PROP_STRING) == 0) {
                text = "(Unable to convert to string format)";
            }
            std::string line = path + name + " = ";
            if (item->IsNumeric() != 0 && item->IsEnumerate() == 0) {
                line += text;
            } else {
                line += "\"" + text + "\"";
            }
            if (item->IsReadOnly() != 0) {
                line += " [Read Only]";
            }
            out.push_back(std::move(line));
        }
    }
    POSITION pos = GetFirstChildPosition();
    while (pos != 0) {
        if (auto* child = dynamic_cast<CDataBlock*>(GetNextChild(pos))) {
            child->DumpProperties(out, timeout);
        }
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Handlers

BOOL CDataBlock::RegisterPropertyHandler(UINT id, PropertyHandler handler) {
    if (!CPropItem::IsIDValid(id) || handler == nullptr) {
        return FALSE;
    }
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    m_mapHandlers[id] = handler;
    return TRUE;
}

BOOL CDataBlock::CallPropertyHandler(CPropItem* item) {
    if (item == nullptr || !CPropItem::IsIDValid(item->GetID())) {
        return FALSE;
    }
    PropertyHandler handler = nullptr;
    {
        CBlockLock lock(*this, m_dDefaultTimeout);
        if (!lock.IsLocked()) {
            return FALSE;
        }
        const auto it = m_mapHandlers.find(item->GetID());
        if (it == m_mapHandlers.end()) {
            return FALSE;
        }
        handler = it->second;
    }
    (this->*handler)(item);
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// XML

HRESULT CDataBlock::GenerateXmlElementForProperty(xmlDocPtr doc, xmlNodePtr parent,
                                                  const std::string& element, UINT id,
                                                  std::string* error) {
    CPropItem* item = GetPropertyByID(id);
    std::string value;
    if (doc == nullptr || parent == nullptr || item == nullptr ||
        GetByID(item, &value, PROP_STRING) == 0) {
        return E_FAIL;
    }
    std::string category;
    std::string unit;
    item->GetUnits(category, unit);
    if (!category.empty()) {
        double number = 0.0;
        if (item->Get(number) != 0) {
            return GenerateXmlElementWithUnits(doc, parent, element, number, category, error);
        }
    }
    // The report generator's element: a checked name, and text that is made valid UTF-8
    // and escaped, so a value can never break the document.
    const HRESULT status =
        CXmlReportGenerator::GenerateXmlElement(doc, parent, element, value, nullptr);
    if (FAILED(status) && error != nullptr) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "Exception 0x%08x", static_cast<unsigned>(status));
        *error = std::string(buffer) + " in CDataBlock::GenerateXmlElementForProperty()\n" +
                 "Element = " + element + ", Value = " + value;
    }
    return status;
}

HRESULT CDataBlock::GenerateXmlElementWithUnits(xmlDocPtr doc, xmlNodePtr parent,
                                                const std::string& element, double value,
                                                const std::string& category, std::string* error) {
    // One element shape for a value with units, wherever it is written: the report
    // generator's, through this tree's units block (the internal value without one).
    auto* units = dynamic_cast<CUnitsBlock*>(FindUnits());
    return CXmlReportGenerator::GenerateXmlElementWithUnits(doc, parent, element, value, units,
                                                            category, error);
}

// ---------------------------------------------------------------------------------------
// Listeners and routing

BOOL CDataBlock::ChangeTargets(CCmdTargetList& list, CCmdTarget* target, bool add, const char* what,
                               double timeout) {
    ORVEX_TRACE(4, "%s[%s](0x%p)\n", what, GetName().c_str(), static_cast<void*>(target));
    CBlockLock lock(*this, timeout);
    if (!lock.IsLocked()) {
        ORVEX_TRACE(4, "CDataBlock[\"%s\"]::%s(0x%p) - timed out after %d ms\n", GetName().c_str(),
                    what, static_cast<void*>(target), static_cast<int>(timeout));
        return FALSE;
    }
    return (add ? list.Add(target) : list.Remove(target)) ? TRUE : FALSE;
}

BOOL CDataBlock::AddCommandTarget(CCmdTarget* target, double timeout) {
    return ChangeTargets(m_listCommandTargets, target, true, "AddCommandTarget", timeout);
}

BOOL CDataBlock::RemoveCommandTarget(CCmdTarget* target, double timeout) {
    return ChangeTargets(m_listCommandTargets, target, false, "RemoveCommandTarget", timeout);
}

BOOL CDataBlock::AddNotifyTarget(CCmdTarget* target, double timeout) {
    return ChangeTargets(m_listNotifyTargets, target, true, "AddNotifyTarget", timeout);
}

BOOL CDataBlock::RemoveNotifyTarget(CCmdTarget* target, double timeout) {
    return ChangeTargets(m_listNotifyTargets, target, false, "RemoveNotifyTarget", timeout);
}

BOOL CDataBlock::LoadMenuA(UINT menuID) {
    ORVEX_TRACE(4, "\t%s[\"%s\"]::LoadMenu(): Loading menu %u\n", ClassName(), GetName().c_str(),
                menuID);
    if (!CPropItem::IsIDValid(menuID)) {
        return FALSE;
    }
    tagbook::RegisterResources();
    CMenu menu;
    if (menu.LoadMenu(menuID) == 0) {
        return FALSE;
    }
    return LoadMenuA(&menu, std::string());
}

BOOL CDataBlock::LoadMenuA(CMenu* menu, const std::string& prefix) {
    ORVEX_TRACE(4, "LoadMenu(%p, %s)\n", static_cast<void*>(menu), prefix.c_str());
    if (menu == nullptr) {
        return FALSE;
    }
    for (int i = 0; i < menu->GetMenuItemCount(); ++i) {
        std::string text;
        menu->GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
        if (text.size() > 1024) {
            text.resize(1024);
        }
        if (text.empty()) {
            continue;
        }
        if (CMenu* popup = menu->GetSubMenu(i)) {
            LoadMenuA(popup, prefix + Before(text, "[") + ":");
        } else {
            AddProperty(prefix + text, menu->GetMenuItemID(i));
        }
    }
    return TRUE;
}

BOOL CDataBlock::OnCmdMsg(UINT id, int code, void* extra, void* handlerInfo) {
    if (IsShortcut() != 0) {
        ForwardGuard guard;
        CDataBlock* target = GetShortcutTarget();
        return target != nullptr && !guard.TooDeep()
                   ? target->OnCmdMsg(id, code, extra, handlerInfo)
                   : FALSE;
    }
    if (CTreeObject::OnCmdMsg(id, code, extra, handlerInfo) != 0) {
        return TRUE;
    }
    if (code != CN_COMMAND && code != CN_UPDATE_COMMAND_UI) {
        return FALSE;
    }
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    return m_listCommandTargets.Route(id, code, extra, handlerInfo);
}

BOOL CDataBlock::Notify(NM_TAGBOOK& record) {
    CBlockLock lock(*this, m_dDefaultTimeout);
    if (!lock.IsLocked()) {
        return FALSE;
    }
    record.pBlock = this;
    record.idFrom = GetNotifyID();
    AFX_NOTIFY notify{&record.result, &record};
    ++m_nNotifying;
    const BOOL handled =
        m_listNotifyTargets.Route(GetNotifyID(), MakeNotifyCode(record.code), &notify, nullptr);
    --m_nNotifying;
    return handled;
}

BOOL CDataBlock::SendSimple(UINT code, CDataBlock* child, const std::string& text,
                            LRESULT* result) {
    {
        CBlockLock lock(*this, m_dDefaultTimeout);
        if (!lock.IsLocked() || m_listNotifyTargets.IsEmpty()) {
            return FALSE;
        }
    }
    NM_TAGBOOK record(code, GetNotifyID());
    record.pChild = child;
    record.text = text;
    const BOOL handled = Notify(record);
    if (result != nullptr) {
        *result = record.result;
    }
    return handled;
}

// ---------------------------------------------------------------------------------------
// Children

void CDataBlock::NoteChildName(const std::string& name, DWORD uid) {
    std::lock_guard lock(m_mutexChildren);
    m_mapChildren[name] = uid;
}

void CDataBlock::OnAddChild(CTreeObject* child) {
    auto* block = dynamic_cast<CDataBlock*>(child);
    if (block == nullptr) {
        return;
    }
    SendSimple(TBN_CHILDADDED, block, std::string(), nullptr);
    NoteChildName(block->GetName(), block->GetUID());
}

void CDataBlock::OnDeleteChild(CTreeObject* child) {
    auto* block = dynamic_cast<CDataBlock*>(child);
    if (block != nullptr) {
        SendSimple(TBN_CHILDREMOVING, block, std::string(), nullptr);
    }
    std::lock_guard lock(m_mutexChildren);
    for (auto it = m_mapChildren.begin(); it != m_mapChildren.end();) {
        // The child's own entry, and any left by a child that is already gone.
        const bool mine = block != nullptr && it->second == block->GetUID();
        if (mine || (block == nullptr && it->second != 0 && GetObjectA(it->second) == nullptr)) {
            it = m_mapChildren.erase(it);
        } else {
            ++it;
        }
    }
}

void CDataBlock::OnRenameChild(CDataBlock* child, const std::string& oldName) {
    if (child == nullptr) {
        return;
    }
    std::lock_guard lock(m_mutexChildren);
    if (const auto it = m_mapChildren.find(oldName);
        it != m_mapChildren.end() && it->second == child->GetUID()) {
        m_mapChildren.erase(it);
    }
    m_mapChildren[child->GetName()] = child->GetUID();
}

BOOL CDataBlock::SetParent(CTreeObject* parent) {
    if (CTreeObject::SetParent(parent) == 0) {
        return FALSE;
    }
    if (auto* block = dynamic_cast<CDataBlock*>(parent)) {
        if (GetNotifyID() == 0) {
            SetNotifyID(block->GetNotifyID());
        }
        SetDocument(block->GetDocument());
    }
    return TRUE;
}
