#pragma once

#include <optional>
#include <string>

#include "platform/Bundle.h"

// Application bundles in the macOS layout: X.app/Contents/Info.plist,
// X.app/Contents/MacOS/<executable>, X.app/Contents/Resources/.
namespace platform::linux_platform {

struct BundleInfo {
    std::string path;
    std::optional<std::string> identifier;
    // The full path of Contents/MacOS/<CFBundleExecutable>.
    std::optional<std::string> executablePath;
    // What the user calls it: CFBundleDisplayName, CFBundleName or the
    // folder's name without ".app".
    std::string name;
};

// The bundle that holds an executable in its Contents/MacOS, if it has an
// Info.plist; none for an executable outside a bundle.
std::optional<BundleInfo> bundleOfExecutable(const std::string& executablePath);
// None when the folder has no readable Contents/Info.plist.
std::optional<BundleInfo> readBundle(const std::string& bundlePath);

// The bundle this process was started from, fixed at start. Outside a
// bundle it is the executable's folder, with no identifier.
class LinuxBundle : public Bundle {
public:
    explicit LinuxBundle(const std::string& launchedExecutable);

    std::string bundlePath() const override { return path_; }
    std::optional<std::string> executablePath() const override { return executable_; }
    std::optional<std::string> bundleIdentifier() const override { return identifier_; }

    std::string resourcesPath() const;
    const std::string& displayName() const { return name_; }
    bool isApplicationBundle() const { return isBundle_; }

private:
    std::string path_;
    std::optional<std::string> executable_;
    std::optional<std::string> identifier_;
    std::string name_;
    bool isBundle_ = false;
};

}  // namespace platform::linux_platform
