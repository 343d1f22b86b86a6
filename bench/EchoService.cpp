// The baseline of the helper's request figures: the least a GDBus service
// does to answer Ping() -> (b). It serves its object, then takes its name on
// the session bus (as the helper does) and answers on its main loop. The bus
// starts it through an activation file for the cold-start figure.

#include "BenchServices.h"

namespace {

constexpr const char* busName = "me.ombrel.quillory.bench.Echo";
constexpr const char* objectPath = "/me/ombrel/quillory/bench/Echo";
constexpr const char* introspection =
    "<node><interface name='me.ombrel.quillory.bench.Echo'>"
    "<method name='Ping'><arg type='b' name='reply' direction='out'/></method>"
    "</interface></node>";

void answer(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
            GDBusMethodInvocation* invocation, gpointer) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", TRUE));
}

const GDBusInterfaceVTable vtable = {answer, nullptr, nullptr, {}};

}  // namespace

int main() {
    return bench::serveOnSessionBus("quillory-bench-echo", busName, objectPath, introspection, vtable);
}
