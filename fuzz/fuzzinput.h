// How the fuzz targets read their input: small values and texts taken from the front of the bytes,
// zeros once the bytes run out, so that every input means something and a short one means little.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

class TFuzzInput {
public:
    TFuzzInput(const uint8_t* data, size_t size) : FData(data), FSize(size) {}

    bool Empty() const { return FPos >= FSize; }

    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    bool Bit() { return (Byte() & 1) != 0; }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Byte() % n; }  // for n up to 256
    uint16_t Word() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }
    int32_t Int32() { return static_cast<int32_t>(static_cast<uint32_t>(Word()) | static_cast<uint32_t>(Word()) << 16); }
    double Double() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(Byte()) << (8 * i);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // A length byte, then up to that many bytes.
    std::string Text() {
        const size_t n = std::min<size_t>(Byte(), FSize - std::min(FPos, FSize));
        std::string text(reinterpret_cast<const char*>(FData + FPos), n);
        FPos += n;
        return text;
    }

    std::string_view Rest() {
        const size_t at = std::min(FPos, FSize);
        FPos = FSize;
        return std::string_view(reinterpret_cast<const char*>(FData + at), FSize - at);
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

// A property of the target that does not hold: reported like a crash, so the fuzzer keeps the input
// and the corpus replay fails.
[[noreturn]] inline void FuzzFailure(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, what) \
    do {                            \
        if (!(condition)) FuzzFailure(what); \
    } while (0)
