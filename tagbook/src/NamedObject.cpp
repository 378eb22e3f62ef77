#include "tagbook/NamedObject.h"

BOOL CNamedObject::SetName(const std::string& name) {
    if (IsNameValid(name) == 0) {
        return FALSE;
    }
    const std::string previous = m_sName;
    if (!m_sName.empty()) {
        if (!m_pOldName) {
            m_pOldName = std::make_unique<std::string>();
        }
        *m_pOldName = m_sName;
    }
    m_sName = name;
    PostRename(previous);
    return TRUE;
}

BOOL CNamedObject::IsNameValid(const std::string& /*name*/) {
    return TRUE;
}

void CNamedObject::PostRename(const std::string& /*previous*/) {}
