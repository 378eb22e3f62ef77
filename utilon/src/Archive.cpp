#include "utilon/Archive.h"

CArchive& CArchive::operator<<(const std::string& v) {
    *this << static_cast<std::uint32_t>(v.size());
    m_bytes.insert(m_bytes.end(), v.begin(), v.end());
    return *this;
}

CArchive& CArchive::operator>>(std::string& v) {
    v.clear();
    std::uint32_t size = 0;
    *this >> size;
    // A length beyond what is left is a damaged archive, not an allocation to attempt.
    if (!m_good || size > Remaining()) {
        m_good = false;
        return *this;
    }
    v.assign(reinterpret_cast<const char*>(m_bytes.data() + m_read), size);
    m_read += size;
    return *this;
}
