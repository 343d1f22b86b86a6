#pragma once

// The floor's service on the session bus, the same on either desktop: the
// bench calls one or the other in a session of its own.
namespace quillory_bench::floor {

constexpr const char* busName = "me.ombrel.quillory.bench.Floor";
constexpr const char* objectPath = "/me/ombrel/quillory/bench/Floor";
constexpr const char* introspection =
    "<node><interface name='me.ombrel.quillory.bench.Floor'>"
    "<method name='Paste'><arg type='b' name='reply' direction='out'/></method>"
    "</interface></node>";

// Its fixed wait before the keys, and the pause between them, as the agent's.
constexpr long delayNs = 30'000'000;
constexpr long keyPauseNs = 8'000'000;

}  // namespace quillory_bench::floor
