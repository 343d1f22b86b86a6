#include "Bundles.h"

#include <filesystem>

#include "PropertyList.h"

namespace platform::linux_platform {

namespace fs = std::filesystem;

std::optional<BundleInfo> readBundle(const std::string& bundlePath) {
    const auto info = PropertyList::read(bundlePath + "/Contents/Info.plist");
    if (!info) return std::nullopt;
    BundleInfo bundle;
    bundle.path = bundlePath;
    bundle.identifier = info->string("CFBundleIdentifier");
    if (auto executable = info->string("CFBundleExecutable"); executable && !executable->empty()) {
        bundle.executablePath = bundlePath + "/Contents/MacOS/" + *executable;
    }
    if (auto name = info->string("CFBundleDisplayName"); name && !name->empty()) {
        bundle.name = *name;
    } else if (auto shortName = info->string("CFBundleName"); shortName && !shortName->empty()) {
        bundle.name = *shortName;
    } else {
        bundle.name = fs::path(bundlePath).stem().string();
    }
    return bundle;
}

std::optional<BundleInfo> bundleOfExecutable(const std::string& executablePath) {
    const fs::path macOS = fs::path(executablePath).parent_path();
    const fs::path contents = macOS.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents") return std::nullopt;
    return readBundle(contents.parent_path().string());
}

LinuxBundle::LinuxBundle(const std::string& launchedExecutable) {
    if (auto bundle = bundleOfExecutable(launchedExecutable)) {
        isBundle_ = true;
        path_ = bundle->path;
        identifier_ = bundle->identifier;
        executable_ = bundle->executablePath ? bundle->executablePath : launchedExecutable;
        name_ = bundle->name;
    } else {
        path_ = fs::path(launchedExecutable).parent_path().string();
        executable_ = launchedExecutable;
        name_ = fs::path(launchedExecutable).filename().string();
    }
}

std::string LinuxBundle::resourcesPath() const { return isBundle_ ? path_ + "/Contents/Resources" : path_; }

}  // namespace platform::linux_platform
