// FuzzInput.h - reads typed values from the bytes of one fuzz input.
//
// Every read takes bytes from the front and never fails: once the input is
// used up, reads give zeros and empty strings, so a target's shape does not
// depend on how long its input is.  Small integers drawn from a table let the
// fuzzer reach the values that matter (sizes at a boundary, a folder name)
// without guessing them byte by byte.
#ifndef VYX_FUZZ_INPUT_H
#define VYX_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vyxfuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}

    bool Empty() const { return m_left == 0; }

    template <typename T>
    T Take()
    {
        T value{};
        const size_t n = m_left < sizeof(T) ? m_left : sizeof(T);
        if (n > 0) {
            std::memcpy(&value, m_p, n);
            m_p += n;
            m_left -= n;
        }
        return value;
    }

    bool Bool() { return (Take<uint8_t>() & 1) != 0; }

    // An integer in [lo, hi] (hi >= lo), from as few bytes as the span needs.
    int64_t Range(int64_t lo, int64_t hi)
    {
        const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;   // 0: all 2^64 values
        uint64_t raw = 0;
        if (span != 0 && span <= 0x100u) raw = Take<uint8_t>();
        else if (span != 0 && span <= 0x10000u) raw = Take<uint16_t>();
        else if (span != 0 && span <= 0x100000000u) raw = Take<uint32_t>();
        else raw = Take<uint64_t>();
        return span == 0 ? lo + static_cast<int64_t>(raw) : lo + static_cast<int64_t>(raw % span);
    }

    // One of the n entries of a table.
    template <typename T, size_t N>
    const T& Pick(const T (&table)[N])
    {
        return table[static_cast<size_t>(Range(0, static_cast<int64_t>(N) - 1))];
    }

    // Up to maxLength bytes, as many as a length byte asks for.
    std::string Bytes(size_t maxLength)
    {
        size_t n = static_cast<size_t>(Range(0, static_cast<int64_t>(maxLength)));
        if (n > m_left) n = m_left;
        std::string s(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        m_left -= n;
        return s;
    }

private:
    const uint8_t* m_p;
    size_t m_left;
};

}  // namespace vyxfuzz

#endif
