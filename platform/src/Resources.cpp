#include "platform/Resources.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {
struct Module {
    std::string name;
    std::map<UINT, std::string> strings;
    std::map<UINT, std::vector<MenuEntry>> menus;
    std::map<UINT, std::vector<BYTE>> icons;
    std::map<std::pair<std::string, UINT>, std::string> raw;
};

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
std::vector<Module>& Chain() {
    static std::vector<Module> chain;
    return chain;
}

Module& FindOrAdd(const std::string& name, bool first) {
    auto& chain = Chain();
    auto it =
        std::find_if(chain.begin(), chain.end(), [&](const Module& m) { return m.name == name; });
    if (it != chain.end()) {
        return *it;
    }
    Module module;
    module.name = name;
    if (first) {
        chain.insert(chain.begin(), std::move(module));
        return chain.front();
    }
    chain.push_back(std::move(module));
    return chain.back();
}

template <class Map, class Key>
auto Lookup(Map Module::*member, const Key& key) -> std::optional<typename Map::mapped_type> {
    std::lock_guard lock(Mutex());
    for (const Module& module : Chain()) {
        const Map& map = module.*member;
        if (auto it = map.find(key); it != map.end()) {
            return it->second;
        }
    }
    return std::nullopt;
}
}  // namespace

namespace platform {
void AddResourceModule(const std::string& module, bool first) {
    std::lock_guard lock(Mutex());
    auto& chain = Chain();
    auto it =
        std::find_if(chain.begin(), chain.end(), [&](const Module& m) { return m.name == module; });
    if (it != chain.end()) {
        if (first && it != chain.begin()) {
            Module moved = std::move(*it);
            chain.erase(it);
            chain.insert(chain.begin(), std::move(moved));
        }
        return;
    }
    FindOrAdd(module, first);
}

void RegisterString(const std::string& module, UINT id, std::string text) {
    std::lock_guard lock(Mutex());
    FindOrAdd(module, false).strings[id] = std::move(text);
}

void RegisterMenu(const std::string& module, UINT id, std::vector<MenuEntry> menu) {
    std::lock_guard lock(Mutex());
    FindOrAdd(module, false).menus[id] = std::move(menu);
}

void RegisterIcon(const std::string& module, UINT id, std::vector<BYTE> image) {
    std::lock_guard lock(Mutex());
    FindOrAdd(module, false).icons[id] = std::move(image);
}

void RegisterResource(const std::string& module, const std::string& type, UINT id,
                      std::string data) {
    std::lock_guard lock(Mutex());
    FindOrAdd(module, false).raw[{type, id}] = std::move(data);
}

std::optional<std::string> FindString(UINT id) {
    return Lookup(&Module::strings, id);
}
std::optional<std::vector<MenuEntry>> FindMenu(UINT id) {
    return Lookup(&Module::menus, id);
}
std::optional<std::vector<BYTE>> FindIcon(UINT id) {
    return Lookup(&Module::icons, id);
}
std::optional<std::string> FindResource(const std::string& type, UINT id) {
    return Lookup(&Module::raw, std::make_pair(type, id));
}

std::vector<std::string> ResourceModules() {
    std::lock_guard lock(Mutex());
    std::vector<std::string> names;
    for (const Module& m : Chain()) {
        names.push_back(m.name);
    }
    return names;
}
}  // namespace platform

BOOL LoadString(UINT id, std::string& text) {
    if (auto s = platform::FindString(id)) {
        text = *s;
        return TRUE;
    }
    return FALSE;
}

std::string LoadStringOrEmpty(UINT id) {
    return platform::FindString(id).value_or(std::string());
}

// CMenu

BOOL CMenu::LoadMenu(UINT id) {
    auto menu = platform::FindMenu(id);
    if (!menu) {
        return FALSE;
    }
    m_items = std::move(*menu);
    m_loaded = true;
    BuildSubMenus();
    return TRUE;
}

void CMenu::BuildSubMenus() {
    m_subMenus.clear();
    m_subMenus.reserve(m_items.size());
    for (const MenuEntry& entry : m_items) {
        CMenu sub;
        if (entry.kind == MenuEntry::Kind::Popup) {
            sub.m_items = entry.items;
            sub.m_loaded = true;
            sub.BuildSubMenus();
        }
        m_subMenus.push_back(std::move(sub));
    }
}

UINT CMenu::GetMenuItemID(int position) const {
    if (position < 0 || position >= GetMenuItemCount()) {
        return static_cast<UINT>(-1);
    }
    const MenuEntry& e = m_items[static_cast<std::size_t>(position)];
    switch (e.kind) {
        case MenuEntry::Kind::Separator:
            return 0;
        case MenuEntry::Kind::Popup:
            return static_cast<UINT>(-1);
        case MenuEntry::Kind::Item:
            break;
    }
    return e.id;
}

int CMenu::GetMenuString(UINT item, std::string& text, UINT flags) const {
    text.clear();
    if ((flags & MF_BYPOSITION) != 0) {
        if (item >= m_items.size()) {
            return 0;
        }
        text = m_items[item].text;
        return static_cast<int>(text.size());
    }
    for (const MenuEntry& e : m_items) {
        if (e.kind == MenuEntry::Kind::Item && e.id == item) {
            text = e.text;
            return static_cast<int>(text.size());
        }
    }
    for (const CMenu& sub : m_subMenus) {
        if (sub.GetMenuString(item, text, flags) > 0) {
            return static_cast<int>(text.size());
        }
    }
    return 0;
}

CMenu* CMenu::GetSubMenu(int position) {
    if (position < 0 || position >= GetMenuItemCount() ||
        m_items[static_cast<std::size_t>(position)].kind != MenuEntry::Kind::Popup) {
        return nullptr;
    }
    return &m_subMenus[static_cast<std::size_t>(position)];
}
