#include "MacSystem.h"

#import <Foundation/Foundation.h>

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cmath>

#include "MacStrings.h"

namespace platform::macos {

namespace {

void fill(Error* error, NSError* failure) {
    if (error != nullptr) error->localizedDescription = toString(failure.localizedDescription);
}

// NSDate keeps seconds as a double; whole nanoseconds of it compare exactly,
// which is all that telling two versions of a file apart needs.
Date toDate(NSDate* date) {
    const double seconds = date.timeIntervalSince1970;
    return Date(std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(seconds * 1e9))));
}

}  // namespace

std::map<std::string, std::string> MacProcessInfo::environment() {
    std::map<std::string, std::string> environment;
    NSDictionary<NSString*, NSString*>* variables = NSProcessInfo.processInfo.environment;
    for (NSString* name in variables) environment[toString(name)] = toString(variables[name]);
    return environment;
}

ProcessIdentifier MacProcessInfo::processIdentifier() { return NSProcessInfo.processInfo.processIdentifier; }

void MacProcessInfo::disableAutomaticTermination(const std::string& reason) {
    [NSProcessInfo.processInfo disableAutomaticTermination:toNSString(reason)];
}

bool MacProcessInfo::isOperatingSystemAtLeast(OperatingSystemVersion version) {
    const NSOperatingSystemVersion wanted{version.majorVersion, version.minorVersion, version.patchVersion};
    return [NSProcessInfo.processInfo isOperatingSystemAtLeastVersion:wanted];
}

std::optional<FileAttributes> MacFileManager::attributesOfItem(const std::string& path, Error* error) {
    NSError* failure = nil;
    NSDictionary<NSFileAttributeKey, id>* attributes =
        [NSFileManager.defaultManager attributesOfItemAtPath:toNSString(path) error:&failure];
    if (attributes == nil) {
        fill(error, failure);
        return std::nullopt;
    }
    FileAttributes result;
    id number = attributes[NSFileSystemFileNumber];
    if ([number isKindOfClass:[NSNumber class]]) result.fileSystemFileNumber = [number unsignedLongLongValue];
    id modified = attributes[NSFileModificationDate];
    if ([modified isKindOfClass:[NSDate class]]) result.modificationDate = toDate(modified);
    return result;
}

bool MacFileManager::fileExists(const std::string& path) {
    return [NSFileManager.defaultManager fileExistsAtPath:toNSString(path)];
}

bool MacFileManager::removeItem(const std::string& path, Error* error) {
    NSError* failure = nil;
    if ([NSFileManager.defaultManager removeItemAtURL:[NSURL fileURLWithPath:toNSString(path)]
                                                error:&failure]) {
        return true;
    }
    fill(error, failure);
    return false;
}

std::string MacFileManager::homeDirectoryForCurrentUser() {
    return toString(NSFileManager.defaultManager.homeDirectoryForCurrentUser.path);
}

std::string MacFileManager::resolvingSymlinksInPath(const std::string& path) {
    return toString([NSURL fileURLWithPath:toNSString(path)].URLByResolvingSymlinksInPath.path);
}

void MacDistributedNotificationCenter::postNotificationName(const std::string& name,
                                                            bool deliverImmediately) {
    [NSDistributedNotificationCenter.defaultCenter postNotificationName:toNSString(name)
                                                                 object:nil
                                                               userInfo:nil
                                                     deliverImmediately:deliverImmediately];
}

Date MacClock::now() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

std::chrono::nanoseconds MacClock::monotonicNow() {
    return std::chrono::nanoseconds(clock_gettime_nsec_np(CLOCK_MONOTONIC));
}

int MacPosix::kill(ProcessIdentifier pid, int signal) { return ::kill(pid, signal); }

void MacPosix::usleep(unsigned microseconds) { ::usleep(microseconds); }

}  // namespace platform::macos
