#include "main.h"

namespace quillory {

int helperMain() {
    process::application = &platform::Application::shared();
    process::delegate = std::make_shared<AutoPasteHelper>();
    // The application does not own its delegate: process::delegate does.
    process::application->setDelegate(process::delegate.get());
    // No Dock icon and no menu bar, in both modes; alerts can still come to the front.
    process::application->setActivationPolicy(platform::ActivationPolicy::accessory);
    process::application->run();
    return 0;
}

}  // namespace quillory
