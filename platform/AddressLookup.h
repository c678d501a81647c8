#pragma once

// The name lookup that both systems' socket calls share: getaddrinfo and
// addrinfo are the same there. Included after the system's socket headers.

#include "platform/SocketCalls.h"

namespace sock {

inline std::vector<Address> lookUpAddresses(const std::string& host, const std::string& port)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
        return {};
    std::vector<Address> addresses;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        const auto* first = reinterpret_cast<const unsigned char*>(a->ai_addr);
        addresses.push_back(Address {a->ai_family, a->ai_protocol, {first, first + a->ai_addrlen}});
    }
    ::freeaddrinfo(found);
    return addresses;
}

} // namespace sock
