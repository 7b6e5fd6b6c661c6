#include "Sim/Core/FaultPlan.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace sim {

namespace {

struct KindInfo {
    const char* name;
    FaultKind kind;
    bool needsValue;        // VALUE required
    uint32_t defaultValue;  // when VALUE is optional
    bool frameLevel;        // frame= and on= apply
    FaultTarget fixedOn;    // the target of the kinds without on=
};

const KindInfo kKinds[] = {
    {"checksum", FaultKind::Checksum, false, 0, true, FaultTarget::Data},
    {"length", FaultKind::Length, false, 0, true, FaultTarget::Data},
    {"delimiter", FaultKind::Delimiter, false, 0, true, FaultTarget::Data},
    {"dropreply", FaultKind::DropReply, false, 0, true, FaultTarget::Reply},
    {"dropframe", FaultKind::DropFrame, false, 0, true, FaultTarget::Data},
    {"repeat", FaultKind::Repeat, false, 0, true, FaultTarget::Data},
    {"nak", FaultKind::Nak, true, 0, true, FaultTarget::Reply},
    {"refuse", FaultKind::Refuse, true, 0, false, FaultTarget::Data},
    {"late", FaultKind::Late, true, 0, true, FaultTarget::Data},
    {"silent", FaultKind::Silent, false, 0, true, FaultTarget::Data},
    {"pollstate", FaultKind::PollState, true, 0, false, FaultTarget::Poll},
    {"noise", FaultKind::Noise, true, 0, true, FaultTarget::Data},
    {"oversize", FaultKind::Oversize, false, 0, false, FaultTarget::Data},
    {"close", FaultKind::ClosePort, false, 1000, false, FaultTarget::Data},
    {"detach", FaultKind::DetachUsb, false, 1000, false, FaultTarget::Data},
};

// Kinds whose frames are chosen with on= (the others have a fixed target).
bool TakesTarget(FaultKind kind) {
    switch (kind) {
        case FaultKind::Checksum:
        case FaultKind::Length:
        case FaultKind::Delimiter:
        case FaultKind::Noise:
        case FaultKind::Late:
        case FaultKind::Silent:
            return true;
        default:
            return false;
    }
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || !end || *end || v > 0xFFFFFFFFull || text[0] == '-') return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool Fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return false;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const KindInfo& info : kKinds)
        if (info.kind == kind) return info.name;
    return "?";
}

const char* FaultPlan::Syntax() {
    return "Fault rules: KIND[=VALUE][@KEY=VALUE[,KEY=VALUE]...]\n"
           "  checksum        wrong checksum in a frame the device sends (the PC NAKs it,\n"
           "                  the device sends it again)\n"
           "  length          wrong length field (one more than the payload)\n"
           "  delimiter[=start|end]  wrong end byte (default) or start byte\n"
           "  dropreply       the Reply to a request frame is not sent\n"
           "  dropframe       a response frame is not sent; the device sends it again\n"
           "                  after 2 s without a Reply\n"
           "  repeat          a Middle response frame is sent a second time after its Reply\n"
           "  nak=CODE        a request frame is answered with a NAK carrying CODE; the\n"
           "                  request is dropped\n"
           "  refuse=CODE     the command is answered with status 21 and refusal code CODE\n"
           "  late=MS         the response comes MS ms late while Polls are answered with\n"
           "                  state 2; with on=reply the Reply to a request frame comes late\n"
           "  silent          after the Reply the device sends nothing for the exchange (no\n"
           "                  Poll answers, no response); with on=reply not even the Reply\n"
           "  pollstate=N     Polls are answered with state N (0 or 1) and the response is\n"
           "                  dropped\n"
           "  noise=N         N bytes of line noise before a frame\n"
           "  oversize        the command is answered as with --hostile (counts, lengths\n"
           "                  and texts beyond every capacity)\n"
           "  close[=MS]      the port is closed when a request frame of the command arrives\n"
           "                  (no Reply); it comes back after MS ms (default 1000)\n"
           "  detach[=MS]     the USB device is detached when a request frame of the command\n"
           "                  arrives (no Reply); it comes back after MS ms (default 1000)\n"
           "Keys:\n"
           "  code=N          only exchanges of command N (decimal or 0x hex, e.g. 0x0B7F)\n"
           "  frame=K         only the K-th frame of its kind in the exchange (1-based): the\n"
           "                  K-th response frame, the Reply to the K-th request frame, or\n"
           "                  the K-th Poll answer\n"
           "  on=data|reply|poll  the frames that checksum, length, delimiter, noise, late and\n"
           "                  silent hit (default data: the response frames)\n"
           "  times=N         how often the fault fires (default 1; 0 = every time); frame\n"
           "                  faults count frames, the others count exchanges\n"
           "Examples: checksum@code=3,times=2   nak=0x12@code=0x0B7F   late=3000@on=reply\n"
           "A fault file holds one rule per line; blank lines and lines starting with '#'\n"
           "are skipped.\n";
}

bool FaultPlan::Parse(const std::string& input, FaultRule* rule, std::string* error) {
    const std::string text = Trim(input);
    if (text.empty()) return Fail(error, "empty fault rule");
    const size_t at = text.find('@');
    const std::string head = Trim(text.substr(0, at));
    const std::string tail = at == std::string::npos ? std::string() : text.substr(at + 1);

    const size_t eq = head.find('=');
    const std::string kindName = Lower(Trim(head.substr(0, eq)));
    const bool hasValue = eq != std::string::npos;
    const std::string valueText = hasValue ? Trim(head.substr(eq + 1)) : std::string();

    const KindInfo* info = nullptr;
    for (const KindInfo& k : kKinds)
        if (kindName == k.name) info = &k;
    if (!info) return Fail(error, "unknown fault kind '" + kindName + "' in '" + text + "'");

    FaultRule r;
    r.kind = info->kind;
    r.value = info->defaultValue;
    r.on = info->fixedOn;
    if (info->kind == FaultKind::Delimiter) {
        if (hasValue) {
            const std::string which = Lower(valueText);
            if (which == "start") r.value = 1;
            else if (which == "end") r.value = 0;
            else return Fail(error, "delimiter takes start or end: '" + text + "'");
        }
    } else if (hasValue) {
        if (!ParseNumber(valueText, &r.value)) return Fail(error, "bad value in '" + text + "'");
    } else if (info->needsValue) {
        return Fail(error, std::string(info->name) + " needs a value (" + info->name + "=N): '" + text + "'");
    }
    if (r.kind == FaultKind::PollState && r.value > 1)
        return Fail(error, "pollstate takes 0 or 1: '" + text + "'");

    size_t pos = 0;
    while (at != std::string::npos && pos <= tail.size()) {
        size_t comma = tail.find(',', pos);
        if (comma == std::string::npos) comma = tail.size();
        const std::string item = Trim(tail.substr(pos, comma - pos));
        pos = comma + 1;
        if (item.empty()) return Fail(error, "empty key in '" + text + "'");
        const size_t ieq = item.find('=');
        if (ieq == std::string::npos) return Fail(error, "key without value: '" + item + "'");
        const std::string key = Lower(Trim(item.substr(0, ieq)));
        const std::string val = Trim(item.substr(ieq + 1));
        if (key == "code") {
            if (!ParseNumber(val, &r.code)) return Fail(error, "bad code in '" + text + "'");
            r.anyCode = false;
        } else if (key == "frame") {
            if (!info->frameLevel) return Fail(error, std::string(info->name) + " takes no frame=: '" + text + "'");
            if (!ParseNumber(val, &r.frame) || r.frame == 0) return Fail(error, "bad frame in '" + text + "'");
        } else if (key == "times") {
            if (!ParseNumber(val, &r.times)) return Fail(error, "bad times in '" + text + "'");
        } else if (key == "on") {
            if (!TakesTarget(info->kind)) return Fail(error, std::string(info->name) + " takes no on=: '" + text + "'");
            const std::string which = Lower(val);
            if (which == "data") r.on = FaultTarget::Data;
            else if (which == "reply") r.on = FaultTarget::Reply;
            else if (which == "poll") r.on = FaultTarget::Poll;
            else return Fail(error, "on takes data, reply or poll: '" + text + "'");
            if ((r.kind == FaultKind::Late || r.kind == FaultKind::Silent) && r.on == FaultTarget::Poll)
                return Fail(error, std::string(info->name) + " takes on=data or on=reply: '" + text + "'");
        } else {
            return Fail(error, "unknown key '" + key + "' in '" + text + "'");
        }
    }
    if ((r.kind == FaultKind::Late || r.kind == FaultKind::Silent) && r.on == FaultTarget::Data && r.frame != 0)
        return Fail(error, std::string(info->name) + " takes frame= only with on=reply: '" + text + "'");
    *rule = r;
    return true;
}

bool FaultPlan::Add(const std::string& text, std::string* error) {
    FaultRule rule;
    if (!Parse(text, &rule, error)) return false;
    Add(rule);
    return true;
}

void FaultPlan::Add(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_rules.push_back(rule);
}

bool FaultPlan::AddFile(const std::string& path, std::string* error) {
    std::ifstream in(path);
    if (!in) return Fail(error, "cannot read fault file " + path);
    std::vector<FaultRule> rules;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#') continue;
        FaultRule rule;
        std::string why;
        if (!Parse(text, &rule, &why)) return Fail(error, path + ":" + std::to_string(number) + ": " + why);
        rules.push_back(rule);
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_rules.insert(m_rules.end(), rules.begin(), rules.end());
    return true;
}

void FaultPlan::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_rules.clear();
}

namespace {
bool Matches(const FaultRule& r, FaultKind kind, FaultTarget on, bool codeKnown, uint32_t code, uint32_t frame) {
    if (r.kind != kind || r.on != on || r.Exhausted()) return false;
    if (!r.anyCode && (!codeKnown || r.code != code)) return false;
    return r.frame == 0 || r.frame == frame;
}
}  // namespace

bool FaultPlan::Take(FaultKind kind, FaultTarget on, bool codeKnown, uint32_t code, uint32_t frame,
                     FaultRule* taken) {
    std::lock_guard<std::mutex> lock(m_lock);
    for (FaultRule& r : m_rules) {
        if (!Matches(r, kind, on, codeKnown, code, frame)) continue;
        ++r.fired;
        if (taken) *taken = r;
        return true;
    }
    return false;
}

bool FaultPlan::Peek(FaultKind kind, FaultTarget on, bool codeKnown, uint32_t code, uint32_t frame) const {
    std::lock_guard<std::mutex> lock(m_lock);
    for (const FaultRule& r : m_rules)
        if (Matches(r, kind, on, codeKnown, code, frame)) return true;
    return false;
}

uint32_t FaultPlan::Fired(FaultKind kind) const {
    std::lock_guard<std::mutex> lock(m_lock);
    uint32_t n = 0;
    for (const FaultRule& r : m_rules)
        if (r.kind == kind) n += r.fired;
    return n;
}

size_t FaultPlan::Pending() const {
    std::lock_guard<std::mutex> lock(m_lock);
    size_t n = 0;
    for (const FaultRule& r : m_rules)
        if (!r.Exhausted()) ++n;
    return n;
}

std::vector<FaultRule> FaultPlan::Rules() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rules;
}

void FaultPlan::SetTransportAction(TransportAction action) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_transport = std::move(action);
}

FaultPlan::TransportAction FaultPlan::GetTransportAction() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_transport;
}

}  // namespace sim
