// Bounds-checked little-endian access to byte buffers.
//
// Every wire, shared-memory and file layout of the system is read and written
// through these helpers, never by casting packed structures over buffers. An
// access that would leave the buffer does nothing: the fixed-offset functions
// return false (or the value 0 with ok = false), and the cursor classes latch a
// failure flag that the caller checks once at the end of a parse or build.
//
// Pure functions and value types: no locks, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace orv::bytes {

using ConstBytes = std::span<const std::uint8_t>;
using MutBytes = std::span<std::uint8_t>;

// True when [offset, offset + size) lies inside a buffer of `length` bytes,
// written so that the sum cannot overflow.
constexpr bool Fits(std::size_t length, std::size_t offset, std::size_t size) {
    return offset <= length && size <= length - offset;
}

template <typename T>
constexpr T LoadLE(const std::uint8_t* p) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(T(p[i]) << (8 * i));
    return v;
}

template <typename T>
constexpr void StoreLE(std::uint8_t* p, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Fixed-offset reads: false (and `out` untouched) when the field is outside.
template <typename T>
bool Get(ConstBytes buf, std::size_t offset, T& out) {
    if (!Fits(buf.size(), offset, sizeof(T))) return false;
    out = LoadLE<T>(buf.data() + offset);
    return true;
}

// Fixed-offset writes: false (and nothing written) when the field is outside.
template <typename T>
bool Put(MutBytes buf, std::size_t offset, T v) {
    if (!Fits(buf.size(), offset, sizeof(T))) return false;
    StoreLE<T>(buf.data() + offset, v);
    return true;
}

inline bool GetU8(ConstBytes b, std::size_t o, std::uint8_t& v) {
    return Get(b, o, v);
}
inline bool GetU16(ConstBytes b, std::size_t o, std::uint16_t& v) {
    return Get(b, o, v);
}
inline bool GetU32(ConstBytes b, std::size_t o, std::uint32_t& v) {
    return Get(b, o, v);
}
inline bool PutU8(MutBytes b, std::size_t o, std::uint8_t v) {
    return Put(b, o, v);
}
inline bool PutU16(MutBytes b, std::size_t o, std::uint16_t v) {
    return Put(b, o, v);
}
inline bool PutU32(MutBytes b, std::size_t o, std::uint32_t v) {
    return Put(b, o, v);
}

// Copies `src` to `offset`; false and nothing copied when it does not fit.
inline bool PutBytes(MutBytes buf, std::size_t offset, ConstBytes src) {
    if (!Fits(buf.size(), offset, src.size())) return false;
    if (!src.empty()) std::memmove(buf.data() + offset, src.data(), src.size());
    return true;
}

// Views `size` bytes at `offset`; an empty span when they are not all inside.
inline ConstBytes Slice(ConstBytes buf, std::size_t offset, std::size_t size) {
    if (!Fits(buf.size(), offset, size)) return {};
    return buf.subspan(offset, size);
}

inline ConstBytes AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Sequential reader. Reads past the end return 0 (or an empty span) and latch
// failed(); a parser reads all its fields and checks ok() once.
class ByteReader {
public:
    explicit ByteReader(ConstBytes buf) : buf_(buf) {}

    std::uint8_t U8() { return Next<std::uint8_t>(); }
    std::uint16_t U16() { return Next<std::uint16_t>(); }
    std::uint32_t U32() { return Next<std::uint32_t>(); }
    std::uint64_t U64() { return Next<std::uint64_t>(); }

    ConstBytes Bytes(std::size_t n) {
        if (!Fits(buf_.size(), pos_, n)) {
            failed_ = true;
            return {};
        }
        ConstBytes out = buf_.subspan(pos_, n);
        pos_ += n;
        return out;
    }
    void Skip(std::size_t n) { (void)Bytes(n); }
    void Seek(std::size_t pos) {
        if (pos > buf_.size())
            failed_ = true;
        else
            pos_ = pos;
    }

    std::size_t Pos() const { return pos_; }
    std::size_t Remaining() const { return buf_.size() - pos_; }
    bool Ok() const { return !failed_; }

private:
    template <typename T>
    T Next() {
        T v = 0;
        if (!Get(buf_, pos_, v)) {
            failed_ = true;
            return 0;
        }
        pos_ += sizeof(T);
        return v;
    }

    ConstBytes buf_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

// Sequential writer over a caller-owned buffer. Writes that do not fit write
// nothing and latch failed(); a builder checks ok() once at the end.
class ByteWriter {
public:
    explicit ByteWriter(MutBytes buf) : buf_(buf) {}

    void U8(std::uint8_t v) { Next(v); }
    void U16(std::uint16_t v) { Next(v); }
    void U32(std::uint32_t v) { Next(v); }
    void U64(std::uint64_t v) { Next(v); }

    void Bytes(ConstBytes src) {
        if (!PutBytes(buf_, pos_, src)) {
            failed_ = true;
            return;
        }
        pos_ += src.size();
    }
    void Fill(std::size_t n, std::uint8_t value) {
        if (!Fits(buf_.size(), pos_, n)) {
            failed_ = true;
            return;
        }
        std::memset(buf_.data() + pos_, value, n);
        pos_ += n;
    }
    void Seek(std::size_t pos) {
        if (pos > buf_.size())
            failed_ = true;
        else
            pos_ = pos;
    }

    std::size_t Pos() const { return pos_; }
    std::size_t Remaining() const { return buf_.size() - pos_; }
    bool Ok() const { return !failed_; }

private:
    template <typename T>
    void Next(T v) {
        if (!Put(buf_, pos_, v)) {
            failed_ = true;
            return;
        }
        pos_ += sizeof(T);
    }

    MutBytes buf_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace orv::bytes
