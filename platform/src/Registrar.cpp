#include "platform/Registrar.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/Registry.h"
#include "platform/Resources.h"

namespace {
struct Token {
    std::string text;
    bool quoted;
};

bool Tokenise(const std::string& script, std::vector<Token>& tokens) {
    std::size_t i = 0;
    while (i < script.size()) {
        const char c = script[i];
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++i;
            continue;
        }
        if (c == '\'') {
            std::string text;
            ++i;
            for (;;) {
                if (i >= script.size()) {
                    return false;  // unterminated quote
                }
                if (script[i] == '\'') {
                    if (i + 1 < script.size() && script[i + 1] == '\'') {
                        text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += script[i++];
            }
            tokens.push_back({text, true});
            continue;
        }
        std::string text;
        while (i < script.size() && std::isspace(static_cast<unsigned char>(script[i])) == 0) {
            text += script[i++];
        }
        tokens.push_back({text, false});
    }
    return true;
}

bool Is(const Token& t, const char* word) {
    if (t.quoted) {
        return false;
    }
    const std::string w(word);
    if (t.text.size() != w.size()) {
        return false;
    }
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(t.text[i])) !=
            std::tolower(static_cast<unsigned char>(w[i]))) {
            return false;
        }
    }
    return true;
}

struct Value {
    char type = 0;  // 's', 'd' or 'b'
    std::string text;
};

struct KeyNode {
    enum class Mode { Normal, NoRemove, ForceRemove, Delete };
    Mode mode = Mode::Normal;
    std::string name;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<std::pair<std::string, Value>> values;
    std::vector<KeyNode> children;
};

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    bool ParseScript(std::vector<std::pair<HKEY, std::vector<KeyNode>>>& roots) {
        while (m_pos < m_tokens.size()) {
            HKEY root = RootKey(m_tokens[m_pos++]);
            if (root == nullptr || !Expect("{")) {
                return false;
            }
            std::vector<KeyNode> keys;
            if (!ParseKeys(keys)) {
                return false;
            }
            roots.emplace_back(root, std::move(keys));
        }
        return true;
    }

private:
    static HKEY RootKey(const Token& t) {
        if (Is(t, "HKCR") || Is(t, "HKEY_CLASSES_ROOT")) {
            return HKEY_CLASSES_ROOT;
        }
        if (Is(t, "HKCU") || Is(t, "HKEY_CURRENT_USER")) {
            return HKEY_CURRENT_USER;
        }
        if (Is(t, "HKLM") || Is(t, "HKEY_LOCAL_MACHINE")) {
            return HKEY_LOCAL_MACHINE;
        }
        return nullptr;
    }

    bool Expect(const char* word) {
        if (m_pos >= m_tokens.size() || m_tokens[m_pos].quoted || m_tokens[m_pos].text != word) {
            return false;
        }
        ++m_pos;
        return true;
    }

    bool Peek(const char* word) const {
        return m_pos < m_tokens.size() && !m_tokens[m_pos].quoted && m_tokens[m_pos].text == word;
    }

    bool ParseValue(Value& value) {
        if (m_pos + 1 >= m_tokens.size()) {
            return false;
        }
        const Token& type = m_tokens[m_pos++];
        if (Is(type, "s")) {
            value.type = 's';
        } else if (Is(type, "d")) {
            value.type = 'd';
        } else if (Is(type, "b")) {
            value.type = 'b';
        } else {
            return false;
        }
        value.text = m_tokens[m_pos++].text;
        return true;
    }

    // Reads keys up to and including the closing brace.
    bool ParseKeys(std::vector<KeyNode>& keys) {
        while (m_pos < m_tokens.size()) {
            if (Expect("}")) {
                return true;
            }
            if (Is(m_tokens[m_pos], "val")) {
                return false;  // a value needs a key to live in
            }
            KeyNode node;
            if (!ParseKey(node)) {
                return false;
            }
            keys.push_back(std::move(node));
        }
        return false;
    }

    bool ParseKey(KeyNode& node) {
        const Token& first = m_tokens[m_pos];
        if (Is(first, "NoRemove")) {
            node.mode = KeyNode::Mode::NoRemove;
            ++m_pos;
        } else if (Is(first, "ForceRemove")) {
            node.mode = KeyNode::Mode::ForceRemove;
            ++m_pos;
        } else if (Is(first, "Delete")) {
            node.mode = KeyNode::Mode::Delete;
            ++m_pos;
        }
        if (m_pos >= m_tokens.size() ||
            (!m_tokens[m_pos].quoted &&
             (m_tokens[m_pos].text == "{" || m_tokens[m_pos].text == "}" ||
              m_tokens[m_pos].text == "="))) {
            return false;
        }
        node.name = m_tokens[m_pos++].text;
        if (Expect("=")) {
            node.hasDefault = true;
            if (!ParseValue(node.defaultValue)) {
                return false;
            }
        }
        if (!Expect("{")) {
            return true;
        }
        while (m_pos < m_tokens.size()) {
            if (Expect("}")) {
                return true;
            }
            if (Is(m_tokens[m_pos], "val")) {
                ++m_pos;
                if (m_pos >= m_tokens.size()) {
                    return false;
                }
                std::string name = m_tokens[m_pos++].text;
                Value value;
                if (!Expect("=") || !ParseValue(value)) {
                    return false;
                }
                node.values.emplace_back(std::move(name), std::move(value));
                continue;
            }
            KeyNode child;
            if (!ParseKey(child)) {
                return false;
            }
            node.children.push_back(std::move(child));
        }
        return false;
    }

    std::vector<Token> m_tokens;
    std::size_t m_pos = 0;
};

LONG SetValue(HKEY key, const std::string& name, const Value& value) {
    switch (value.type) {
        case 's':
            return RegSetValueEx(key, name.c_str(), REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.text.c_str()),
                                 static_cast<DWORD>(value.text.size() + 1));
        case 'd': {
            DWORD v = static_cast<DWORD>(std::stoul(value.text, nullptr, 0));
            return RegSetValueEx(key, name.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                                 sizeof(v));
        }
        case 'b': {
            std::vector<BYTE> bytes;
            for (std::size_t i = 0; i + 1 < value.text.size(); i += 2) {
                bytes.push_back(
                    static_cast<BYTE>(std::stoul(value.text.substr(i, 2), nullptr, 16)));
            }
            return RegSetValueEx(key, name.c_str(), REG_BINARY, bytes.data(),
                                 static_cast<DWORD>(bytes.size()));
        }
        default:
            return ERROR_INVALID_PARAMETER;
    }
}

bool Register(HKEY parent, const KeyNode& node) {
    if (node.mode == KeyNode::Mode::Delete) {
        RegDeleteTree(parent, node.name.c_str());
        return true;
    }
    if (node.mode == KeyNode::Mode::ForceRemove) {
        RegDeleteTree(parent, node.name.c_str());
    }
    CRegKey key;
    if (key.Create(parent, node.name) != ERROR_SUCCESS) {
        return false;
    }
    if (node.hasDefault && SetValue(key.Handle(), "", node.defaultValue) != ERROR_SUCCESS) {
        return false;
    }
    for (const auto& [name, value] : node.values) {
        if (SetValue(key.Handle(), name, value) != ERROR_SUCCESS) {
            return false;
        }
    }
    for (const KeyNode& child : node.children) {
        if (!Register(key.Handle(), child)) {
            return false;
        }
    }
    return true;
}

void Unregister(HKEY parent, const KeyNode& node) {
    if (node.mode == KeyNode::Mode::ForceRemove) {
        RegDeleteTree(parent, node.name.c_str());
        return;
    }
    {
        CRegKey key;
        if (key.Open(parent, node.name) != ERROR_SUCCESS) {
            return;
        }
        for (const auto& entry : node.values) {
            key.DeleteValue(entry.first);
        }
        for (const KeyNode& child : node.children) {
            Unregister(key.Handle(), child);
        }
    }
    if (node.mode != KeyNode::Mode::NoRemove) {
        // Goes only when nothing that others put there is left below it.
        RegDeleteKey(parent, node.name.c_str());
    }
}

std::string Substitute(const std::string& script,
                       const std::map<std::string, std::string>& replacements) {
    std::string out;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] != '%') {
            out += script[i];
            continue;
        }
        const std::size_t end = script.find('%', i + 1);
        if (end == std::string::npos) {
            out += script.substr(i);
            break;
        }
        const std::string name = script.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += '%';
        } else if (auto it = replacements.find(name); it != replacements.end()) {
            out += it->second;
        } else {
            out += script.substr(i, end - i + 1);
        }
        i = end;
    }
    return out;
}

struct TypeLibInfo {
    std::string libid;
    std::string version;
    std::string name;
};

bool ReadTypeLib(const std::string& path, TypeLibInfo& info) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line.rfind("TAVIMO-TYPELIB 1", 0) != 0) {
        return false;
    }
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        std::string rest;
        std::getline(fields >> std::ws, rest);
        if (key == "libid") {
            info.libid = rest;
        } else if (key == "version") {
            info.version = rest;
        } else if (key == "name") {
            info.name = rest;
        }
    }
    return GUID::Parse(info.libid).has_value() && !info.version.empty();
}
}  // namespace

namespace platform {
HRESULT RunRegistryScript(const std::string& script, bool registering,
                          const std::map<std::string, std::string>& replacements) {
    std::vector<Token> tokens;
    if (!Tokenise(Substitute(script, replacements), tokens)) {
        return E_FAIL;
    }
    std::vector<std::pair<HKEY, std::vector<KeyNode>>> roots;
    if (!Parser(std::move(tokens)).ParseScript(roots)) {
        return E_FAIL;
    }
    for (const auto& [root, keys] : roots) {
        for (const KeyNode& key : keys) {
            if (registering) {
                if (!Register(root, key)) {
                    return E_FAIL;
                }
            } else {
                Unregister(root, key);
            }
        }
    }
    return S_OK;
}

HRESULT UpdateRegistryFromResource(UINT id, bool registering,
                                   const std::map<std::string, std::string>& replacements) {
    auto script = FindResource("REGISTRY", id);
    if (!script) {
        return E_FAIL;
    }
    return RunRegistryScript(*script, registering, replacements);
}

HRESULT RegisterTypeLib(const std::string& path) {
    TypeLibInfo info;
    if (!ReadTypeLib(path, info)) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    CRegKey key;
    if (key.Create(HKEY_CLASSES_ROOT, "TypeLib\\" + info.libid + "\\" + info.version) !=
            ERROR_SUCCESS ||
        key.SetString("", info.name) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    CRegKey win;
    CRegKey flags;
    CRegKey helpDir;
    const std::string dir = std::filesystem::path(path).parent_path().string();
    if (win.Create(key.Handle(), "0\\linux") != ERROR_SUCCESS ||
        win.SetString("", path) != ERROR_SUCCESS ||
        flags.Create(key.Handle(), "FLAGS") != ERROR_SUCCESS ||
        flags.SetString("", "0") != ERROR_SUCCESS ||
        helpDir.Create(key.Handle(), "HELPDIR") != ERROR_SUCCESS ||
        helpDir.SetString("", dir) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    return S_OK;
}

HRESULT UnRegisterTypeLib(const std::string& path) {
    TypeLibInfo info;
    if (!ReadTypeLib(path, info)) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    const std::string libKey = "TypeLib\\" + info.libid;
    RegDeleteTree(HKEY_CLASSES_ROOT, (libKey + "\\" + info.version).c_str());
    RegDeleteKey(HKEY_CLASSES_ROOT, libKey.c_str());  // only when no other version is left
    return S_OK;
}
}  // namespace platform
