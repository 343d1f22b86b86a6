#include "LinuxSystem.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

extern char** environ;

namespace platform::linux_platform {

namespace fs = std::filesystem;

namespace {

std::string quotedName(const std::string& path) { return "“" + fs::path(path).filename().string() + "”"; }

Error errorFor(const std::string& what, int number) { return Error{what + ": " + std::strerror(number)}; }

}  // namespace

std::optional<FileAttributes> LinuxFileManager::attributesOfItem(const std::string& path, Error* error) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (error != nullptr)
            *error = errorFor("The attributes of " + quotedName(path) + " couldn’t be read", errno);
        return std::nullopt;
    }
    FileAttributes attributes;
    attributes.fileSystemFileNumber = static_cast<std::uint64_t>(status.st_ino);
    attributes.modificationDate =
        Date(std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec));
    return attributes;
}

bool LinuxFileManager::fileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

bool LinuxFileManager::removeItem(const std::string& path, Error* error) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (error != nullptr) *error = errorFor(quotedName(path) + " couldn’t be removed", errno);
        return false;
    }
    std::error_code failure;
    fs::remove_all(path, failure);
    if (failure) {
        if (error != nullptr) *error = errorFor(quotedName(path) + " couldn’t be removed", failure.value());
        return false;
    }
    return true;
}

std::string LinuxFileManager::homeDirectoryForCurrentUser() { return homeDirectory(); }

std::string LinuxFileManager::resolvingSymlinksInPath(const std::string& path) {
    std::error_code failure;
    // Resolves the part that exists; the rest is kept as written.
    std::string resolved = fs::weakly_canonical(path, failure).string();
    if (failure) resolved = fs::path(path).lexically_normal().string();
    while (resolved.size() > 1 && resolved.back() == '/') resolved.pop_back();
    return resolved;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::map<std::string, std::string> currentEnvironment() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals == std::string::npos) continue;
        variables.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return variables;
}

std::map<std::string, std::string> LinuxProcessInfo::environment() { return currentEnvironment(); }

ProcessIdentifier LinuxProcessInfo::processIdentifier() { return ::getpid(); }

void LinuxProcessInfo::disableAutomaticTermination(const std::string&) {}

bool LinuxProcessInfo::isOperatingSystemAtLeast(OperatingSystemVersion) { return false; }

Date LinuxClock::now() {
    timespec time{};
    ::clock_gettime(CLOCK_REALTIME, &time);
    return Date(std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec));
}

std::chrono::nanoseconds LinuxClock::monotonicNow() {
    timespec time{};
    ::clock_gettime(CLOCK_BOOTTIME, &time);
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
}

int LinuxPosix::kill(ProcessIdentifier pid, int signal) { return ::kill(pid, signal); }

void LinuxPosix::usleep(unsigned microseconds) { ::usleep(microseconds); }

}  // namespace platform::linux_platform
