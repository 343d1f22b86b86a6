#include "LoginItems.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "DBusNames.h"
#include "GLibSupport.h"
#include "LinuxSystem.h"
#include "LinuxWorkspace.h"
#include "PropertyList.h"

namespace platform::linux_platform {

namespace fs = std::filesystem;

namespace {

std::string xdgDirectory(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    // Relative values are to be ignored.
    if (value != nullptr && value[0] == '/') return value;
    return homeDirectory() + "/" + fallbackUnderHome;
}

// Double quotes, with the characters that stay special inside them escaped;
// both desktop files and D-Bus service files read it this way.
std::string quoted(const std::string& argument) {
    std::string out = "\"";
    for (char c : argument) {
        if (c == '"' || c == '\\' || c == '`' || c == '$') out += '\\';
        out += c;
    }
    return out + "\"";
}

// In a desktop file's Exec, "%" starts a field code.
std::string desktopExec(const std::string& line) {
    std::string out;
    for (char c : line) out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

bool isTurnedOff(GKeyFile* entry) {
    ErrorSlot missing;
    if (g_key_file_get_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_HIDDEN, missing.out()))
        return true;
    ErrorSlot unset;
    const gboolean enabled =
        g_key_file_get_boolean(entry, G_KEY_FILE_DESKTOP_GROUP, "X-GNOME-Autostart-enabled", unset.out());
    return !unset.failed() && !enabled;
}

// None when the file does not exist or is no key file.
GKeyFilePtr readKeyFile(const std::string& path) {
    GKeyFilePtr file(g_key_file_new());
    ErrorSlot error;
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_KEEP_COMMENTS, error.out()))
        return nullptr;
    return file;
}

bool writeFile(const std::string& path, const std::string& contents, Error* error) {
    ErrorSlot failure;
    const std::string folder = fs::path(path).parent_path().string();
    if (g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
        if (error != nullptr) *error = Error{"Could not create “" + folder + "”: " + std::strerror(errno)};
        return false;
    }
    if (!g_file_set_contents(path.c_str(), contents.data(), static_cast<gssize>(contents.size()),
                             failure.out())) {
        if (error != nullptr) *error = Error{failure.message()};
        return false;
    }
    return true;
}

// True when removed; absent files count as removed, not as found.
bool removeFile(const std::string& path, bool* found, Error* error) {
    if (::unlink(path.c_str()) == 0) {
        *found = true;
        return true;
    }
    if (errno == ENOENT) return true;
    if (error != nullptr) *error = Error{"Could not remove “" + path + "”: " + std::strerror(errno)};
    return false;
}

std::string autostartEntry(const std::string& name, const std::string& exec) {
    GKeyFilePtr entry(g_key_file_new());
    const char* group = G_KEY_FILE_DESKTOP_GROUP;
    g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_TYPE,
                          G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_NAME, name.c_str());
    g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC, desktopExec(exec).c_str());
    g_key_file_set_boolean(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
    g_key_file_set_boolean(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
    g_key_file_set_boolean(entry.get(), group, "X-GNOME-Autostart-enabled", TRUE);
    GCharPtr data(g_key_file_to_data(entry.get(), nullptr, nullptr));
    return data.get();
}

void callBus(GDBusConnection* bus, const char* method, GVariant* parameters) {
    ErrorSlot ignored;
    GVariantPtr(g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", method, parameters, nullptr,
                                            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ignored.out()));
}

// Programs the bus starts get the bus's environment, not the caller's: the
// display of this session must be in it.
void shareDisplayWithBus(GDBusConnection* bus) {
    GVariantBuilder variables;
    g_variant_builder_init(&variables, G_VARIANT_TYPE("a{ss}"));
    bool any = false;
    for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
        if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
            g_variant_builder_add(&variables, "{ss}", name, value);
            any = true;
        }
    }
    if (any) {
        callBus(bus, "UpdateActivationEnvironment", g_variant_new("(a{ss})", &variables));
    } else {
        g_variant_builder_clear(&variables);
    }
}

void startDetached(const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& extra) {
    auto environment = currentEnvironment();
    for (const auto& [name, value] : extra) environment[name] = value;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentCopies = arguments;
    std::vector<char*> argv;
    for (auto& argument : argumentCopies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ErrorSlot ignored;
    g_spawn_async(
        "/", argv.data(), envp.data(), G_SPAWN_DEFAULT, [](gpointer) { ::setsid(); }, nullptr, nullptr,
        ignored.out());
}

// Fills `error` with `text` and reports failure.
bool fail(Error* error, std::string text) {
    if (error != nullptr) *error = Error{std::move(text)};
    return false;
}

// The asynchronous unregister: the synchronous one, answered on `queue`.
template <typename Service>
void unregisterOn(DispatchQueue& queue, std::shared_ptr<Service> service,
                  AppService::UnregisterCompletion completion) {
    queue.async([service = std::move(service), completion = std::move(completion)] {
        Error error;
        const bool done = service->unregister(&error);
        completion(done ? std::nullopt : std::optional<Error>(error));
    });
}

class AgentService : public AppService, public std::enable_shared_from_this<AgentService> {
public:
    AgentService(GDBusConnection* bus, DispatchQueue& systemQueue, std::string plistName,
                 std::string displayName, std::optional<AgentDefinition> definition)
        : bus_(bus),
          systemQueue_(systemQueue),
          plistName_(std::move(plistName)),
          displayName_(std::move(displayName)),
          definition_(std::move(definition)) {}

    // Registered when exactly the files the property list calls for are
    // there: half a registration, or one made for other contents of the
    // list, counts as none, so that registering mends it.
    std::int64_t status() override {
        if (!definition_) return appServiceNotFound;
        const auto entry = readKeyFile(autostartFilePath(definition_->label));
        // The user's choice stands whatever the list says now.
        if (entry && isTurnedOff(entry.get())) return appServiceRequiresApproval;
        if ((entry != nullptr) != definition_->runAtLoad) return appServiceNotRegistered;
        for (const auto& service : definition_->machServices) {
            if (!fs::exists(activationFilePath(busNameFor(service)))) return appServiceNotRegistered;
        }
        if (!startsAtAll()) return appServiceNotRegistered;
        return appServiceEnabled;
    }

    bool registerService(Error* error) override {
        if (!definition_) return fail(error, notFoundText());
        if (status() == appServiceRequiresApproval) {
            return fail(error,
                        "“" + displayName_ + "” was turned off in the desktop’s startup applications.");
        }
        if (!startsAtAll()) {
            return fail(error, "Nothing would start “" + displayName_ + "”: its launch agent “" + plistName_ +
                                   "” has neither RunAtLoad nor MachServices.");
        }
        const std::string exec = commandLine(launchEnvironment(), definition_->arguments);
        for (const auto& service : definition_->machServices) {
            const std::string busName = busNameFor(service);
            const std::string contents = "[D-BUS Service]\nName=" + busName + "\nExec=" + exec + "\n";
            if (!writeFile(activationFilePath(busName), contents, error)) return false;
        }
        const std::string entryPath = autostartFilePath(definition_->label);
        if (definition_->runAtLoad) {
            if (!writeFile(entryPath, autostartEntry(displayName_, exec), error)) return false;
        } else {
            bool found = false;
            if (!removeFile(entryPath, &found, error)) return false;
        }
        if (bus_ != nullptr && !definition_->machServices.empty()) {
            // What the bus starts on demand gets this session's display, and
            // the bus knows the new activation files at once.
            shareDisplayWithBus(bus_);
            callBus(bus_, "ReloadConfig", nullptr);
        }
        if (definition_->runAtLoad) startNow();
        return true;
    }

    bool unregister(Error* error) override {
        if (!definition_) return fail(error, notFoundText());
        bool found = false;
        for (const auto& service : definition_->machServices) {
            if (!removeFile(activationFilePath(busNameFor(service)), &found, error)) return false;
        }
        if (!removeFile(autostartFilePath(definition_->label), &found, error)) return false;
        if (bus_ != nullptr) callBus(bus_, "ReloadConfig", nullptr);
        if (!found) return fail(error, "“" + displayName_ + "” is not registered.");
        return true;
    }

    void unregister(UnregisterCompletion completion) override {
        unregisterOn(systemQueue_, shared_from_this(), std::move(completion));
    }

private:
    std::string notFoundText() const {
        return "No launch agent “" + plistName_ + "” in the application bundle.";
    }

    std::map<std::string, std::string> launchEnvironment() const {
        auto environment = definition_->environment;
        environment[newInstanceVariable] = "1";
        return environment;
    }

    // An agent starts only at login (its autostart entry) or on demand (an
    // activation file).
    bool startsAtAll() const { return definition_->runAtLoad || !definition_->machServices.empty(); }

    // As launchd loads a job that runs at load: the bus starts it through
    // its activation file; an agent without a service is started directly.
    void startNow() {
        if (bus_ == nullptr || definition_->machServices.empty()) {
            startDetached(definition_->arguments, launchEnvironment());
            return;
        }
        g_dbus_connection_call(
            bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "StartServiceByName",
            g_variant_new("(su)", busNameFor(definition_->machServices.front()).c_str(), 0u), nullptr,
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }

    GDBusConnection* bus_;
    DispatchQueue& systemQueue_;
    std::string plistName_;
    std::string displayName_;
    std::optional<AgentDefinition> definition_;
};

class MainAppService : public AppService, public std::enable_shared_from_this<MainAppService> {
public:
    MainAppService(DispatchQueue& systemQueue, BundleInfo bundle)
        : systemQueue_(systemQueue), bundle_(std::move(bundle)) {}

    std::int64_t status() override {
        if (!bundle_.identifier || !bundle_.executablePath) return appServiceNotFound;
        const auto entry = readKeyFile(path());
        if (!entry) return appServiceNotRegistered;
        return isTurnedOff(entry.get()) ? appServiceRequiresApproval : appServiceEnabled;
    }

    bool registerService(Error* error) override {
        if (status() == appServiceNotFound) return fail(error, "The application has no bundle identifier.");
        return writeFile(path(), autostartEntry(bundle_.name, commandLine({}, {*bundle_.executablePath})),
                         error);
    }

    bool unregister(Error* error) override {
        if (status() == appServiceNotFound) return fail(error, "The application has no bundle identifier.");
        bool found = false;
        if (!removeFile(path(), &found, error)) return false;
        return found || fail(error, "“" + bundle_.name + "” is not a login item.");
    }

    void unregister(UnregisterCompletion completion) override {
        unregisterOn(systemQueue_, shared_from_this(), std::move(completion));
    }

private:
    std::string path() const { return autostartFilePath(*bundle_.identifier); }

    DispatchQueue& systemQueue_;
    BundleInfo bundle_;
};

}  // namespace

std::optional<AgentDefinition> readAgentDefinition(const std::string& bundlePath,
                                                   const std::string& plistName) {
    const auto plist = PropertyList::read(bundlePath + "/Contents/Library/LaunchAgents/" + plistName);
    if (!plist) return std::nullopt;
    const auto root = plist->root();
    AgentDefinition definition;
    definition.label = plist->string("Label").value_or("");
    std::optional<std::vector<std::string>> programArguments;
    if (auto value = root["ProgramArguments"]) programArguments = value->stringArray();
    if (auto program = plist->string("BundleProgram")) {
        definition.arguments.push_back(bundlePath + "/" + *program);
    } else if (auto absolute = plist->string("Program")) {
        definition.arguments.push_back(*absolute);
    }
    if (programArguments && !programArguments->empty()) {
        // ProgramArguments is the whole argument vector; with a program
        // named apart, its first entry is only the name shown.
        if (definition.arguments.empty()) definition.arguments.push_back(programArguments->front());
        definition.arguments.insert(definition.arguments.end(), programArguments->begin() + 1,
                                    programArguments->end());
    }
    if (auto environment = root["EnvironmentVariables"])
        definition.environment = environment->stringDictionary();
    if (auto services = root["MachServices"]) definition.machServices = services->keys();
    if (auto runAtLoad = root["RunAtLoad"]) definition.runAtLoad = runAtLoad->boolean().value_or(false);
    if (definition.label.empty() || definition.arguments.empty()) return std::nullopt;
    return definition;
}

std::string activationFilePath(const std::string& busName) {
    return xdgDirectory("XDG_DATA_HOME", ".local/share") + "/dbus-1/services/" + busName + ".service";
}

std::string autostartFilePath(const std::string& name) {
    return xdgDirectory("XDG_CONFIG_HOME", ".config") + "/autostart/" + name + ".desktop";
}

std::string commandLine(const std::map<std::string, std::string>& environment,
                        const std::vector<std::string>& arguments) {
    std::string line;
    if (!environment.empty()) {
        line = "/usr/bin/env";
        for (const auto& [name, value] : environment) line += " " + quoted(name + "=" + value);
    }
    for (const auto& argument : arguments) line += (line.empty() ? "" : " ") + quoted(argument);
    return line;
}

LinuxServiceManagement::LinuxServiceManagement(GDBusConnection* bus, DispatchQueue& systemQueue,
                                               const BundleInfo& mainBundle)
    : bus_(bus), systemQueue_(systemQueue), mainBundle_(mainBundle) {
    std::error_code ignored;
    for (const auto& entry :
         fs::directory_iterator(mainBundle_.path + "/Contents/Library/LaunchAgents", ignored)) {
        const std::string name = entry.path().filename().string();
        if (auto definition = readAgentDefinition(mainBundle_.path, name))
            agentsAtStart_.emplace(name, *definition);
    }
}

std::shared_ptr<AppService> LinuxServiceManagement::agent(const std::string& plistName) {
    auto definition = readAgentDefinition(mainBundle_.path, plistName);
    if (!definition) {
        if (auto known = agentsAtStart_.find(plistName); known != agentsAtStart_.end())
            definition = known->second;
    }
    return std::make_shared<AgentService>(bus_, systemQueue_, plistName, mainBundle_.name,
                                          std::move(definition));
}

std::shared_ptr<AppService> LinuxServiceManagement::mainApp() {
    return std::make_shared<MainAppService>(systemQueue_, mainBundle_);
}

void LinuxServiceManagement::openSystemSettingsLoginItems() {
    const std::vector<std::vector<std::string>> tools = {
        {"gnome-session-properties"}, {"gnome-tweaks"},        {"xfce4-session-settings"},
        {"mate-session-properties"},  {"lxqt-config-session"}, {"systemsettings", "kcm_autostart"},
    };
    for (const auto& tool : tools) {
        GCharPtr found(g_find_program_in_path(tool.front().c_str()));
        if (!found) continue;
        std::vector<std::string> arguments = tool;
        arguments.front() = found.get();
        startDetached(arguments, {});
        return;
    }
    const std::string folder = fs::path(autostartFilePath("x")).parent_path().string();
    g_mkdir_with_parents(folder.c_str(), 0700);
    GCharPtr uri(g_filename_to_uri(folder.c_str(), nullptr, nullptr));
    if (!uri) return;
    ErrorSlot ignored;
    g_app_info_launch_default_for_uri(uri.get(), nullptr, ignored.out());
}

}  // namespace platform::linux_platform
