// Turns libFuzzer's bytes into the inputs of the text-only functions.
// Windows strings are UTF-16: every two bytes make one code unit from 0 to
// 0xFFFF, here too, where wchar_t has 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // The next byte; 0 once the input is used up.
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return value;
    }

    // The rest of the input as UTF-16LE units; an odd last byte is dropped.
    std::wstring RestAsText() {
        std::wstring text;
        for (; m_at + 1 < m_size; m_at += 2)
            text += static_cast<wchar_t>(m_data[m_at] | m_data[m_at + 1] << 8);
        m_at = m_size;
        return text;
    }

    // The rest split at U+0000, which no path or name can hold.
    std::vector<std::wstring> RestAsTexts() {
        std::vector<std::wstring> texts(1);
        for (wchar_t c : RestAsText()) {
            if (c == L'\0') texts.emplace_back();
            else texts.back() += c;
        }
        return texts;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// A broken property ends the run like a crash: libFuzzer keeps the input.
#define CHECK(condition)                                                                        \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

inline bool StartsWith(const std::wstring& s, const std::wstring& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

inline bool EndsWith(const std::wstring& s, const std::wstring& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
