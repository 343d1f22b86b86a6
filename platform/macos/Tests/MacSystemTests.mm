// The macOS services that need no GUI session and no permission: the log's
// text, localized lookup in a built .lproj, files, and the main queue.

#include <gtest/gtest.h>
#include <sys/stat.h>

#import <AppKit/AppKit.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "MacBundle.h"
#include "MacDispatch.h"
#include "MacLog.h"
#include "MacStrings.h"
#include "MacSystem.h"

using namespace platform;
using platform::macos::toNSString;
using platform::macos::toString;

namespace {

std::string temporaryFolder() {
    NSString* folder = [NSTemporaryDirectory() stringByAppendingPathComponent:NSUUID.UUID.UUIDString];
    [NSFileManager.defaultManager createDirectoryAtPath:folder
                            withIntermediateDirectories:YES
                                             attributes:nil
                                                  error:nil];
    return toString(folder.stringByResolvingSymlinksInPath);
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Runs the main run loop in the default mode until `done` or ten seconds.
void runMainLoopUntil(const std::function<bool()>& done) {
    NSDate* limit = [NSDate dateWithTimeIntervalSinceNow:10];
    while (!done() && limit.timeIntervalSinceNow > 0) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
}

}  // namespace

TEST(MacLog, PrivateArgumentsNeverReachTheLogInClear) {
    const LogMessage message{LogLevel::error,
                             "me.ombrel.quillory.autopastehelper",
                             "main",
                             "Could not remove %{public}s: %s (pid %d)",
                             {std::string("/Users/a/x"), std::string("secret"), std::int64_t{42}}};
    EXPECT_EQ(macos::MacLog::text(message), "Could not remove /Users/a/x: <private> (pid 42)");
    macos::MacLog().write(message);
}

// The German table the build made from the catalogues, in a bundle of its
// own whose only language it is.
TEST(MacLocalization, LooksUpTheBuiltGermanTableAndFallsBackToEnglish) {
    const std::string bundle = temporaryFolder() + "/Texts.bundle";
    std::filesystem::create_directories(bundle + "/Contents/Resources");
    std::filesystem::copy(QUILLORY_TEST_RESOURCES "/de.lproj", bundle + "/Contents/Resources/de.lproj",
                          std::filesystem::copy_options::recursive);
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
              "<key>CFBundleDevelopmentRegion</key><string>de</string>"
              "<key>CFBundleIdentifier</key><string>me.ombrel.quillory.tests.texts</string></dict></plist>");

    macos::MacLocalization localization([NSBundle bundleWithPath:toNSString(bundle)]);
    EXPECT_EQ(localization.localizedString("Quit"), "Beenden");
    EXPECT_EQ(localization.localizedString("Open Login Items"), "Anmeldeobjekte öffnen");
    EXPECT_EQ(localization.localizedString("Not translated"), "Not translated");
}

TEST(MacFileManager, AttributesTellAReplacedFileApartAndRemovalTakesFoldersWhole) {
    macos::MacFileManager files;
    const std::string folder = temporaryFolder();
    const std::string executable = folder + "/Quillory Helper";
    writeFile(executable, "one");

    Error error;
    const auto before = files.attributesOfItem(executable, &error);
    ASSERT_TRUE(before.has_value()) << error.localizedDescription;
    struct stat status {};
    ASSERT_EQ(::stat(executable.c_str(), &status), 0);
    EXPECT_EQ(before->fileSystemFileNumber, std::uint64_t(status.st_ino));
    ASSERT_TRUE(before->modificationDate.has_value());
    const auto statTime = std::chrono::seconds(status.st_mtimespec.tv_sec) +
                          std::chrono::nanoseconds(status.st_mtimespec.tv_nsec);
    EXPECT_LT(std::chrono::abs(before->modificationDate->time_since_epoch() - statTime),
              std::chrono::microseconds(1));

    // Installed over: a new file under the same name.
    writeFile(folder + "/new", "two");
    std::filesystem::rename(folder + "/new", executable);
    EXPECT_NE(files.attributesOfItem(executable, nullptr)->fileSystemFileNumber,
              before->fileSystemFileNumber);

    std::filesystem::create_directories(folder + "/Library/LaunchAgents/inner");
    EXPECT_TRUE(files.removeItem(folder + "/Library", &error)) << error.localizedDescription;
    EXPECT_FALSE(files.fileExists(folder + "/Library"));
    EXPECT_FALSE(files.removeItem(folder + "/Library", &error));
    EXPECT_FALSE(error.localizedDescription.empty());
    EXPECT_FALSE(files.attributesOfItem(folder + "/missing", nullptr).has_value());

    std::filesystem::create_directory_symlink(folder, folder + "/link");
    EXPECT_EQ(files.resolvingSymlinksInPath(folder + "/link/"), folder);
    files.removeItem(folder, nullptr);
}

TEST(MacMainQueue, WorkRunsInOrderAndDeadlinesWhenDue) {
    macos::MacMainQueue main;
    std::vector<std::string> ran;
    main.asyncAfter(0.05, [&] { ran.push_back("late"); });
    main.asyncAfter(0.01, [&] { ran.push_back("soon"); });
    main.async([&] { ran.push_back("now"); });
    runMainLoopUntil([&] { return ran.size() == 3; });
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "soon", "late"}));
}

// A modal alert opened by main-queue work spins a nested loop in the modal
// panel mode. With the main queue mapped onto GCD's this test fails: GCD's
// main queue is serial and runs nothing else until the first block returns.
TEST(MacMainQueue, WorkRunsInsideAModalLoopThatAnItemSpins) {
    // As the queue itself does, so that only the queue is under test.
    CFRunLoopAddCommonMode(CFRunLoopGetMain(), (__bridge CFStringRef)NSModalPanelRunLoopMode);
    macos::MacMainQueue main;
    std::atomic<bool> secondRan{false}, deadlineRan{false};
    bool bothRanInsideTheModalLoop = false, firstEnded = false;
    // Queued back to back from outside the main queue.
    std::thread([&] {
        main.async([&] {
            main.asyncAfter(0.02, [&] { deadlineRan = true; });
            NSDate* limit = [NSDate dateWithTimeIntervalSinceNow:5];
            while (!(secondRan && deadlineRan) && limit.timeIntervalSinceNow > 0) {
                CFRunLoopRunInMode((__bridge CFStringRef)NSModalPanelRunLoopMode, 0.01, true);
            }
            bothRanInsideTheModalLoop = secondRan && deadlineRan;
            firstEnded = true;
        });
        main.async([&] { secondRan = true; });
    }).join();
    runMainLoopUntil([&] { return firstEnded; });
    EXPECT_TRUE(bothRanInsideTheModalLoop);
}
