#include "Sim/Transport/InProcessTransport.h"

#include <chrono>

#include "Sim/Core/SimDevice.h"

namespace sim {

InProcessTransport::InProcessTransport(SimDevice& device) : m_device(device) {
    m_device.SetSink([this](const uint8_t* data, size_t size) { OnDeviceBytes(data, size); });
}

InProcessTransport::~InProcessTransport() { m_device.SetSink(nullptr); }

void InProcessTransport::Send(const std::vector<uint8_t>& bytes) { Send(bytes.data(), bytes.size()); }

void InProcessTransport::Send(const uint8_t* data, size_t size) { m_device.OnBytesFromPc(data, size); }

void InProcessTransport::OnDeviceBytes(const uint8_t* data, size_t size) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_fromDevice.insert(m_fromDevice.end(), data, data + size);
    }
    m_arrived.notify_all();
}

bool InProcessTransport::WaitBytes(size_t n, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    return m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_fromDevice.size() >= n; });
}

std::vector<uint8_t> InProcessTransport::Take(size_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (n > m_fromDevice.size()) n = m_fromDevice.size();
    std::vector<uint8_t> out(m_fromDevice.begin(), m_fromDevice.begin() + static_cast<std::ptrdiff_t>(n));
    m_fromDevice.erase(m_fromDevice.begin(), m_fromDevice.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

std::vector<uint8_t> InProcessTransport::TakeAll() { return Take(static_cast<size_t>(-1)); }

bool InProcessTransport::NextFrame(std::vector<uint8_t>* frame, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    size_t total = 0;
    auto complete = [&] {
        while (!m_fromDevice.empty() && m_fromDevice.front() != 0x02) m_fromDevice.pop_front();
        if (m_fromDevice.size() < 4) return false;
        total = (m_fromDevice[2] | (static_cast<size_t>(m_fromDevice[3]) << 8)) + 6;
        return m_fromDevice.size() >= total;
    };
    if (!m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), complete)) return false;
    frame->assign(m_fromDevice.begin(), m_fromDevice.begin() + static_cast<std::ptrdiff_t>(total));
    m_fromDevice.erase(m_fromDevice.begin(), m_fromDevice.begin() + static_cast<std::ptrdiff_t>(total));
    return true;
}

size_t InProcessTransport::Pending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_fromDevice.size();
}

}  // namespace sim
