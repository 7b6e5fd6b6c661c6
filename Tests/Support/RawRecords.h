// Records of any bytes for ExecuteCommand: the request writes its body as it
// is, the response keeps everything the device sent.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "Tessra/CmdCore.h"

namespace vtest {

class RawRequest : public CCmdBase {
public:
    explicit RawRequest(std::vector<uint8_t> body) : CCmdBase(0), m_body(std::move(body)) {}
    void Write(CCmdWriter& writer) override {
        if (!m_body.empty()) writer.Write(m_body.data(), static_cast<int32_t>(m_body.size()));
    }
    void Read(CCmdReader&) override {}

private:
    std::vector<uint8_t> m_body;
};

class RawResponse : public CCmdBase {
public:
    RawResponse() : CCmdBase(0) {}
    void Read(CCmdReader& reader) override {
        bytes.assign(reader.Remaining(), 0);
        if (!bytes.empty()) reader.Read(bytes.data(), static_cast<int32_t>(bytes.size()));
    }
    void Write(CCmdWriter&) override {}
    std::vector<uint8_t> bytes;
};

}  // namespace vtest
