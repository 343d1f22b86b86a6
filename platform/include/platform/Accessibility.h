#pragma once

namespace platform {

// The permission to post keyboard events into the user's session.
class Accessibility {
public:
    virtual ~Accessibility() = default;
    virtual bool isProcessTrusted() = 0;
    // Lets the system ask the user; returns without waiting for the answer.
    virtual bool requestPostEventAccess() = 0;

    static Accessibility& shared();
};

}  // namespace platform
