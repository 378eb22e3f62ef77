// Resources by numeric id: string tables, menus, icons and raw resources (such as the
// registry scripts), registered per module. Look-ups walk the modules in chain order,
// the executable first, as the framework's resource chain does.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

// One entry of a menu: an item with a command id, a separator, or a pop-up with items.
struct MenuEntry {
    enum class Kind { Item, Separator, Popup };
    Kind kind = Kind::Item;
    UINT id = 0;
    std::string text;
    std::vector<MenuEntry> items;  // pop-ups only

    static MenuEntry Item(UINT id, std::string text) {
        return {Kind::Item, id, std::move(text), {}};
    }
    static MenuEntry Separator() { return {Kind::Separator, 0, {}, {}}; }
    static MenuEntry Popup(std::string text, std::vector<MenuEntry> items) {
        return {Kind::Popup, 0, std::move(text), std::move(items)};
    }
};

constexpr UINT MF_BYCOMMAND = 0x0;
constexpr UINT MF_BYPOSITION = 0x400;

// A loaded menu, walked by position as the framework's menu object is.
class CMenu {
public:
    CMenu() = default;
    // A menu made from entries is complete at once, pop-ups and all, as a loaded one is.
    explicit CMenu(std::vector<MenuEntry> items) : m_loaded(true), m_items(std::move(items)) {
        BuildSubMenus();
    }
    BOOL LoadMenu(UINT id);
    bool IsLoaded() const { return m_loaded; }
    int GetMenuItemCount() const { return static_cast<int>(m_items.size()); }
    // The command id; 0 for a separator, (UINT)-1 for a pop-up or a position out of range.
    UINT GetMenuItemID(int position) const;
    // Text of the entry at a position (MF_BYPOSITION) or with a command id (MF_BYCOMMAND).
    int GetMenuString(UINT item, std::string& text, UINT flags) const;
    // The pop-up at a position, or null.
    CMenu* GetSubMenu(int position);
    const std::vector<MenuEntry>& Entries() const { return m_items; }

private:
    bool m_loaded = false;
    std::vector<MenuEntry> m_items;
    std::vector<CMenu> m_subMenus;  // built with the items
    void BuildSubMenus();
};

namespace platform {
// Adds a module to the resource chain (the executable goes first, libraries after).
void AddResourceModule(const std::string& module, bool first = false);
void RegisterString(const std::string& module, UINT id, std::string text);
void RegisterMenu(const std::string& module, UINT id, std::vector<MenuEntry> menu);
// An icon: the path of an image file or image bytes (PNG), by id.
void RegisterIcon(const std::string& module, UINT id, std::vector<BYTE> image);
// A raw resource of a named type ("REGISTRY" for registrar scripts).
void RegisterResource(const std::string& module, const std::string& type, UINT id,
                      std::string data);

std::optional<std::string> FindString(UINT id);
std::optional<std::vector<MenuEntry>> FindMenu(UINT id);
std::optional<std::vector<BYTE>> FindIcon(UINT id);
std::optional<std::string> FindResource(const std::string& type, UINT id);
std::vector<std::string> ResourceModules();
}  // namespace platform

// The framework's string loader: true and the text when some module has the id.
BOOL LoadString(UINT id, std::string& text);
std::string LoadStringOrEmpty(UINT id);
