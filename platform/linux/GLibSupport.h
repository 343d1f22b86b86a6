#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

// Ownership of GLib objects in C++ scopes.
namespace platform::linux_platform {

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GVariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GKeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using GKeyFilePtr = std::unique_ptr<GKeyFile, GKeyFileFree>;

// Fills a GError out-parameter and takes ownership of what it receives.
class ErrorSlot {
public:
    GError** out() { return &error_; }
    ~ErrorSlot() {
        if (error_ != nullptr) g_error_free(error_);
    }
    bool failed() const { return error_ != nullptr; }
    std::string message() const { return error_ != nullptr ? error_->message : ""; }
    const GError* get() const { return error_; }

private:
    GError* error_ = nullptr;
};

}  // namespace platform::linux_platform
