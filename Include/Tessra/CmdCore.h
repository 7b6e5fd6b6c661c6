// The command record library: bases of every command record, the UTF-16
// string and byte-buffer members, and the two stream bases.
//
// Wire forms chosen by this library (all integers little-endian):
//   - the CCmdCore base part puts nothing on the wire and reads nothing;
//   - a wstring member is u32 byte length, then that many bytes of UTF-16.
//     Assigning a zero-terminated text stores it with its terminator, so the
//     length counts the terminating zero ("AB" -> 6); a cleared string has
//     length 0 and sends only the length;
//   - a buffer member is u32 byte length, then the bytes;
//   - a member of length 0 never passes a size of 0 to the raw Write.
// The plain base record (CCmdBase itself, no fields of its own) writes
// nothing; when it is read as a response it takes an optional u32 that the
// device may send, its base value (GetValue), which starts at the
// constructor's argument.
//
// Readers keep the first error they meet and then refuse every further read:
// reading past the end of the data sets kTessraShortRead, an allocation that
// fails sets 0xa00d0024.
#pragma once

#include <cstdint>
#include <cstddef>
#include <vector>

#include "vantro/vantro_types.h"

class CCmdReader;
class CCmdWriter;

constexpr uint32_t kTessraShortRead = 0x900d0030u;  // response shorter than its record
constexpr uint32_t kTessraOutOfMemory = 0xa00d0024u;
constexpr uint32_t kTessraInvalidParameter = 0x900d0028u;

class CCmdCore {
public:
    virtual ~CCmdCore();
    virtual void Read(CCmdReader& reader);
    virtual void Write(CCmdWriter& writer);

protected:
    CCmdCore(uint16_t kind, uint16_t flags);
    CCmdCore(const CCmdCore&) = default;
    CCmdCore& operator=(const CCmdCore&) = default;

    // The base part, as lists write and read it (empty on the wire).
    void WriteBasePart(CCmdWriter& writer);
    void ReadBasePart(CCmdReader& reader);

    uint16_t m_wKind;
    uint16_t m_wFlags;
};

class CCmdBase : public CCmdCore {
public:
    explicit CCmdBase(uint32_t value);
    ~CCmdBase() override;
    void Read(CCmdReader& reader) override;
    void Write(CCmdWriter& writer) override;
    virtual void Clear();

    // The base value: the constructor's argument, or the u32 the device sent
    // after the header when the plain base record was read as a response.
    uint32_t GetValue() const { return m_dwValue; }

protected:
    uint32_t m_dwValue;
};

// UTF-16 text member.
class CCmdString {
public:
    CCmdString();
    CCmdString(const CCmdString& other);
    virtual ~CCmdString();
    virtual void Read(CCmdReader& reader);
    virtual void Write(CCmdWriter& writer);
    virtual void RemoveAll();

    CCmdString& operator=(const VWCHAR* text);  // null empties the string
    CCmdString& operator=(const CCmdString& other);

    // The UTF-16 units with a terminator after them (null when empty).
    const VWCHAR* GetData() const;
    // Byte length as held (counts the stored terminator).
    uint32_t GetLength() const { return static_cast<uint32_t>(m_bytes.size()); }
    const uint8_t* GetBytes() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
    // Stores raw bytes as the string (no terminator added).
    bool SetBytes(const void* data, uint32_t length);

private:
    std::vector<uint8_t> m_bytes;
    mutable std::vector<VWCHAR> m_text;
};

// Byte-buffer member.
class CCmdBuffer {
public:
    CCmdBuffer();
    CCmdBuffer(const CCmdBuffer& other);
    virtual ~CCmdBuffer();
    virtual void Read(CCmdReader& reader);
    virtual void Write(CCmdWriter& writer);
    virtual void RemoveAll();

    // Copies length bytes in; 0 on success, 0xa00d0024 when the memory
    // cannot be had (the buffer is then empty).
    uint32_t SetAt(const uint8_t* data, uint32_t length);
    CCmdBuffer& operator=(const CCmdBuffer& other);

    const uint8_t* GetData() const { return m_bytes.empty() ? nullptr : m_bytes.data(); }
    uint32_t GetLength() const { return static_cast<uint32_t>(m_bytes.size()); }

private:
    std::vector<uint8_t> m_bytes;
};

class CCmdWriter {
public:
    CCmdWriter();
    virtual ~CCmdWriter();
    // Appends raw bytes; 0 or the error, which is also the last error.
    virtual uint32_t Write(const void* data, int32_t size) = 0;
    // Has the record write itself; a null record sets 0x900d0028.
    virtual void Write(CCmdCore* record);

    uint32_t GetLastError() const { return m_dwLastError; }
    void SetLastError(uint32_t error) { m_dwLastError = error; }

protected:
    uint32_t m_dwLastError;
    uint8_t* m_pPosition;
    uint8_t* m_pStart;
    uint32_t m_dwCapacity;
};

class CCmdReader {
public:
    CCmdReader();
    virtual ~CCmdReader();
    // Copies size bytes at the position and advances; 0 or the error.
    virtual uint32_t Read(void* data, int32_t size);
    // Has the record read itself; a null record sets 0x900d0028.
    virtual void Read(CCmdCore* record);

    uint32_t GetLastError() const { return m_dwLastError; }
    void SetLastError(uint32_t error) { m_dwLastError = error; }

    void SetBuffer(const uint8_t* data, uint32_t length);
    uint32_t Remaining() const;

protected:
    uint32_t m_dwLastError;
    const uint8_t* m_pPosition;
    const uint8_t* m_pStart;
    uint32_t m_dwLength;
};
