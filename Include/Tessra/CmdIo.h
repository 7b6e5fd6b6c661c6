// Field transfer helpers for record classes.
//
// A record lists its fields once, in wire order, in a template member
//     template <class S> void Fields(S& s) { Xfer(s, Result); Xfer(s, Name); }
// and its Read and Write both call it, so the two can never disagree.
// Integers travel little-endian whatever the host order.
#pragma once

#include <cstdint>
#include <cstring>

#include "Tessra/CmdCore.h"

namespace tessra {

template <class T>
inline void XferInt(CCmdWriter& w, T& value) {
    uint8_t bytes[sizeof(T)];
    uint64_t v = static_cast<uint64_t>(value);
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    w.Write(bytes, static_cast<int32_t>(sizeof(T)));
}

template <class T>
inline void XferInt(CCmdReader& r, T& value) {
    uint8_t bytes[sizeof(T)];
    if (r.Read(bytes, static_cast<int32_t>(sizeof(T))) != 0) return;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    value = static_cast<T>(v);
}

}  // namespace tessra

inline void Xfer(CCmdWriter& w, uint8_t& v) { tessra::XferInt(w, v); }
inline void Xfer(CCmdWriter& w, uint16_t& v) { tessra::XferInt(w, v); }
inline void Xfer(CCmdWriter& w, uint32_t& v) { tessra::XferInt(w, v); }
inline void Xfer(CCmdWriter& w, int32_t& v) { tessra::XferInt(w, v); }
inline void Xfer(CCmdWriter& w, uint64_t& v) { tessra::XferInt(w, v); }
inline void Xfer(CCmdReader& r, uint8_t& v) { tessra::XferInt(r, v); }
inline void Xfer(CCmdReader& r, uint16_t& v) { tessra::XferInt(r, v); }
inline void Xfer(CCmdReader& r, uint32_t& v) { tessra::XferInt(r, v); }
inline void Xfer(CCmdReader& r, int32_t& v) { tessra::XferInt(r, v); }
inline void Xfer(CCmdReader& r, uint64_t& v) { tessra::XferInt(r, v); }

inline void Xfer(CCmdWriter& w, CCmdString& s) { s.Write(w); }
inline void Xfer(CCmdReader& r, CCmdString& s) { s.Read(r); }
inline void Xfer(CCmdWriter& w, CCmdBuffer& b) { b.Write(w); }
inline void Xfer(CCmdReader& r, CCmdBuffer& b) { b.Read(r); }
inline void Xfer(CCmdWriter& w, CCmdCore& rec) { w.Write(&rec); }
inline void Xfer(CCmdReader& r, CCmdCore& rec) { r.Read(&rec); }

// bytes[N]: N raw bytes.
template <size_t N>
inline void Xfer(CCmdWriter& w, uint8_t (&bytes)[N]) { w.Write(bytes, static_cast<int32_t>(N)); }
template <size_t N>
inline void Xfer(CCmdReader& r, uint8_t (&bytes)[N]) { r.Read(bytes, static_cast<int32_t>(N)); }

// Declares Read and Write of a record class through its Fields template.
#define TESSRA_FIELD_IO                                                  \
    void Read(CCmdReader& reader) override { Fields(reader); }          \
    void Write(CCmdWriter& writer) override { Fields(writer); }
