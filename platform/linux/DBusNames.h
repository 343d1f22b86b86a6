#pragma once

#include <optional>
#include <string>
#include <string_view>

// How the macOS names of services and notifications become D-Bus names.
namespace platform::linux_platform {

// A well-known bus name: each element that starts with a digit gets a "_"
// in front (D-Bus forbids it), other characters D-Bus does not allow
// become "_". "7RVD2LMQ5X.me.ombrel.quillory.autopaste" becomes
// "_7RVD2LMQ5X.me.ombrel.quillory.autopaste".
std::string busNameFor(std::string_view name);

// An object path with one element per dotted element: "a.b.c" is "/a/b/c".
std::string objectPathFor(std::string_view dottedName);

// Where an XPC service is found on the bus. A leading team identifier (ten
// capitals and digits) is left out of the path and the interface:
// "7RVD2LMQ5X.me.ombrel.quillory.autopaste" with the protocol
// "AutoPasteHelperXPC" is served at /me/ombrel/quillory/autopaste with the
// interface me.ombrel.quillory.AutoPasteHelperXPC.
struct ServiceAddress {
    std::string busName;
    std::string objectPath;
    // The interface is this prefix, a dot and the protocol name.
    std::string interfacePrefix;

    std::string interfaceFor(std::string_view protocolName) const;
};
ServiceAddress serviceAddressFor(std::string_view machServiceName);

// The method of a selector: its first keyword up to "With", capitalised.
// "pingWithReply:" is "Ping".
std::string memberForSelector(std::string_view selector);

// A distributed notification is a broadcast signal: the name without its
// last element is the interface, the last element the member, and the
// interface with dots as slashes the path. None for a name that has no
// interface part.
struct SignalAddress {
    std::string objectPath;
    std::string interface;
    std::string member;
};
std::optional<SignalAddress> signalAddressFor(std::string_view notificationName);

}  // namespace platform::linux_platform
