#include "DBusNames.h"

#include <cctype>
#include <vector>

namespace platform::linux_platform {

namespace {

std::vector<std::string> elementsOf(std::string_view dotted) {
    std::vector<std::string> elements;
    std::size_t start = 0;
    while (start <= dotted.size()) {
        const std::size_t dot = dotted.find('.', start);
        const std::size_t end = dot == std::string_view::npos ? dotted.size() : dot;
        if (end > start) elements.emplace_back(dotted.substr(start, end - start));
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return elements;
}

bool isAsciiAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
bool isAsciiDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Interface, member and path elements allow letters, digits and "_"; bus
// names also allow "-".
std::string sanitized(std::string_view element, bool allowHyphen, bool mayStartWithDigit) {
    std::string out;
    for (char c : element) out += (isAsciiAlnum(c) || c == '_' || (allowHyphen && c == '-')) ? c : '_';
    if (!mayStartWithDigit && !out.empty() && isAsciiDigit(out.front())) out.insert(out.begin(), '_');
    return out;
}

std::string joined(const std::vector<std::string>& elements, std::size_t count, char separator) {
    std::string out;
    for (std::size_t i = 0; i < count && i < elements.size(); ++i) {
        if (i > 0) out += separator;
        out += elements[i];
    }
    return out;
}

bool isTeamIdentifier(std::string_view element) {
    if (element.size() != 10) return false;
    for (char c : element) {
        if (!(isAsciiDigit(c) || (c >= 'A' && c <= 'Z'))) return false;
    }
    return true;
}

}  // namespace

std::string busNameFor(std::string_view name) {
    std::vector<std::string> elements;
    for (const auto& element : elementsOf(name)) elements.push_back(sanitized(element, true, false));
    return joined(elements, elements.size(), '.');
}

std::string objectPathFor(std::string_view dottedName) {
    std::string path;
    for (const auto& element : elementsOf(dottedName)) path += "/" + sanitized(element, false, true);
    return path.empty() ? "/" : path;
}

std::string ServiceAddress::interfaceFor(std::string_view protocolName) const {
    const std::string member = sanitized(protocolName, false, false);
    return interfacePrefix.empty() ? member : interfacePrefix + "." + member;
}

ServiceAddress serviceAddressFor(std::string_view machServiceName) {
    auto elements = elementsOf(machServiceName);
    if (elements.size() > 1 && isTeamIdentifier(elements.front())) elements.erase(elements.begin());
    std::vector<std::string> interfaceElements;
    for (const auto& element : elements) interfaceElements.push_back(sanitized(element, false, false));
    ServiceAddress address;
    address.busName = busNameFor(machServiceName);
    address.objectPath = objectPathFor(joined(elements, elements.size(), '.'));
    // An interface needs two elements: the service's own last element
    // stands in when the name has no prefix.
    const std::size_t prefixLength = interfaceElements.size() > 1 ? interfaceElements.size() - 1 : 1;
    address.interfacePrefix = joined(interfaceElements, prefixLength, '.');
    return address;
}

std::string memberForSelector(std::string_view selector) {
    std::string_view keyword = selector.substr(0, selector.find(':'));
    for (std::size_t at = keyword.find("With"); at != std::string_view::npos;
         at = keyword.find("With", at + 1)) {
        if (at > 0 && at + 4 < keyword.size() && std::isupper(static_cast<unsigned char>(keyword[at + 4]))) {
            keyword = keyword.substr(0, at);
            break;
        }
    }
    std::string member = sanitized(keyword, false, false);
    if (!member.empty())
        member.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(member.front())));
    return member;
}

std::optional<SignalAddress> signalAddressFor(std::string_view notificationName) {
    const auto elements = elementsOf(notificationName);
    // The interface needs two elements, the member one more.
    if (elements.size() < 3) return std::nullopt;
    std::vector<std::string> interfaceElements;
    for (std::size_t i = 0; i + 1 < elements.size(); ++i)
        interfaceElements.push_back(sanitized(elements[i], false, false));
    SignalAddress address;
    address.interface = joined(interfaceElements, interfaceElements.size(), '.');
    address.member = sanitized(elements.back(), false, false);
    address.objectPath = objectPathFor(address.interface);
    return address;
}

}  // namespace platform::linux_platform
