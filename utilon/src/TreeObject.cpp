#include "utilon/TreeObject.h"

#include <algorithm>

#include "utilon/OrvexTrace.h"

IMPLEMENT_DYNAMIC(CTreeObject, CCmdTarget)

CTreeObject::CTreeObject(CTreeObject* parent) {
    if (parent != nullptr) {
        parent->AddChild(this, nullptr, nullptr);
    }
}

CTreeObject::~CTreeObject() {
    DeleteAllChildren(TRUE, nullptr);
    if (m_pParent != nullptr) {
        m_pParent->DeleteChild(this, FALSE);
    }
    NullAttachedPointers();
    ORVEX_TRACE(4, "CTreeObject::~CTreeObject(0x%p)\n", static_cast<void*>(this));
}

void CTreeObject::NullAttachedPointers() {
    for (CTreeObject** slot : m_attached) {
        if (slot != nullptr && *slot == this) {
            *slot = nullptr;
        }
    }
}

BOOL CTreeObject::Attach(CTreeObject*& slot) {
    CTreeObject** address = &slot;
    if (std::find(m_attached.begin(), m_attached.end(), address) != m_attached.end()) {
        return FALSE;
    }
    slot = this;
    m_attached.push_back(address);
    return TRUE;
}

BOOL CTreeObject::Detach(CTreeObject*& slot) {
    auto it = std::find(m_attached.begin(), m_attached.end(), &slot);
    if (it == m_attached.end()) {
        return FALSE;
    }
    m_attached.erase(it);
    if (slot == this) {
        slot = nullptr;
    }
    return TRUE;
}

BOOL CTreeObject::AddChild(CTreeObject* child, CTreeObject* before, CTreeObject* after) {
    if (child == nullptr) {
        ORVEX_TRACE(4, "\tERROR: No Child specified\n");
        return FALSE;
    }
    if (child->m_pParent == this) {
        return FALSE;
    }
    // No node may become a child of itself or of one of its descendants: that would
    // form a cycle and cut the branch off from its root.
    if (child == this || IsChildOf(child)) {
        ORVEX_TRACE(4, "ERROR: Child (0x%lX) is the root of the parent (0x%lX)\n",
                    reinterpret_cast<unsigned long>(child), reinterpret_cast<unsigned long>(this));
        return FALSE;
    }
    std::weak_ptr<char> self = m_life;
    std::weak_ptr<char> childLife = child->m_life;
    if (!child->SetParent(this)) {
        ORVEX_TRACE(4, "ERROR: pChild->SetParent() FAILED\n");
        return FALSE;
    }
    // The old parent's hook may have deleted either node.
    if (self.expired() || childLife.expired() || child->m_pParent != this) {
        return FALSE;
    }
    // A neighbour that is not our child puts the new child at the end: leaving it out of
    // the list would orphan a node that names us as parent.
    auto where = m_children.end();
    if (before != nullptr) {
        auto it = std::find(m_children.begin(), m_children.end(), before);
        if (it != m_children.end()) {
            where = it;
        }
    } else if (after != nullptr) {
        auto it = std::find(m_children.begin(), m_children.end(), after);
        if (it != m_children.end()) {
            where = it + 1;
        }
    }
    m_children.insert(where, child);
    OnAddChild(child);
    return TRUE;
}

BOOL CTreeObject::SetParent(CTreeObject* parent) {
    if (parent == m_pParent) {
        return FALSE;
    }
    std::weak_ptr<char> self = m_life;
    if (m_pParent != nullptr) {
        CTreeObject* old = m_pParent;
        old->Detach(m_pParent);
        old->RemoveFromChildren(this);
        old->OnDeleteChild(this);
        // The hook may have deleted this node or already given it another parent.
        if (self.expired() || m_pParent != nullptr) {
            return FALSE;
        }
    }
    if (parent != nullptr) {
        parent->Attach(m_pParent);
    }
    return TRUE;
}

BOOL CTreeObject::DeleteChild(CTreeObject* child, BOOL deleteIt) {
    if (child == nullptr || child->m_pParent != this) {
        return FALSE;
    }
    std::weak_ptr<char> childLife = child->m_life;
    child->SetParent(nullptr);
    // A hook that already deleted the child leaves nothing to delete.
    if (deleteIt && !childLife.expired()) {
        delete child;
    }
    return TRUE;
}

void CTreeObject::DeleteAllChildren(BOOL deleteIt, const CRuntimeClass* kind) {
    if (kind != nullptr && !kind->IsDerivedFrom(RUNTIME_CLASS(CTreeObject))) {
        return;
    }
    m_children.erase(std::remove(m_children.begin(), m_children.end(), nullptr), m_children.end());
    // The hooks may add, move or delete children while we go: walk a snapshot and touch a
    // node only while it is alive and still ours.
    std::vector<std::pair<CTreeObject*, std::weak_ptr<char>>> snapshot;
    snapshot.reserve(m_children.size());
    for (CTreeObject* child : m_children) {
        if (kind == nullptr || child->IsKindOf(kind)) {
            snapshot.emplace_back(child, child->m_life);
        }
    }
    std::weak_ptr<char> self = m_life;
    for (auto& [child, life] : snapshot) {
        if (self.expired()) {
            return;
        }
        if (life.expired() || IndexOfChild(child) < 0) {
            continue;
        }
        DeleteChild(child, deleteIt);
    }
}

void CTreeObject::OnAddChild(CTreeObject* /*child*/) {}
void CTreeObject::OnDeleteChild(CTreeObject* /*child*/) {}

BOOL CTreeObject::InsertBefore(CTreeObject* sibling) {
    if (sibling == nullptr || sibling->m_pParent == nullptr) {
        return FALSE;
    }
    return sibling->m_pParent->AddChild(this, sibling, nullptr);
}

BOOL CTreeObject::InsertAfter(CTreeObject* sibling) {
    if (sibling == nullptr || sibling->m_pParent == nullptr) {
        return FALSE;
    }
    return sibling->m_pParent->AddChild(this, nullptr, sibling);
}

CTreeObject* CTreeObject::GetNextChild(POSITION& pos) const {
    if (pos == 0 || pos > m_children.size()) {
        pos = 0;
        return nullptr;
    }
    CTreeObject* child = m_children[pos - 1];
    pos = pos < m_children.size() ? pos + 1 : 0;
    return child;
}

CTreeObject* CTreeObject::GetPrevChild(POSITION& pos) const {
    if (pos == 0 || pos > m_children.size()) {
        pos = 0;
        return nullptr;
    }
    CTreeObject* child = m_children[pos - 1];
    --pos;
    return child;
}

CTreeObject* CTreeObject::GetNextSibling() const {
    if (m_pParent == nullptr) {
        return nullptr;
    }
    int i = m_pParent->IndexOfChild(this);
    if (i < 0 || i + 1 >= m_pParent->GetChildCount()) {
        return nullptr;
    }
    return m_pParent->m_children[static_cast<size_t>(i) + 1];
}

CTreeObject* CTreeObject::GetPrevSibling() const {
    if (m_pParent == nullptr) {
        return nullptr;
    }
    int i = m_pParent->IndexOfChild(this);
    if (i <= 0) {
        return nullptr;
    }
    return m_pParent->m_children[static_cast<size_t>(i) - 1];
}

CTreeObject* CTreeObject::GetRoot(const CRuntimeClass* kind) {
    CTreeObject* node = this;
    while (node->m_pParent != nullptr && (kind == nullptr || node->m_pParent->IsKindOf(kind))) {
        node = node->m_pParent;
    }
    return node;
}

BOOL CTreeObject::IsChildOf(const CTreeObject* node) const {
    if (node == nullptr) {
        return FALSE;
    }
    for (const CTreeObject* p = m_pParent; p != nullptr; p = p->m_pParent) {
        if (p == node) {
            return TRUE;
        }
    }
    return FALSE;
}

void CTreeObject::Sort(int (*compare)(CTreeObject*, CTreeObject*), BOOL recursive) {
    if (compare == nullptr) {
        return;
    }
    // A guarded insertion sort: stable, and it stays inside the list even when the
    // caller's comparison is inconsistent.
    for (size_t i = 1; i < m_children.size(); ++i) {
        CTreeObject* node = m_children[i];
        size_t j = i;
        while (j > 0 && compare(node, m_children[j - 1]) < 0) {
            m_children[j] = m_children[j - 1];
            --j;
        }
        m_children[j] = node;
    }
    if (recursive) {
        for (CTreeObject* child : m_children) {
            child->Sort(compare, TRUE);
        }
    }
}

int CTreeObject::IndexOfChild(const CTreeObject* child) const {
    auto it = std::find(m_children.begin(), m_children.end(), child);
    return it == m_children.end() ? -1 : static_cast<int>(it - m_children.begin());
}

void CTreeObject::RemoveFromChildren(const CTreeObject* child) {
    auto it = std::find(m_children.begin(), m_children.end(), child);
    if (it != m_children.end()) {
        m_children.erase(it);
    }
}
