// An object with a name that may be vetoed, and that remembers its previous name.
#pragma once

#include <memory>
#include <string>

#include "platform/Types.h"

class CNamedObject {
public:
    CNamedObject() = default;
    virtual ~CNamedObject() = default;

    // 0 when IsNameValid refuses the name; otherwise the current name (when not empty)
    // becomes the old name, the name is replaced and PostRename hears the previous one.
    virtual BOOL SetName(const std::string& name);
    virtual BOOL IsNameValid(const std::string& name);
    virtual void PostRename(const std::string& previous);

    const std::string& GetName() const { return m_sName; }
    std::string GetOldName() const { return m_pOldName ? *m_pOldName : std::string(); }

private:
    std::string m_sName;
    std::unique_ptr<std::string> m_pOldName;  // made on the first rename
};
