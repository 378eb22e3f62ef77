// A binary archive that value types serialise into and out of: little-endian fixed-size
// numbers in one byte buffer. Reading past the end never crashes: the archive turns bad,
// the value reads as zero, and the caller asks IsGood() once at the end.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Types.h"

class CArchive {
public:
    enum Mode { store = 0, load = 1 };

    // An empty archive to store into.
    CArchive() : m_mode(store) {}
    // An archive that loads the given bytes.
    explicit CArchive(std::vector<BYTE> bytes) : m_mode(load), m_bytes(std::move(bytes)) {}

    BOOL IsStoring() const { return m_mode == store; }
    BOOL IsLoading() const { return m_mode == load; }
    // False once a read ran past the end or a reader found data it cannot take.
    bool IsGood() const { return m_good; }
    void SetBad() { m_good = false; }
    const std::vector<BYTE>& Bytes() const { return m_bytes; }
    // Bytes not read yet.
    size_t Remaining() const { return m_bytes.size() - m_read; }

    CArchive& operator<<(BYTE v) { return Put(v); }
    CArchive& operator<<(std::int32_t v) { return Put(v); }
    CArchive& operator<<(std::uint32_t v) { return Put(v); }
    CArchive& operator<<(double v) { return Put(v); }
    CArchive& operator<<(const std::string& v);

    CArchive& operator>>(BYTE& v) { return Get(v); }
    CArchive& operator>>(std::int32_t& v) { return Get(v); }
    CArchive& operator>>(std::uint32_t& v) { return Get(v); }
    CArchive& operator>>(double& v) { return Get(v); }
    CArchive& operator>>(std::string& v);

private:
    template <typename T>
    CArchive& Put(T v) {
        static_assert(sizeof(T) <= 8);
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T));
        // Stored little-endian whatever the host.
        if constexpr (std::endian::native == std::endian::big) {
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(raw[i], raw[sizeof(T) - 1 - i]);
        }
        m_bytes.insert(m_bytes.end(), raw, raw + sizeof(T));
        return *this;
    }
    template <typename T>
    CArchive& Get(T& v) {
        v = T{};
        if (!m_good || Remaining() < sizeof(T)) {
            m_good = false;
            return *this;
        }
        unsigned char raw[sizeof(T)];
        std::memcpy(raw, m_bytes.data() + m_read, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            for (size_t i = 0; i < sizeof(T) / 2; ++i)
                std::swap(raw[i], raw[sizeof(T) - 1 - i]);
        }
        std::memcpy(&v, raw, sizeof(T));
        m_read += sizeof(T);
        return *this;
    }

    Mode m_mode;
    std::vector<BYTE> m_bytes;
    size_t m_read = 0;
    bool m_good = true;
};
