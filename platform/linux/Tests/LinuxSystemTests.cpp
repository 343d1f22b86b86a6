#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>

#include "Bundles.h"
#include "LinuxLog.h"
#include "LinuxSystem.h"
#include "LinuxTestSupport.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using linux_test::writeText;

TEST(Files, DescribeRemoveAndFindItemsAsTheyAreWithLinksToo) {
    const std::string folder = linux_test::freshFolder();
    LinuxFileManager files;
    Error error;
    const std::string tree = folder + "/Quillory Helper.app";
    const std::string file = tree + "/Contents/MacOS/Quillory Helper";
    writeText(file, "v1");
    const timespec times[2] = {{1700000000, 5}, {1700000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    fs::create_symlink(file, folder + "/link");
    fs::create_symlink(tree, folder + "/to-bundle");
    fs::create_symlink(folder + "/nowhere", folder + "/dangling");

    const auto attributes = files.attributesOfItem(file, &error);
    ASSERT_TRUE(attributes);
    struct stat status {};
    ::stat(file.c_str(), &status);
    EXPECT_EQ(attributes->fileSystemFileNumber, status.st_ino);
    EXPECT_EQ(attributes->modificationDate,
              Date(std::chrono::seconds(1700000000) + std::chrono::nanoseconds(123456789)));
    // A link is described as itself, not as its target.
    const auto ofLink = files.attributesOfItem(folder + "/link", &error);
    ASSERT_TRUE(ofLink);
    EXPECT_NE(ofLink->fileSystemFileNumber, attributes->fileSystemFileNumber);
    EXPECT_FALSE(files.attributesOfItem(folder + "/missing", &error));
    EXPECT_NE(error.localizedDescription.find("“missing”"), std::string::npos) << error.localizedDescription;

    // Existence follows links; a dangling link is an item that can be removed.
    EXPECT_TRUE(files.fileExists(folder + "/to-bundle"));
    EXPECT_FALSE(files.fileExists(folder + "/dangling"));
    EXPECT_TRUE(files.removeItem(tree, &error)) << error.localizedDescription;
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_FALSE(files.fileExists(folder + "/to-bundle"));
    EXPECT_TRUE(files.removeItem(folder + "/dangling", &error));
    EXPECT_FALSE(files.removeItem(tree, &error));
    EXPECT_NE(error.localizedDescription.find("“Quillory Helper.app” couldn’t be removed"), std::string::npos)
        << error.localizedDescription;
}

TEST(Files, PathsResolveLinksAndHomeComesFromHomeElseThePasswordDatabase) {
    const std::string folder = linux_test::freshFolder();
    LinuxFileManager files;
    fs::create_directories(folder + "/real/Applications");
    fs::create_symlink(folder + "/real", folder + "/alias");
    const std::string real = fs::canonical(folder).string() + "/real";
    EXPECT_EQ(files.resolvingSymlinksInPath(folder + "/alias/Applications/"), real + "/Applications");
    // The part that does not exist is kept as written.
    EXPECT_EQ(files.resolvingSymlinksInPath(folder + "/alias/Applications/New.app"),
              real + "/Applications/New.app");

    const std::string savedHome = g_getenv("HOME");
    g_setenv("HOME", "/somewhere/else", TRUE);
    EXPECT_EQ(files.homeDirectoryForCurrentUser(), "/somewhere/else");
    g_unsetenv("HOME");
    EXPECT_EQ(files.homeDirectoryForCurrentUser(), ::getpwuid(::getuid())->pw_dir);
    g_setenv("HOME", savedHome.c_str(), TRUE);
}

TEST(ProcessInformation, ReadsTheEnvironmentAnewAndHasNoMacOSVersion) {
    LinuxProcessInfo process;
    g_setenv("KVX_AUTOPASTE_AGENT", "1", TRUE);
    EXPECT_EQ(process.environment()["KVX_AUTOPASTE_AGENT"], "1");
    g_unsetenv("KVX_AUTOPASTE_AGENT");
    EXPECT_EQ(process.environment().count("KVX_AUTOPASTE_AGENT"), 0u);
    EXPECT_EQ(process.processIdentifier(), ::getpid());
    EXPECT_FALSE(process.isOperatingSystemAtLeast({0, 0, 0}));
}

// What a pipe holds, read once.
std::string readFrom(int fd) {
    char buffer[512];
    const ssize_t length = ::read(fd, buffer, sizeof buffer);
    return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
}

TEST(Log, SendsEachMessageToTheJournalElseWritesOneReadableLineThatNoReaderCanEnd) {
    const std::string socketPath = linux_test::freshFolder() + "/journal";
    const int journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(journal, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socketPath.c_str());
    ASSERT_EQ(::bind(journal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_NONBLOCK), 0);
    LinuxLog log(LinuxLog::Destination::journal, pipeEnds[1], "Quillory Helper", socketPath);

    log.write(LogMessage{LogLevel::error,
                         "me.ombrel.quillory.autopastehelper",
                         "paste",
                         "Could not post: %s\n%{public}s",
                         {std::string("secret"), std::string("second line")}});
    char buffer[1024];
    const ssize_t length = ::recv(journal, buffer, sizeof buffer, MSG_DONTWAIT);
    ASSERT_GT(length, 0);
    // A value with a newline goes with its length, 64 bits little-endian.
    const std::string message = "Could not post: <private>\nsecond line";
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)),
              "MESSAGE\n" + std::string(1, static_cast<char>(message.size())) + std::string(7, '\0') +
                  message +
                  "\nPRIORITY=3\nSYSLOG_IDENTIFIER=Quillory Helper\n"
                  "LOG_SUBSYSTEM=me.ombrel.quillory.autopastehelper\nLOG_CATEGORY=paste\n");
    EXPECT_EQ(readFrom(pipeEnds[0]), "");

    // The journal gone, the line goes to the stream, as it does without one.
    ::close(journal);
    const LogMessage stillRunning{LogLevel::error,
                                  "me.ombrel.quillory.autopastehelper",
                                  "main",
                                  "Agent still running after %f s: %s (%{public}s)",
                                  {5.0, std::string("[501]"), std::string("x")}};
    log.write(stillRunning);
    LinuxLog(LinuxLog::Destination::stream, pipeEnds[1]).write(stillRunning);
    const std::string lines = readFrom(pipeEnds[0]);
    EXPECT_TRUE(std::regex_match(
        lines, std::regex(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}[+-]\d{4} error )"
                          R"(me\.ombrel\.quillory\.autopastehelper:main )"
                          R"(Agent still running after 5\.000000 s: <private> \(x\)\n){2})")))
        << lines;

    ::close(pipeEnds[0]);
    // Without care, SIGPIPE would end this test here.
    log.write(
        LogMessage{LogLevel::info, "me.ombrel.quillory.autopastehelper", "main", "Nobody reads this", {}});
    ::close(pipeEnds[1]);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(Bundle, IsTheAppFolderAroundTheExecutableElseTheExecutablesFolder) {
    const std::string folder = linux_test::freshFolder();
    const std::string app = folder + "/Quillory Helper.app";
    linux_test::writeBundle(app, "me.ombrel.test", "Quillory Helper", "");
    LinuxBundle bundle(app + "/Contents/MacOS/Quillory Helper");
    EXPECT_EQ(bundle.bundlePath(), app);
    EXPECT_EQ(bundle.bundleIdentifier(), "me.ombrel.test");
    EXPECT_EQ(bundle.executablePath(), app + "/Contents/MacOS/Quillory Helper");
    EXPECT_EQ(bundle.resourcesPath(), app + "/Contents/Resources");
    EXPECT_EQ(bundle.displayName(), "Test Helper");

    LinuxBundle loose(folder + "/tool");
    EXPECT_EQ(loose.bundlePath(), folder);
    EXPECT_EQ(loose.bundleIdentifier(), std::nullopt);
    EXPECT_EQ(loose.executablePath(), folder + "/tool");
    // A MacOS folder without an Info.plist is no bundle.
    LinuxBundle broken(folder + "/Broken.app/Contents/MacOS/tool");
    EXPECT_EQ(broken.bundleIdentifier(), std::nullopt);
    EXPECT_EQ(broken.bundlePath(), folder + "/Broken.app/Contents/MacOS");
}

}  // namespace
}  // namespace platform::linux_platform
