#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "utilon/TreeObject.h"

namespace {

class Node;
// A node's name; a node still being built (its parent's hook runs from the tree
// node's constructor) is not a Node yet.
std::string NameOf(CTreeObject* node);

// A node that records its hooks and can run a test's action from inside one.
class Node : public CTreeObject {
    DECLARE_DYNAMIC(Node)
public:
    explicit Node(std::string name, CTreeObject* parent = nullptr,
                  std::vector<std::string>* log = nullptr)
        : CTreeObject(parent), m_name(std::move(name)), m_log(log) {}
    // Leaves the tree while still a whole Node, so the hooks it sets off see one.
    ~Node() override {
        if (m_log)
            m_log->push_back("~" + m_name);
        DeleteAllChildren(TRUE, nullptr);
        if (GetParent() != nullptr)
            GetParent()->DeleteChild(this, FALSE);
    }
    void OnAddChild(CTreeObject* child) override {
        if (m_log)
            m_log->push_back(m_name + "+" + NameOf(child));
        if (onAdd)
            onAdd(child);
    }
    void OnDeleteChild(CTreeObject* child) override {
        if (m_log)
            m_log->push_back(m_name + "-" + NameOf(child));
        if (onDelete)
            onDelete(child);
    }
    std::string m_name;
    std::vector<std::string>* m_log;
    std::function<void(CTreeObject*)> onAdd;
    std::function<void(CTreeObject*)> onDelete;
};
IMPLEMENT_DYNAMIC(Node, CTreeObject)

std::string NameOf(CTreeObject* node) {
    auto* n = dynamic_cast<Node*>(node);
    return n != nullptr ? n->m_name : "(new)";
}

class Leaf : public Node {
    DECLARE_DYNAMIC(Leaf)
public:
    using Node::Node;
};
IMPLEMENT_DYNAMIC(Leaf, Node)

std::string Names(const CTreeObject& parent) {
    std::string s;
    for (auto pos = parent.GetFirstChildPosition(); pos != 0;) {
        s += static_cast<Node*>(parent.GetNextChild(pos))->m_name;
    }
    return s;
}

TEST(TreeObject, ChildrenInOrderWithNeighboursAndWalks) {
    Node root("r");
    Node* a = new Node("a", &root);
    Node* c = new Node("c", &root);
    Node* b = new Node("b");
    EXPECT_TRUE(b->InsertBefore(c));
    Node* d = new Node("d");
    EXPECT_TRUE(d->InsertAfter(c));
    Node* z = new Node("z");
    // A neighbour that is not a child still puts the node in the list, at the end.
    EXPECT_TRUE(root.AddChild(z, &root, nullptr));
    EXPECT_EQ(Names(root), "abcdz");
    EXPECT_EQ(root.GetChildCount(), 5);
    EXPECT_EQ(b->GetParent(), &root);
    EXPECT_EQ(b->GetNextSibling(), c);
    EXPECT_EQ(b->GetPrevSibling(), a);
    EXPECT_EQ(a->GetPrevSibling(), nullptr);
    EXPECT_EQ(z->GetNextSibling(), nullptr);
    EXPECT_EQ(root.GetNextSibling(), nullptr);
    EXPECT_FALSE(Node("x").InsertBefore(&root));
    EXPECT_FALSE(Node("x").InsertAfter(nullptr));

    std::string backwards;
    for (auto pos = root.GetLastChildPosition(); pos != 0;) {
        backwards += static_cast<Node*>(root.GetPrevChild(pos))->m_name;
    }
    EXPECT_EQ(backwards, "zdcba");
}

TEST(TreeObject, CyclesAndDoubleAddsAreRefused) {
    Node root("r");
    Node* a = new Node("a", &root);
    Node* b = new Node("b", a);
    Node* c = new Node("c", b);
    EXPECT_FALSE(c->AddChild(&root));
    EXPECT_FALSE(a->AddChild(a));
    // Not the root but an ancestor: moving it under its own descendant is refused too.
    EXPECT_FALSE(c->AddChild(a));
    EXPECT_FALSE(root.AddChild(a));
    EXPECT_FALSE(root.AddChild(nullptr));
    EXPECT_EQ(a->GetParent(), &root);
    EXPECT_EQ(Names(*a), "b");
    EXPECT_TRUE(c->IsChildOf(&root));
    EXPECT_TRUE(c->IsChildOf(a));
    EXPECT_FALSE(a->IsChildOf(c));
    EXPECT_EQ(c->GetRoot(), &root);
    EXPECT_EQ(root.GetRoot(), &root);
}

TEST(TreeObject, GetRootStopsBelowTheFirstAncestorOfAnotherKind) {
    Node root("r");
    Leaf* l1 = new Leaf("l1", &root);
    Leaf* l2 = new Leaf("l2", l1);
    Leaf* l3 = new Leaf("l3", l2);
    EXPECT_EQ(l3->GetRoot(RUNTIME_CLASS(Leaf)), l1);
    EXPECT_EQ(l3->GetRoot(RUNTIME_CLASS(Node)), &root);
    EXPECT_EQ(l3->GetRoot(RUNTIME_CLASS(CTreeObject)), &root);
}

TEST(TreeObject, MovingAChildLeavesTheOldParentAndCallsItsHook) {
    std::vector<std::string> log;
    Node p1("p1", nullptr, &log), p2("p2", nullptr, &log);
    Node* a = new Node("a", &p1, &log);
    new Node("b", &p1, &log);
    log.clear();
    EXPECT_TRUE(p2.AddChild(a));
    EXPECT_EQ(Names(p1), "b");
    EXPECT_EQ(Names(p2), "a");
    EXPECT_EQ(a->GetParent(), &p2);
    EXPECT_EQ(log, (std::vector<std::string>{"p1-a", "p2+a"}));
    EXPECT_FALSE(p2.AddChild(a));
    EXPECT_EQ(p2.GetChildCount(), 1);
}

TEST(TreeObject, AttachedPointersAreClearedWhenTheNodeDies) {
    CTreeObject* watch = nullptr;
    CTreeObject* other = nullptr;
    {
        Node root("r");
        Node* child = new Node("c", &root);
        EXPECT_TRUE(child->Attach(watch));
        EXPECT_FALSE(child->Attach(watch));
        EXPECT_EQ(watch, child);
        EXPECT_TRUE(root.Attach(other));
        EXPECT_TRUE(root.Detach(other));
        EXPECT_EQ(other, nullptr);
        EXPECT_FALSE(root.Detach(other));
        other = &root;  // no longer attached: left as it is
        CTreeObject* reused = nullptr;
        EXPECT_TRUE(child->Attach(reused));
        reused = &root;  // the holder now points elsewhere: the node must not clear it
        EXPECT_TRUE(child->Detach(reused));
        EXPECT_EQ(reused, &root);
    }
    EXPECT_EQ(watch, nullptr);
    EXPECT_NE(other, nullptr);
}

TEST(TreeObject, DestroyingAParentDeletesItsChildren) {
    std::vector<std::string> log;
    {
        Node root("r", nullptr, &log);
        Node* a = new Node("a", &root, &log);
        new Node("a1", a, &log);
        new Node("b", &root, &log);
        log.clear();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"~r", "r-a", "~a", "a-a1", "~a1", "r-b", "~b"}))
        << ::testing::PrintToString(log);
}

TEST(TreeObject, DeleteChildAndDeleteAllChildrenOfAKind) {
    Node root("r");
    Node* a = new Node("a", &root);
    Leaf* l1 = new Leaf("l1", &root);
    Node* b = new Node("b", &root);
    Leaf* l2 = new Leaf("l2", &root);
    Node stranger("s");
    EXPECT_FALSE(root.DeleteChild(&stranger, TRUE));
    EXPECT_FALSE(root.DeleteChild(nullptr, TRUE));

    root.DeleteAllChildren(FALSE, RUNTIME_CLASS(Leaf));
    EXPECT_EQ(Names(root), "ab");
    EXPECT_EQ(l1->GetParent(), nullptr);
    EXPECT_EQ(l2->GetParent(), nullptr);
    delete l1;
    delete l2;

    // A kind that is no tree node does nothing.
    root.DeleteAllChildren(TRUE, RUNTIME_CLASS(CCmdTarget));
    EXPECT_EQ(root.GetChildCount(), 2);

    EXPECT_TRUE(root.DeleteChild(a, FALSE));
    EXPECT_EQ(a->GetParent(), nullptr);
    delete a;
    EXPECT_TRUE(root.DeleteChild(b, TRUE));
    EXPECT_FALSE(root.HasChildren());
}

TEST(TreeObject, DeletingAllChildrenWhileHooksChangeTheList) {
    std::vector<std::string> log;
    Node root("r", nullptr, &log);
    Node* a = new Node("a", &root, &log);
    Node* b = new Node("b", &root, &log);
    Node* c = new Node("c", &root, &log);
    Node* d = new Node("d", &root, &log);
    Node keeper("k", nullptr, &log);
    // Removing a deletes c from inside the hook and moves d elsewhere.
    bool done = false;
    root.onDelete = [&](CTreeObject* child) {
        if (child == a && !done) {
            done = true;
            delete c;
            keeper.AddChild(d);
            new Node("late", &root, &log);  // added during the walk: not in the snapshot
        }
    };
    root.DeleteAllChildren(TRUE, nullptr);
    EXPECT_EQ(Names(root), "late");
    EXPECT_EQ(Names(keeper), "d");
    (void)b;
    EXPECT_EQ(std::count(log.begin(), log.end(), "~c"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "~b"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "~d"), 0);
}

TEST(TreeObject, AHookThatDeletesTheChildBeingRemoved) {
    Node root("r");
    Node* a = new Node("a", &root);
    root.onDelete = [](CTreeObject* child) { delete child; };
    EXPECT_TRUE(root.DeleteChild(a, TRUE));  // deleted once, by the hook
    EXPECT_FALSE(root.HasChildren());

    Node other("o");
    Node* b = new Node("b", &root);
    EXPECT_FALSE(other.AddChild(b));  // the old parent's hook deleted it on the way
    EXPECT_FALSE(other.HasChildren());
}

TEST(TreeObject, AHookThatAdoptsTheChildBeingMoved) {
    Node root("r"), keeper("k"), other("o");
    Node* a = new Node("a", &root);
    root.onDelete = [&](CTreeObject* child) { keeper.AddChild(child); };
    EXPECT_FALSE(other.AddChild(a));
    EXPECT_EQ(a->GetParent(), &keeper);
    EXPECT_EQ(Names(keeper), "a");
    EXPECT_FALSE(other.HasChildren());
    EXPECT_FALSE(root.HasChildren());
}

int ByName(CTreeObject* a, CTreeObject* b) {
    return static_cast<Node*>(a)->m_name.compare(static_cast<Node*>(b)->m_name);
}
int Inconsistent(CTreeObject*, CTreeObject*) {
    return -1;
}

TEST(TreeObject, SortsChildrenAndOptionallyTheirChildren) {
    Node root("r");
    Node* c = new Node("c", &root);
    new Node("a", &root);
    Node* b = new Node("b", &root);
    new Node("z", c);
    new Node("y", c);
    new Node("q", b);
    new Node("p", b);
    root.Sort(ByName, FALSE);
    EXPECT_EQ(Names(root), "abc");
    EXPECT_EQ(Names(*c), "zy");
    root.Sort(ByName, TRUE);
    EXPECT_EQ(Names(*c), "yz");
    EXPECT_EQ(Names(*b), "pq");
    root.Sort(Inconsistent, TRUE);  // stays inside the list
    EXPECT_EQ(root.GetChildCount(), 3);
}

}  // namespace
