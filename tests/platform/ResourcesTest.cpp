#include <gtest/gtest.h>

#include "platform/Resources.h"
#include "platform/RuntimeClass.h"

TEST(ResourcesTest, ChainOrderPutsTheExecutableFirst) {
    platform::RegisterString("Library", 13654, "from the library");
    platform::RegisterString("Library", 9903, "library only");
    platform::AddResourceModule("Program", true);
    platform::RegisterString("Program", 13654, "from the program");
    std::string text;
    ASSERT_TRUE(LoadString(13654, text));
    EXPECT_EQ(text, "from the program");
    EXPECT_EQ(LoadStringOrEmpty(9903), "library only");
    EXPECT_FALSE(LoadString(1, text));
}

namespace {
// A pop-up with an item, a separator and an item, then an item.
std::vector<MenuEntry> BoxInMenu() {
    return {MenuEntry::Popup("Box-in", {MenuEntry::Item(100, "Enabled"), MenuEntry::Separator(),
                                        MenuEntry::Item(101, "Size")}),
            MenuEntry::Item(102, "Error")};
}

// The same walk whether the menu was loaded by id or made from entries.
void ExpectBoxInMenu(CMenu& menu) {
    EXPECT_TRUE(menu.IsLoaded());
    EXPECT_EQ(menu.GetMenuItemCount(), 2);
    EXPECT_EQ(menu.GetMenuItemID(0), static_cast<UINT>(-1));
    EXPECT_EQ(menu.GetMenuItemID(1), 102u);
    std::string text;
    menu.GetMenuString(0, text, MF_BYPOSITION);
    EXPECT_EQ(text, "Box-in");
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->GetMenuItemCount(), 3);
    EXPECT_EQ(popup->GetMenuItemID(1), 0u);
    EXPECT_EQ(popup->GetMenuItemID(2), 101u);
    EXPECT_EQ(menu.GetSubMenu(1), nullptr);
    EXPECT_EQ(menu.GetSubMenu(2), nullptr);
    EXPECT_GT(menu.GetMenuString(101, text, MF_BYCOMMAND), 0);  // found in the pop-up
    EXPECT_EQ(text, "Size");
}
}  // namespace

TEST(ResourcesTest, MenusWalkByPositionWhetherLoadedOrMadeFromEntries) {
    platform::RegisterMenu("Library", 9900, BoxInMenu());
    CMenu loaded;
    ASSERT_TRUE(loaded.LoadMenu(9900));
    {
        SCOPED_TRACE("loaded");
        ExpectBoxInMenu(loaded);
    }
    CMenu made(BoxInMenu());
    {
        SCOPED_TRACE("made from entries");
        ExpectBoxInMenu(made);
    }
    EXPECT_FALSE(CMenu().LoadMenu(4242));
    EXPECT_FALSE(CMenu().IsLoaded());
}

namespace {
class CShape : public CObject {
    DECLARE_DYNCREATE(CShape)
};
class CCircle : public CShape {
    DECLARE_DYNCREATE(CCircle)
};
IMPLEMENT_DYNCREATE(CShape, CObject)
IMPLEMENT_DYNCREATE(CCircle, CShape)
}  // namespace

TEST(RuntimeClassTest, KindTestsAndCreationByName) {
    const CRuntimeClass* cls = CRuntimeClass::FromName("CCircle");
    ASSERT_NE(cls, nullptr);
    std::unique_ptr<CObject> object(cls->CreateObject());
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CShape)));
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(CShape().IsKindOf(RUNTIME_CLASS(CCircle)));
    EXPECT_EQ(CRuntimeClass::FromName("ccircle"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName("CCmdTarget")->CreateObject(), nullptr);
}
