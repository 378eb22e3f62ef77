// The port map's network target syntax: parsing and writing back, with no socket in sight.
#include <algorithm>
#include <charconv>

#include "comlane/NetworkPort.h"

namespace comlane {
namespace {

std::optional<NetworkTarget> Fail(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
    return std::nullopt;
}

bool ParseNumber(const std::string& text, long low, long high, long& value) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value >= low && value <= high;
}

bool ValidInterfaceName(const std::string& name) {
    // The kernel's names: at most 15 characters, no slash, no blank.
    return !name.empty() && name.size() <= 15 && name != "." && name != ".." &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return c == '/' || c == ':' || c <= ' ' || c == 0x7f; });
}

std::string HostText(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

}  // namespace

bool IsNetworkTarget(const std::string& target) {
    return target.rfind("udp:", 0) == 0 || target.rfind("tcp:", 0) == 0;
}

std::string NetworkTarget::Text() const {
    std::string text = kind == Kind::Udp ? "udp:" : "tcp:";
    if (!host.empty()) {
        text += HostText(host) + ":";
    }
    text += std::to_string(port);
    std::string query;
    if (ttl >= 0) {
        query += "ttl=" + std::to_string(ttl);
    }
    if (!interfaceName.empty()) {
        query += (query.empty() ? "" : "&") + std::string("if=") + interfaceName;
    }
    return query.empty() ? text : text + "?" + query;
}

std::optional<NetworkTarget> ParseNetworkTarget(const std::string& text, std::string* error) {
    if (!IsNetworkTarget(text)) {
        return Fail(error, "'" + text + "' is neither udp:HOST:PORT nor tcp:[ADDR:]PORT");
    }
    NetworkTarget target;
    target.kind = text[0] == 'u' ? NetworkTarget::Kind::Udp : NetworkTarget::Kind::Tcp;
    const bool udp = target.kind == NetworkTarget::Kind::Udp;
    std::string rest = text.substr(4);
    std::string query;
    if (const auto mark = rest.find('?'); mark != std::string::npos) {
        query = rest.substr(mark + 1);
        rest.resize(mark);
        if (!udp) {
            return Fail(error, "a tcp: target takes no options");
        }
    }
    std::string portText = rest;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return Fail(error, "'" + text + "': an address in brackets must be followed by :PORT");
        }
        target.host = rest.substr(1, close - 1);
        portText = rest.substr(close + 2);
        if (target.host.empty()) {
            return Fail(error, "'" + text + "': the brackets hold no address");
        }
    } else if (const auto colon = rest.rfind(':'); colon != std::string::npos) {
        target.host = rest.substr(0, colon);
        portText = rest.substr(colon + 1);
        if (target.host.find(':') != std::string::npos) {
            return Fail(error, "'" + text + "': put an IPv6 address in brackets, like [::1]:10110");
        }
        if (target.host.empty()) {
            return Fail(error, "'" + text + "': the host before the port is empty");
        }
    } else if (udp) {
        return Fail(error, "'" + text + "': a udp: target needs HOST:PORT");
    }
    if (std::any_of(target.host.begin(), target.host.end(), [](char c) {
            return c <= ' ' || c == '/' || c == '?' || c == '[' || c == ']' || c == 0x7f;
        })) {
        return Fail(error, "'" + text + "': the host holds characters no host name has");
    }
    long port = 0;
    if (!ParseNumber(portText, udp ? 1 : 0, 65535, port)) {
        return Fail(error, "'" + text + "': the port must be a number from 1 to 65535");
    }
    target.port = static_cast<unsigned>(port);
    std::size_t at = 0;
    while (!query.empty() && at <= query.size()) {
        const auto end = std::min(query.find('&', at), query.size());
        const std::string option = query.substr(at, end - at);
        at = end + 1;
        const auto equals = option.find('=');
        const std::string key = option.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
        long ttl = 0;
        if (key == "ttl" && ParseNumber(value, 0, 255, ttl)) {
            target.ttl = static_cast<int>(ttl);
        } else if (key == "if" && ValidInterfaceName(value)) {
            target.interfaceName = value;
        } else if (key == "ttl" || key == "if") {
            return Fail(error, "'" + text + "': " +
                                   (key == "ttl" ? "ttl must be a number from 0 to 255"
                                                 : "if must be an interface name"));
        } else {
            std::string reason = "'" + text + "': unknown option '";
            reason += option;
            reason += "' (a udp: target takes ttl=N and if=NAME)";
            return Fail(error, reason);
        }
    }
    return target;
}

}  // namespace comlane
