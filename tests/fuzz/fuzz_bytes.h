// Reading a fuzzer's input front to back, and stopping loudly on a broken rule.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Aborts so that libFuzzer saves the input; says which rule broke.
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond);        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

class FuzzBytes {
public:
    FuzzBytes(const uint8_t* data, std::size_t size) : p_(data), n_(size) {}
    bool Empty() const { return n_ == 0; }
    // The next sizeof(T) bytes as a T; missing bytes read as zero.
    template <class T>
    T Take()
    {
        unsigned char raw[sizeof(T)] = {};
        const std::size_t k = std::min(sizeof(T), n_);
        if (k) std::memcpy(raw, p_, k);
        p_ += k;
        n_ -= k;
        T v;
        std::memcpy(&v, raw, sizeof(T));
        return v;
    }
    // Up to max bytes, as many as a length byte asks for.
    const char* Chunk(std::size_t max, std::size_t& len)
    {
        len = std::min<std::size_t>({Take<uint8_t>(), max, n_});
        const char* s = reinterpret_cast<const char*>(p_);
        p_ += len;
        n_ -= len;
        return s;
    }

private:
    const uint8_t* p_;
    std::size_t n_;
};
