#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Requests to a service on the session bus that answers Ping() -> (b): the
// helper or the echo baseline, measured the same way.
namespace quillory_bench {

struct Service {
    std::string busName;
    std::string objectPath;
    std::string interface;
};

const Service& helperService();
const Service& echoService();
// The floor of the paste figures: Paste() -> (b) with nothing but the
// 30 ms wait and the four key events (quillory-bench-floor).
const Service& floorService();

// Runs the default main context until `condition` holds or `seconds` have
// passed; true when it holds.
bool iterateUntil(const std::function<bool()>& condition, double seconds);

// A connection of its own to the session bus: one more peer.
GDBusConnection* connectPeer();
void disconnectPeer(GDBusConnection* peer);

// One Ping, waited for: the answer, none on an error.
std::optional<bool> ping(GDBusConnection* peer, const Service& service, int timeoutMs = 25000);

// The round trip of each of `count` pings sent one after the other, in µs;
// none once one fails.
std::optional<std::vector<double>> roundTrips(GDBusConnection* peer, const Service& service, int count);

// Pings answered per second when `clients` peers, connected beforehand,
// each send `pingsEach` pings one after the other, all at the same time;
// none unless every ping is answered true.
std::optional<double> throughput(const Service& service, int clients, int pingsEach);

// The process that owns the service's name now.
std::optional<pid_t> ownerOf(GDBusConnection* bus, const std::string& busName);

// Ends the owner with SIGTERM and waits until the process and its name are
// gone; true when nothing owns the name afterwards.
bool stopService(GDBusConnection* bus, const Service& service);

// From a Ping that makes the bus start the service to its answer, in ms; the
// service is left running.
std::optional<double> coldStart(GDBusConnection* bus, const Service& service);

}  // namespace quillory_bench
