// quillory-bench: measures the running helper against the echo baseline in
// one run and writes the figures. scripts/bench prepares the session (a
// private display and bus, the helper installed and set up) and runs it.

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AlertBench.h"
#include "BusBench.h"
#include "PasteBench.h"
#include "ProcessUsage.h"
#include "Report.h"
#include "Statistics.h"
#include "WaylandPasteBench.h"

namespace quillory_bench {
namespace {

struct Options {
    std::filesystem::path out = "build/bench";
    std::string echoExecutable;
    std::string floorExecutable;   // the paste figures' floor
    std::string helperExecutable;  // the installed helper, opened again for an alert
    std::string mainAppStandin;    // for the pastes; none without a display
    std::string pasteTarget;       // for the pastes on Wayland
    bool quick = false;            // fewer samples, for trying the harness out
    bool idle = true;
    std::string only;  // one measurement, for looking into it
};

// A cold start each, helper and echo in turn, after one each that warms
// the file cache.
constexpr int coldStarts = 15;
// Pings in blocks, helper and echo in turn, so that both see the same
// machine.
constexpr int pingBlocks = 100;
constexpr int pingsPerBlock = 50;
constexpr int pingWarmUp = 500;
// Pastes come one at a time, the agent idle in between: a round trip after
// such a pause, helper and echo in turn, shows what the machine itself adds
// to every paste.
constexpr int pausedPings = 40;
constexpr double pauseBeforePing = 0.16;
constexpr int throughputRounds = 5;
constexpr int throughputClients = 20;
constexpr int throughputPings = 500;
constexpr int pastes = 200;
constexpr double idleSettleSeconds = 2;
constexpr double idleSeconds = 60;
constexpr double idleAfterAlertSeconds = 30;

void writeSamples(const std::filesystem::path& path, const std::vector<double>& samples) {
    std::ofstream file(path);
    for (const double sample : samples) file << sample << '\n';
}

// Activation files for the baselines, so that the bus starts them as it
// starts the agent.
bool installActivations(GDBusConnection* bus, const Options& options) {
    const char* dataHome = g_get_user_data_dir();
    const std::filesystem::path folder = std::filesystem::path(dataHome) / "dbus-1" / "services";
    std::filesystem::create_directories(folder);
    for (const auto& [service, executable] : {std::pair{&echoService(), options.echoExecutable},
                                              std::pair{&floorService(), options.floorExecutable}}) {
        if (executable.empty()) continue;
        gchar* quoted = g_shell_quote(executable.c_str());
        std::ofstream(folder / (service->busName + ".service"))
            << "[D-BUS Service]\nName=" << service->busName << "\nExec=" << quoted << "\n";
        g_free(quoted);
    }
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "ReloadConfig", nullptr, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) g_variant_unref(reply);
    return reply != nullptr;
}

class Run {
public:
    Run(GDBusConnection* bus, const Options& options) : bus_(bus), options_(options) {}

    bool coldStart() {
        std::vector<double> helper;
        std::vector<double> echo;
        const int count = options_.quick ? 3 : coldStarts;
        for (int i = 0; i <= count; ++i) {
            for (const auto* service : {&helperService(), &echoService()}) {
                const auto ms = quillory_bench::coldStart(bus_, *service);
                if (!ms) return failed("cold start of " + service->busName);
                if (i > 0) (service == &helperService() ? helper : echo).push_back(*ms);
            }
        }
        keep("cold_start_ms", helper, echo);
        figures_.push_back(medianFigure("cold_start_ms", "ms", helper, echo));
        return true;
    }

    bool pingRoundTrip() {
        GDBusConnection* peer = connectPeer();
        if (peer == nullptr) return failed("a connection to the bus");
        std::vector<double> helper;
        std::vector<double> echo;
        const int blocks = options_.quick ? 10 : pingBlocks;
        bool ok =
            roundTrips(peer, helperService(), pingWarmUp) && roundTrips(peer, echoService(), pingWarmUp);
        for (int i = 0; ok && i < blocks; ++i) {
            const auto h = roundTrips(peer, helperService(), pingsPerBlock);
            const auto e = roundTrips(peer, echoService(), pingsPerBlock);
            ok = h && e;
            if (ok) {
                helper.insert(helper.end(), h->begin(), h->end());
                echo.insert(echo.end(), e->begin(), e->end());
            }
        }
        disconnectPeer(peer);
        if (!ok) return failed("ping round trips");
        keep("ping_rtt_us", helper, echo);
        figures_.push_back(medianFigure("ping_rtt_us", "us", helper, echo));
        return true;
    }

    bool pingAfterPause() {
        GDBusConnection* peer = connectPeer();
        if (peer == nullptr) return failed("a connection to the bus");
        std::vector<double> helper;
        std::vector<double> echo;
        bool ok = roundTrips(peer, helperService(), 10) && roundTrips(peer, echoService(), 10);
        for (int i = 0; ok && i < (options_.quick ? 5 : pausedPings); ++i) {
            for (const auto* service : {&helperService(), &echoService()}) {
                iterateUntil([] { return false; }, pauseBeforePing);
                const auto rtt = roundTrips(peer, *service, 1);
                ok = ok && rtt;
                if (ok) (service == &helperService() ? helper : echo).push_back(rtt->front());
            }
        }
        disconnectPeer(peer);
        if (!ok) return failed("ping round trips after a pause");
        figures_.push_back(medianFigure("ping_rtt_after_pause_us", "us", helper, echo));
        return true;
    }

    bool pingThroughput() {
        std::vector<double> helper;
        std::vector<double> echo;
        const int rounds = options_.quick ? 1 : throughputRounds;
        for (int i = 0; i < rounds; ++i) {
            const auto h = throughput(helperService(), throughputClients, throughputPings);
            const auto e = throughput(echoService(), throughputClients, throughputPings);
            if (!h || !e) return failed("ping throughput");
            helper.push_back(*h);
            echo.push_back(*e);
        }
        figures_.push_back(medianFigure("ping_throughput_per_s", "1/s", helper, echo));
        return true;
    }

    bool paste() {
        const int count = options_.quick ? 20 : pastes;
        const auto samples = g_getenv("WAYLAND_DISPLAY") != nullptr
                                 ? measureWaylandPastes(options_.mainAppStandin, options_.pasteTarget, count)
                                 : measurePastes(options_.mainAppStandin, count);
        if (!samples) return failed("pastes");
        samples_.emplace_back("paste_overhead_front_ms", samples->frontOverheadMs);
        samples_.emplace_back("paste_overhead_reactivate_ms", samples->reactivateOverheadMs);
        if (!samples->replyAfterLastKeyMs.empty())
            samples_.emplace_back("paste_reply_after_last_key_ms", samples->replyAfterLastKeyMs);
        samples_.emplace_back("floor_paste_overhead_ms", samples->floorOverheadMs);
        figures_.push_back(medianFigure("paste_overhead_front_ms", "ms", samples->frontOverheadMs,
                                        samples->floorOverheadMs));
        figures_.push_back(medianFigure("paste_overhead_reactivate_ms", "ms", samples->reactivateOverheadMs,
                                        samples->floorOverheadMs));
        if (!samples->replyAfterLastKeyMs.empty())
            figures_.push_back(
                medianFigure("paste_reply_after_last_key_ms", "ms", samples->replyAfterLastKeyMs));
        return true;
    }

    // A freshly started agent, left alone.
    bool idle() {
        quillory_bench::stopService(bus_, echoService());
        if (!quillory_bench::coldStart(bus_, helperService())) return failed("the agent's start");
        const auto agent = ownerOf(bus_, helperService().busName);
        if (!agent) return failed("the agent's process");
        iterateUntil([] { return false; }, idleSettleSeconds);
        const auto before = usageOf(*agent);
        std::printf("Leaving the agent (pid %d) alone for %.0f s...\n", *agent, idleSeconds);
        std::fflush(stdout);
        iterateUntil([] { return false; }, idleSeconds);
        const auto after = usageOf(*agent);
        if (!before || !after) return failed("the agent's usage (it ended?)");
        figures_.push_back(singleFigure("idle_cpu_ticks_60s", "ticks",
                                        static_cast<double>(after->cpuTicks - before->cpuTicks)));
        figures_.push_back(singleFigure("idle_wakeups_60s", "switches",
                                        static_cast<double>(wakeupsBetween(*before, *after))));
        figures_.push_back(singleFigure("idle_rss_kb", "kB", static_cast<double>(after->rssKb)));
        std::printf("The agent has %zu threads.\n", after->switchesByThread.size());
        return true;
    }

    // The agent after one alert, dismissed by a real key press, then left
    // alone; its resting RSS just before the alert is the baseline.
    bool idleAfterAlert() {
        if (!ownerOf(bus_, helperService().busName) && !quillory_bench::coldStart(bus_, helperService()))
            return failed("the agent's start");
        const auto agent = ownerOf(bus_, helperService().busName);
        if (!agent) return failed("the agent's process");
        iterateUntil([] { return false; }, idleSettleSeconds);
        const auto resting = usageOf(*agent);
        if (!resting || !showAndDismissAlert(options_.helperExecutable, *agent)) return failed("an alert");
        iterateUntil([] { return false; }, idleSettleSeconds);
        const auto before = usageOf(*agent);
        std::printf("Leaving the agent (pid %d) alone after its alert for %.0f s...\n", *agent,
                    idleAfterAlertSeconds);
        std::fflush(stdout);
        iterateUntil([] { return false; }, idleAfterAlertSeconds);
        const auto after = usageOf(*agent);
        if (!before || !after) return failed("the agent's usage after an alert (it ended?)");
        Figure rss = singleFigure("idle_rss_after_alert_kb", "kB", static_cast<double>(after->rssKb));
        rss.baseline = static_cast<double>(resting->rssKb);
        rss.ratio = rss.value / *rss.baseline;
        figures_.push_back(rss);
        figures_.push_back(singleFigure("idle_cpu_ticks_after_alert_30s", "ticks",
                                        static_cast<double>(after->cpuTicks - before->cpuTicks)));
        figures_.push_back(singleFigure("idle_wakeups_after_alert_30s", "switches",
                                        static_cast<double>(wakeupsBetween(*before, *after))));
        return true;
    }

    bool finish() {
        std::filesystem::create_directories(options_.out);
        for (const auto& [name, samples] : samples_) writeSamples(options_.out / (name + ".txt"), samples);
        std::ofstream(options_.out / "results.json") << toJson(figures_);
        std::printf("\n%s\nFigures in %s\n", table(figures_).c_str(),
                    (options_.out / "results.json").string().c_str());
        return errors_ == 0;
    }

private:
    bool failed(const std::string& what) {
        std::fprintf(stderr, "quillory-bench: could not measure %s\n", what.c_str());
        ++errors_;
        return false;
    }

    void keep(const std::string& name, const std::vector<double>& helper, const std::vector<double>& echo) {
        samples_.emplace_back(name, helper);
        samples_.emplace_back("echo_" + name, echo);
    }

    GDBusConnection* bus_;
    const Options& options_;
    std::vector<Figure> figures_;
    std::vector<std::pair<std::string, std::vector<double>>> samples_;
    int errors_ = 0;
};

int usage() {
    std::fprintf(
        stderr,
        "usage: quillory-bench --echo PATH [--floor PATH] [--main-app PATH] [--paste-target PATH]\n"
        "                      [--helper PATH]\n"
        "                      [--out DIR] [--quick] [--no-idle]\n"
        "                      [--only cold-start|ping|ping-after-pause|throughput|paste|idle|alert]\n"
        "Runs in a session where the helper is set up; see scripts/bench.\n");
    return 2;
}

}  // namespace
}  // namespace quillory_bench

int main(int argc, char** argv) {
    using namespace quillory_bench;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (argument == "--echo" && i + 1 < argc) {
            options.echoExecutable = argv[++i];
        } else if (argument == "--floor" && i + 1 < argc) {
            options.floorExecutable = argv[++i];
        } else if (argument == "--helper" && i + 1 < argc) {
            options.helperExecutable = argv[++i];
        } else if (argument == "--main-app" && i + 1 < argc) {
            options.mainAppStandin = argv[++i];
        } else if (argument == "--paste-target" && i + 1 < argc) {
            options.pasteTarget = argv[++i];
        } else if (argument == "--quick") {
            options.quick = true;
        } else if (argument == "--no-idle") {
            options.idle = false;
        } else if (argument == "--only" && i + 1 < argc) {
            options.only = argv[++i];
        } else {
            return usage();
        }
    }
    if (options.echoExecutable.empty()) return usage();

    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr || !installActivations(bus, options)) {
        std::fprintf(stderr, "quillory-bench: no session bus to measure on\n");
        return 1;
    }
    Run run(bus, options);
    const auto measure = [&](const std::string& name, bool (Run::*step)()) {
        if (!options.only.empty() && options.only != name) return;
        std::printf("Measuring %s...\n", name.c_str());
        std::fflush(stdout);
        (run.*step)();
    };
    measure("cold-start", &Run::coldStart);
    measure("ping", &Run::pingRoundTrip);
    measure("ping-after-pause", &Run::pingAfterPause);
    measure("throughput", &Run::pingThroughput);
    // On Wayland the pastes are timed at their replies; the alert, dismissed
    // through XTest, is X11's alone.
    const bool onWayland = g_getenv("WAYLAND_DISPLAY") != nullptr;
    const bool hasDisplay = g_getenv("DISPLAY") != nullptr;
    if (!options.mainAppStandin.empty() && !options.floorExecutable.empty() &&
        (onWayland ? !options.pasteTarget.empty() : hasDisplay))
        measure("paste", &Run::paste);
    if (options.idle) measure("idle", &Run::idle);
    if (options.idle && !options.helperExecutable.empty() && hasDisplay && !onWayland)
        measure("alert", &Run::idleAfterAlert);
    const bool complete = run.finish();
    stopService(bus, helperService());
    stopService(bus, echoService());
    stopService(bus, floorService());
    return complete ? 0 : 1;
}
