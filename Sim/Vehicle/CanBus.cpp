#include "Sim/Vehicle/CanBus.h"

#include <algorithm>

namespace sim {

void CanBus::Attach(CanNode* node) {
    if (std::find(m_nodes.begin(), m_nodes.end(), node) == m_nodes.end()) m_nodes.push_back(node);
}

void CanBus::Detach(CanNode* node) {
    m_nodes.erase(std::remove(m_nodes.begin(), m_nodes.end(), node), m_nodes.end());
    // Frames it sent stay on their way; they no longer know their sender.
    for (auto& item : m_queue)
        if (item.first == node) item.first = nullptr;
}

bool CanBus::Transmit(CanNode* sender, const CanFrame& frame) {
    if (sender && sender->BitRate() != m_dwBitRate) return false;
    m_queue.emplace_back(sender, frame);
    if (m_bDelivering) return true;
    m_bDelivering = true;
    while (!m_queue.empty()) {
        const std::pair<CanNode*, CanFrame> item = m_queue.front();
        m_queue.pop_front();
        ++m_qwCarried;
        if (m_trace) m_trace(item.second);
        // A node may leave the bus while the frame is delivered: walk a copy
        // and skip the ones gone since.
        const std::vector<CanNode*> nodes = m_nodes;
        for (CanNode* node : nodes) {
            if (node == item.first || node->BitRate() != m_dwBitRate) continue;
            if (std::find(m_nodes.begin(), m_nodes.end(), node) == m_nodes.end()) continue;
            node->OnFrame(item.second);
        }
    }
    m_bDelivering = false;
    return true;
}

}  // namespace sim
