// The node of an ownership tree: one parent, an ordered list of owned children, and a
// list of pointer variables ("slots") that are cleared when the node dies, so objects
// that point at a node never read a dangling pointer. A child's own parent pointer is one
// of its parent's slots, so children of a dying parent read a null parent.
//
// A slot's holder must Detach the slot before the slot's own storage goes away; the node
// writes through every slot still attached when it dies.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/RuntimeClass.h"

class CTreeObject : public CCmdTarget {
    DECLARE_DYNAMIC(CTreeObject)
public:
    // A place in the list of children: 0 is "no more", k is the k-th child.
    using POSITION = std::size_t;

    explicit CTreeObject(CTreeObject* parent = nullptr);
    ~CTreeObject() override;
    CTreeObject(const CTreeObject&) = delete;
    CTreeObject& operator=(const CTreeObject&) = delete;

    virtual void NullAttachedPointers();
    virtual BOOL Attach(CTreeObject*& slot);
    virtual BOOL Detach(CTreeObject*& slot);
    virtual BOOL AddChild(CTreeObject* child, CTreeObject* before = nullptr,
                          CTreeObject* after = nullptr);
    virtual void DeleteAllChildren(BOOL deleteIt = TRUE, const CRuntimeClass* kind = nullptr);
    virtual BOOL DeleteChild(CTreeObject* child, BOOL deleteIt = TRUE);
    virtual void OnAddChild(CTreeObject* child);
    virtual void OnDeleteChild(CTreeObject* child);

    BOOL InsertBefore(CTreeObject* sibling);
    BOOL InsertAfter(CTreeObject* sibling);

    CTreeObject* GetParent() const { return m_pParent; }
    BOOL HasChildren() const { return m_children.empty() ? FALSE : TRUE; }
    int GetChildCount() const { return static_cast<int>(m_children.size()); }
    POSITION GetFirstChildPosition() const { return m_children.empty() ? 0 : 1; }
    POSITION GetLastChildPosition() const { return m_children.size(); }
    // The child at the position; the position moves on (0 after the last).
    CTreeObject* GetNextChild(POSITION& pos) const;
    // The child at the position; the position moves back (0 before the first).
    CTreeObject* GetPrevChild(POSITION& pos) const;
    CTreeObject* GetNextSibling() const;
    CTreeObject* GetPrevSibling() const;

    // The topmost ancestor; with a kind, the walk stops below the first ancestor that is
    // not of that kind.
    CTreeObject* GetRoot(const CRuntimeClass* kind = nullptr);
    // Nonzero when the node is an ancestor of this one at any depth.
    BOOL IsChildOf(const CTreeObject* node) const;
    // Sorts the children (compare < 0: first before second); with recursive, every
    // child's children too. Equal children keep their order.
    void Sort(int (*compare)(CTreeObject*, CTreeObject*), BOOL recursive = FALSE);

protected:
    virtual BOOL SetParent(CTreeObject* parent);

private:
    int IndexOfChild(const CTreeObject* child) const;
    void RemoveFromChildren(const CTreeObject* child);

    CTreeObject* m_pParent = nullptr;
    std::vector<CTreeObject*> m_children;
    std::vector<CTreeObject**> m_attached;
    // Expires when the node is destroyed: operations that call hooks look at it before
    // touching a node a hook may have deleted.
    std::shared_ptr<char> m_life = std::make_shared<char>(0);
};
